// zul/table/stat_file.cpp -- streaming an SPSS or Stata file into CSV
// through libreadstat's callbacks.
#include "zul/table/stat_file.hpp"

#include <readstat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cctype>
#include <cmath>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "zul/table/dta_rows.hpp"
#include "zul/table/sav_rows.hpp"

namespace zul::table::detail {

namespace fs = std::filesystem;

namespace {

constexpr size_t kFlushBytes = 1 << 16;

// SPSS counts dates and times in seconds from 14 October 1582, the first
// day of the Gregorian calendar; zul counts days (dates) and seconds
// (datetimes) from 1 January 1960, 141428 days later.
constexpr double kSpssSecondsTo1960 = 141428.0 * 86400.0;

// How a stored number becomes zul's: (value - offset) / divisor.
struct DateRule {
  Temporal temporal = Temporal::None;
  double offset = 0;
  double divisor = 1;
};

std::string leadingLetters(const char* format, size_t from) {
  std::string s;
  for (const char* p = format + from; *p && std::isalpha(static_cast<unsigned char>(*p)); ++p)
    s += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  return s;
}

// SPSS date formats (DATE11, ADATE10, DATETIME20, TIME8, ...); WKDAY and
// MONTH hold plain numbers (1 to 7, 1 to 12) and stay so.
DateRule spssRule(const char* format) {
  const std::string f = leadingLetters(format, 0);
  for (const char* d : {"DATE", "ADATE", "EDATE", "SDATE", "JDATE", "QYR", "MOYR", "WKYR"})
    if (f == d) return {Temporal::Date, kSpssSecondsTo1960, 86400.0};
  if (f == "DATETIME" || f == "YMDHMS") return {Temporal::Timestamp, kSpssSecondsTo1960, 1.0};
  if (f == "TIME" || f == "MTIME" || f == "DTIME") return {Temporal::Time, 0.0, 1.0};
  return {};
}

// Stata counts %td dates in days and %tc datetimes in milliseconds from 1
// January 1960. %tC (with leap seconds) and the weekly, monthly, quarterly,
// half-yearly and yearly counts are not dates of zul's and stay numbers.
// A '-' after the '%' only aligns the value left (%-td, %-tcDD_Mon_CCYY).
DateRule stataRule(const char* format) {
  std::string f(format);
  if (f.rfind("%-", 0) == 0) f.erase(1, 1);
  if (f.rfind("%td", 0) == 0 || f.rfind("%d", 0) == 0) return {Temporal::Date, 0.0, 1.0};
  if (f.rfind("%tc", 0) == 0) return {Temporal::Timestamp, 0.0, 1000.0};
  return {};
}

struct Converter {
  bool spss = true;
  std::vector<DateRule> rules;
  std::string tableName;
  int fd = -1;
  std::string buffer;
  StatFile result;
  int nVars = 0;
  int64_t rows = 0;
  std::string frequencyWeight;
  bool headerWritten = false;
  std::string writeError;
  std::string damage;  // what the file lacks that every such file has

  void flush() {
    size_t done = 0;
    while (done < buffer.size() && writeError.empty()) {
      ssize_t n = ::write(fd, buffer.data() + done, buffer.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) writeError = std::strerror(errno);
      else done += static_cast<size_t>(n);
    }
    buffer.clear();
  }

  // Quotes a field that holds a separator, a quote or a line break, and
  // the text "." (which a plain field would make a missing value).
  void putText(const char* s) {
    if (std::strpbrk(s, ",\"\r\n") == nullptr && std::strcmp(s, ".") != 0) {
      buffer += s;
      return;
    }
    buffer += '"';
    for (const char* p = s; *p; ++p) {
      if (*p == '"') buffer += '"';
      buffer += *p;
    }
    buffer += '"';
  }

  // The shortest text that reads back as v: of a float, the decimal the
  // file's own program shows (-2.63, not -2.630000114440918), as a CSV
  // export of the file holds it, and as zul reads a single precision
  // column of a database.
  // A NaN or an infinity is missing, as in a float column of a database:
  // the field stays empty.
  template <typename Number>
  void putNumber(Number v) {
    if (!std::isfinite(v)) return;
    char text[32];
    auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    if (ec == std::errc()) buffer.append(text, end);
  }

  void writeHeader() {
    for (size_t c = 0; c < result.columns.size(); ++c) {
      if (c) buffer += ',';
      putText(result.columns[c].name.c_str());
    }
    buffer += '\n';
    headerWritten = true;
  }
};

int onMetadata(readstat_metadata_t* metadata, void* ctx) {
  auto& cv = *static_cast<Converter*>(ctx);
  if (const char* label = readstat_get_file_label(metadata)) cv.result.label = label;
  cv.nVars = readstat_get_var_count(metadata);
  return READSTAT_HANDLER_OK;
}

int onVariable(int, readstat_variable_t* variable, const char*, void* ctx) {
  auto& cv = *static_cast<Converter*>(ctx);
  // A damaged header can leave a variable without a name (null).
  const char* name = readstat_variable_get_name(variable);
  if (!name || !*name) {
    cv.damage = "variable " + std::to_string(cv.result.columns.size() + 1) + " has no name";
    return READSTAT_HANDLER_ABORT;
  }
  Column col;
  col.name = name;
  if (const char* label = readstat_variable_get_label(variable)) col.label = label;
  if (readstat_variable_get_type_class(variable) == READSTAT_TYPE_CLASS_STRING) {
    col.type = ColumnType::Character;
    // 0 for a Stata strL, whose width the type pass then measures.
    col.width = static_cast<int>(readstat_variable_get_storage_width(variable));
  } else {
    col.type = ColumnType::Numeric;
    col.width = 8;
  }
  const char* format = readstat_variable_get_format(variable);
  DateRule rule;
  if (format && !col.isCharacter()) rule = cv.spss ? spssRule(format) : stataRule(format);
  col.temporal = rule.temporal;
  cv.rules.push_back(rule);
  cv.result.columns.push_back(std::move(col));
  return READSTAT_HANDLER_OK;
}

// An SPSS file saved under WEIGHT BY names its frequency weight; the
// analysis counts each case once unless the step says otherwise.
int onFrequencyWeight(readstat_variable_t* variable, void* ctx) {
  auto& cv = *static_cast<Converter*>(ctx);
  if (const char* name = readstat_variable_get_name(variable)) cv.frequencyWeight = name;
  return READSTAT_HANDLER_OK;
}

int onValue(int, readstat_variable_t* variable, readstat_value_t value, void* ctx) {
  auto& cv = *static_cast<Converter*>(ctx);
  if (!cv.headerWritten) cv.writeHeader();
  const int index = readstat_variable_get_index(variable);
  if (index < 0 || static_cast<size_t>(index) >= cv.rules.size()) {
    cv.damage = "a value of variable " + std::to_string(index + 1) + ", which it does not declare";
    return READSTAT_HANDLER_ABORT;
  }
  if (index > 0) cv.buffer += ',';
  // System-missing, tagged (Stata .a to .z) and user-defined missing
  // values (SPSS) are all missing to the analysis.
  if (!readstat_value_is_missing(value, variable)) {
    if (readstat_value_type_class(value) == READSTAT_TYPE_CLASS_STRING) {
      if (const char* s = readstat_string_value(value)) cv.putText(s);
    } else {
      const DateRule& rule = cv.rules[static_cast<size_t>(index)];
      if (readstat_value_type(value) == READSTAT_TYPE_FLOAT && rule.temporal == Temporal::None)
        cv.putNumber(readstat_float_value(value));
      else
        cv.putNumber((readstat_double_value(value) - rule.offset) / rule.divisor);
    }
  }
  if (index == static_cast<int>(cv.result.columns.size()) - 1) {
    cv.buffer += '\n';
    ++cv.rows;
    if (cv.buffer.size() >= kFlushBytes) cv.flush();
  }
  return cv.writeError.empty() ? READSTAT_HANDLER_OK : READSTAT_HANDLER_ABORT;
}

// Whether the first bytes of file are those of its kind, as far as the
// file goes: SPSS "$FL2" ("$FL3" compressed), Stata "<stata_dta>" (117 on)
// or a release byte from 102 to 116 and a byte order of 1 or 2. The
// library reports another file as cut short when it reads past its end.
bool startsLikeKind(const char* kind, const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  char head[11] = {};
  in.read(head, sizeof head);
  const auto n = static_cast<size_t>(in.gcount());
  auto starts = [&](std::string_view magic) {
    return std::memcmp(head, magic.data(), std::min(n, magic.size())) == 0;
  };
  if (std::strcmp(kind, "SPSS") == 0) return starts("$FL2") || starts("$FL3");
  const auto release = static_cast<unsigned char>(head[0]);
  return starts("<stata_dta>") || n == 0 ||
         (release >= 102 && release <= 116 && (n < 2 || head[1] == 1 || head[1] == 2));
}

// What went wrong, in words that point at the file rather than the library.
std::string describeError(readstat_error_t err, const char* kind, const fs::path& file) {
  std::error_code ec;
  if (err != READSTAT_ERROR_OPEN && fs::file_size(file, ec) == 0 && !ec)
    return "is empty: the file " + file.string() + " has 0 bytes, where " + withArticle(kind) +
           " data file has its header";
  switch (err) {
    case READSTAT_ERROR_OPEN:
      return "cannot be opened: " + std::string(std::strerror(errno ? errno : ENOENT));
    case READSTAT_ERROR_READ:
      if (!startsLikeKind(kind, file)) return "is not " + withArticle(kind) + " data file";
      [[fallthrough]];
    case READSTAT_ERROR_SEEK:
    case READSTAT_ERROR_ROW_COUNT_MISMATCH:
      return "ends before its data do (the file " + file.string() + " is truncated or damaged)";
    case READSTAT_ERROR_PARSE:
      return "is not " + withArticle(kind) + " data file, or is damaged";
    default:
      return "cannot be read as " + withArticle(kind) + " data file (" +
             readstat_error_message(err) + ")";
  }
}

}  // namespace

const char* statFileKind(const fs::path& file) {
  std::string ext = file.extension().string();
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (ext == ".sav" || ext == ".zsav") return "SPSS";
  if (ext == ".dta") return "Stata";
  return nullptr;
}

std::string withArticle(const char* kind) {
  return (std::strcmp(kind, "SPSS") == 0 ? "an " : "a ") + std::string(kind);
}

// The cases an SPSS file's data hold against its header's count: a file
// cut short or damaged fails rather than read in part; a header without a
// count (-1) lets the data tell, and the library a limit to read up to.
SavRows checkSavRows(const fs::path& file, const std::string& tableName,
                     readstat_parser_t* parser) {
  SavRows n = countSavRows(file);
  const std::string where = "Table " + tableName + ": the SPSS data file " + file.string();
  // The library refuses such a file as invalid, which would send the user
  // looking for damage.
  if (n.elements == 0) throw TableError("Table " + tableName + " has no variables.");
  if (!n.damage.empty())
    throw TableError(where + " ends before its data do (" + n.damage + " after " +
                     std::to_string(n.held) + " whole cases): the file is truncated or "
                     "damaged. Copy or save it again.");
  if (n.claimed >= 0 && n.held >= 0 && n.held != n.claimed)
    throw TableError(where + " is " + (n.held < n.claimed ? "truncated or " : "") +
                     "damaged: its header gives " + std::to_string(n.claimed) +
                     " cases, but its data hold " + std::to_string(n.held) +
                     ". Copy or save it again.");
  if (n.claimed < 0) readstat_set_row_limit(parser, n.held > 0 ? n.held : INT_MAX);
  return n;
}

// What the user should know of how the file was read: a header without a
// case count, a frequency weight the file carries.
void addNotes(Converter& cv, const SavRows& counted, const fs::path& file,
              const std::string& tableName) {
  if (counted.claimed < 0 && cv.spss)
    cv.result.notes.push_back("The header of table " + tableName + " does not give its number "
                              "of cases; the " + std::to_string(cv.rows) + " cases up to the "
                              "end of the file " + file.string() + " were read.");
  if (!cv.frequencyWeight.empty())
    cv.result.notes.push_back("Table " + tableName + ": the SPSS data file " + file.string() +
                              " is weighted by " + cv.frequencyWeight + "; the analysis counts "
                              "each case once unless a FREQ " + cv.frequencyWeight +
                              "; statement says otherwise.");
}

StatFile convertStatFile(const fs::path& file, const std::string& tableName, int fd) {
  const char* kind = statFileKind(file);
  Converter cv;
  cv.spss = std::strcmp(kind, "SPSS") == 0;
  cv.tableName = tableName;
  cv.fd = fd;
  readstat_parser_t* parser = readstat_parser_init();
  readstat_set_metadata_handler(parser, onMetadata);
  readstat_set_variable_handler(parser, onVariable);
  readstat_set_value_handler(parser, onValue);
  readstat_set_fweight_handler(parser, onFrequencyWeight);
  SavRows counted;
  try {
    if (cv.spss) counted = checkSavRows(file, tableName, parser);
    else if (const std::string excess = oldStataExcess(file); !excess.empty())
      throw TableError("Table " + tableName + ": the Stata data file " + file.string() +
                       " is damaged: " + excess + ". Copy or save it again.");
  } catch (...) {
    readstat_parser_free(parser);
    throw;
  }
  errno = 0;
  const std::string path = file.string();
  readstat_error_t err = std::strcmp(kind, "SPSS") == 0
                             ? readstat_parse_sav(parser, path.c_str(), &cv)
                             : readstat_parse_dta(parser, path.c_str(), &cv);
  readstat_parser_free(parser);
  if (!cv.writeError.empty())
    throw TableError("Table " + tableName + " cannot be read: writing its rows to a temporary "
                     "file failed: " + cv.writeError + ".");
  if (!cv.damage.empty())
    throw TableError("Table " + tableName + " is not " + withArticle(kind) +
                     " data file, or is damaged: " + cv.damage + ".");
  if (err != READSTAT_OK) throw TableError("Table " + tableName + " " + describeError(err, kind, file) + ".");
  if (counted.claimed < 0 && counted.held >= 0 && cv.rows != counted.held)
    throw TableError("Table " + tableName + ": " + std::to_string(cv.rows) + " of the " +
                     std::to_string(counted.held) + " cases of the SPSS data file " +
                     file.string() + " could be read: the file is damaged.");
  addNotes(cv, counted, file, tableName);
  if (!cv.headerWritten) cv.writeHeader();  // a file without rows
  cv.flush();
  if (!cv.writeError.empty())
    throw TableError("Table " + tableName + " cannot be read: writing its rows to a temporary "
                     "file failed: " + cv.writeError + ".");
  if (cv.result.columns.empty())
    throw TableError("Table " + tableName + " has no variables.");
  return std::move(cv.result);
}

}  // namespace zul::table::detail
