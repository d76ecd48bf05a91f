// zul/table/metadata.cpp -- reading and writing CSV-on-the-Web metadata
// (W3C Recommendation "Metadata Vocabulary for Tabular Data", 2015).
//
// Written: "@context", "url", "zul:csvBytes" and "zul:csvHash" (what the
// CSV file written with it is), "dc:title" (label), "dc:type" (TYPE), and a
// "tableSchema" whose columns carry "name", "titles", "dc:description"
// (label), "datatype": "double" for numeric columns, {"base": "string",
// "maxLength": width} for character ones, and "zul:format" (the display
// format, column_format.hpp) when the column has one. Read: the same,
// leniently (a title may be a string, a list or a language map; any
// numeric XML Schema base counts as numeric).
#include "zul/table/metadata.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "zul/table/column_format.hpp"
#include "zul/table/csv.hpp"

namespace zul::table::detail {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// A CSVW natural-language or plain value: "x", ["x", ...], {"en": "x"},
// {"@value": "x"}.
std::string textOf(const json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_array() && !v.empty()) return textOf(v.front());
  if (v.is_object()) {
    if (v.contains("@value")) return textOf(v["@value"]);
    if (!v.empty()) return textOf(v.begin().value());
  }
  return {};
}

bool isNumericBase(const std::string& base) {
  static const char* const kNumeric[] = {
      "number", "double", "float", "decimal", "integer", "long", "int", "short", "byte",
      "nonNegativeInteger", "positiveInteger", "nonPositiveInteger", "negativeInteger",
      "unsignedLong", "unsignedInt", "unsignedShort", "unsignedByte"};
  std::string b = base;
  if (b.rfind("xsd:", 0) == 0) b = b.substr(4);
  for (const char* n : kNumeric)
    if (b == n) return true;
  return false;
}

}  // namespace

std::optional<Metadata> readMetadata(const std::filesystem::path& file,
                                     const std::string& tableName) {
  std::error_code ec;
  const auto status = std::filesystem::status(file, ec);
  if (ec || !std::filesystem::exists(status)) return std::nullopt;
  const std::string which = "The metadata file of table " + tableName + " (" + file.string() + ")";
  const std::string remedy = "; correct it, or remove it to read the table without it.";
  if (!std::filesystem::is_regular_file(status))
    throw TableError(which + " is not a regular file" + remedy);
  std::ifstream in(file, std::ios::binary);
  if (!in) throw TableError(which + " cannot be read: " + std::strerror(errno) + ".");
  json doc;
  try {
    doc = json::parse(in);
  } catch (const json::parse_error& e) {
    // The parser's own words after its "[json.exception...] parse error" tag.
    const std::string what = e.what();
    const size_t at = what.find("at line");
    throw TableError(which + " is not valid JSON " +
                     (at == std::string::npos ? "at byte " + std::to_string(e.byte) : what.substr(at)) +
                     remedy);
  } catch (const std::exception& e) {
    throw TableError(which + " cannot be read: " + e.what() + ".");
  }
  if (!doc.is_object())
    throw TableError(which + " does not describe a table (it is not a JSON object)" + remedy);
  Metadata m;
  if (doc.contains("zul:csvBytes") && doc["zul:csvBytes"].is_number_unsigned())
    m.csvBytes = doc["zul:csvBytes"].get<uint64_t>();
  if (doc.contains("zul:csvHash")) m.csvHash = textOf(doc["zul:csvHash"]);
  if (doc.contains("dc:type")) m.type = upper(textOf(doc["dc:type"]));
  if (doc.contains("dc:title")) m.label = textOf(doc["dc:title"]);
  if (doc.contains("null")) {
    const json& nulls = doc["null"];
    if (nulls.is_string()) m.nulls.push_back(nulls.get<std::string>());
    for (const json& v : nulls.is_array() ? nulls : json::array())
      if (v.is_string()) m.nulls.push_back(v.get<std::string>());
  }
  if (doc.contains("tableSchema") && doc["tableSchema"].is_object()) {
    const json& schema = doc["tableSchema"];
    if (schema.contains("columns") && schema["columns"].is_array()) {
      m.hasSchema = true;
      for (const json& c : schema["columns"]) {
        if (!c.is_object()) continue;
        if (c.contains("virtual") && c["virtual"].is_boolean() && c["virtual"].get<bool>())
          continue;
        MetaColumn mc;
        std::string title = c.contains("titles") ? textOf(c["titles"]) : std::string();
        mc.column.name = c.contains("name") ? textOf(c["name"]) : title;
        if (c.contains("dc:description")) mc.column.label = textOf(c["dc:description"]);
        else if (!title.empty() && title != mc.column.name) mc.column.label = title;
        if (c.contains("zul:format"))
          mc.column.format = storedFormat(textOf(c["zul:format"]), tableName, mc.column.name);
        if (c.contains("datatype")) {
          const json& dt = c["datatype"];
          std::string base = dt.is_string() ? dt.get<std::string>()
                             : (dt.is_object() && dt.contains("base")) ? textOf(dt["base"])
                                                                       : "string";
          mc.typeKnown = true;
          if (isNumericBase(base)) {
            mc.column.type = ColumnType::Numeric;
            mc.column.width = 8;
          } else {
            mc.column.type = ColumnType::Character;
            if (dt.is_object() && dt.contains("maxLength") && dt["maxLength"].is_number_integer()) {
              long long w = dt["maxLength"].get<long long>();
              if (w >= 1 && w <= 32767) {
                mc.column.width = static_cast<int>(w);
                mc.widthKnown = true;
              }
            }
          }
        }
        m.columns.push_back(std::move(mc));
      }
    }
  }
  return m;
}

std::string asJsonText(const std::string& text) {
  return json::parse(json(text).dump(-1, ' ', false, json::error_handler_t::replace))
      .get<std::string>();
}

std::string metadataText(const std::string& csvName, const std::string& type,
                         const std::string& label, const std::vector<Column>& columns,
                         uint64_t csvBytes, const std::string& csvHash) {
  ordered_json doc;
  doc["@context"] = "http://www.w3.org/ns/csvw";
  doc["url"] = csvName;
  doc["zul:csvBytes"] = csvBytes;
  doc["zul:csvHash"] = csvHash;
  if (!label.empty()) doc["dc:title"] = label;
  if (!type.empty()) doc["dc:type"] = type;
  doc["null"] = json::array({"", "."});
  ordered_json cols = ordered_json::array();
  for (const Column& c : columns) {
    ordered_json col;
    col["name"] = c.name;
    col["titles"] = c.name;
    if (!c.label.empty()) col["dc:description"] = c.label;
    if (c.isCharacter()) col["datatype"] = ordered_json{{"base", "string"}, {"maxLength", c.width}};
    else col["datatype"] = "double";
    if (!c.format.empty()) col["zul:format"] = c.format;
    cols.push_back(std::move(col));
  }
  doc["tableSchema"]["columns"] = std::move(cols);
  // Invalid UTF-8 in a name or label is replaced rather than refused.
  return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

namespace {

constexpr uint64_t kLaneFactor = 0x9E3779B97F4A7C15ull;  // odd: the product is a bijection

std::string hexText(std::string_view kind, uint64_t h) {
  char out[32];
  std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
  return std::string(kind) + ":" + out;
}

uint64_t fnv1a(const char* data, size_t size) {
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 0; i < size; ++i) h = (h ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
  return h;
}

}  // namespace

void CsvHash::block(const unsigned char* p) {
  for (int k = 0; k < 4; ++k) {
    uint64_t w;
    std::memcpy(&w, p + 8 * k, 8);
    const uint64_t s = (lane_[k] ^ w) * kLaneFactor;
    lane_[k] = s ^ (s >> 29);
  }
}

void CsvHash::add(const char* data, size_t size) {
  auto p = reinterpret_cast<const unsigned char*>(data);
  bytes_ += size;
  if (tailSize_ > 0) {
    const size_t take = std::min(size, sizeof tail_ - tailSize_);
    std::memcpy(tail_ + tailSize_, p, take);
    tailSize_ += take;
    p += take;
    size -= take;
    if (tailSize_ < sizeof tail_) return;
    block(tail_);
    tailSize_ = 0;
  }
  for (; size >= sizeof tail_; p += sizeof tail_, size -= sizeof tail_) block(p);
  std::memcpy(tail_, p, size);
  tailSize_ = size;
}

std::string CsvHash::text() const {
  uint64_t h = bytes_;
  for (uint64_t lane : lane_) h = (h ^ lane) * kLaneFactor;
  for (size_t i = 0; i < tailSize_; ++i) h = (h ^ tail_[i]) * 1099511628211ull;
  return hexText("lanes64", h ^ (h >> 31));
}

std::string hashTextOf(std::string_view kind, const char* data, size_t size) {
  if (kind == "fnv1a64") return hexText(kind, fnv1a(data, size));
  CsvHash hash;
  hash.add(data, size);
  return hash.text();
}

void checkPairMatches(const Metadata& meta, const char* data, size_t size, const TableRef& ref) {
  if (meta.writtenByHand()) return;
  bool same = !meta.csvBytes || *meta.csvBytes == size;
  if (same && !meta.csvHash.empty()) {
    const std::string kind = meta.csvHash.substr(0, meta.csvHash.find(':'));
    same = meta.csvHash == hashTextOf(kind, data, size);
  }
  if (same) return;
  throw TableError("Table " + ref.displayName() + ": the file " + ref.file.string() +
                   " is not the one its metadata file " + ref.metadataFile().string() +
                   " was written with (another run, an interrupted save or an edit changed one "
                   "of them), so its column types and TYPE cannot be trusted. Write the table "
                   "again, or delete the metadata file if the CSV file is right.");
}

PairLock::PairLock(const std::filesystem::path& csvFile, bool exclusive) {
  std::filesystem::path dir = csvFile.parent_path();
  if (dir.empty()) dir = ".";
  fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return;
  while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
    if (errno == EINTR) continue;
    ::close(fd_);
    fd_ = -1;
    return;
  }
}

PairLock::~PairLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

namespace {
void (*g_fault)() = nullptr;
}

void setFaultBetweenRenames(void (*fault)()) { g_fault = fault; }
void faultBetweenRenames() {
  if (g_fault) g_fault();
}

}  // namespace zul::table::detail
