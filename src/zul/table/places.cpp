#include "zul/table/places.hpp"

#include <sys/stat.h>

#include <algorithm>

#include "zul/table/db_connection.hpp"
#include "zul/table/temporary_files.hpp"

namespace zul::table {

namespace fs = std::filesystem;

bool Place::sameAs(const Place& other) const {
  for (const std::string& k : keys)
    if (std::find(other.keys.begin(), other.keys.end(), k) != other.keys.end()) return true;
  return false;
}

std::vector<std::string> fileKeys(const fs::path& path) {
  std::vector<std::string> keys;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return keys;
    keys.push_back("inode:" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino));
  }
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) absolute = path;
  // A dangling link leads to the file that writing through it creates.
  const fs::path linked = linkedFile(absolute);
  fs::path resolved = fs::weakly_canonical(linked.empty() ? absolute : linked, ec);
  keys.push_back("path:" + (ec ? absolute : resolved).lexically_normal().string());
  return keys;
}

Place filePlace(std::string description, const fs::path& path) {
  return Place{std::move(description), fileKeys(path)};
}

namespace {

// The path key of a table file in a library with its file name in lower
// case: two spellings of one member name meet there.
std::string memberKey(const std::string& pathKey) {
  std::string key = "member:" + pathKey.substr(pathKey.find(':') + 1);
  for (size_t i = key.rfind('/') + 1; i < key.size(); ++i)
    if (key[i] >= 'A' && key[i] <= 'Z') key[i] = static_cast<char>(key[i] - 'A' + 'a');
  return key;
}

}  // namespace

std::vector<Place> tablePlaces(const std::string& what, const TableRef& ref) {
  if (ref.database) {
    // A table is found case-blind, so two spellings are one place.
    std::string name = ref.dbTable;
    for (char& c : name)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return {Place{what, {"db:" + ref.database->identity() + ":" + name}}};
  }
  std::vector<Place> places{filePlace(what, ref.file),
                            filePlace("metadata file of the " + what, ref.metadataFile())};
  // Member names are case-blind, files are not: OUT=x and OUTSTAT=X of one
  // step are one table, though neither file exists yet to tell them apart.
  if (!ref.library.empty())
    for (Place& place : places)
      if (!place.keys.empty()) place.keys.push_back(memberKey(place.keys.back()));
  return places;
}

namespace {

std::string overwrites(const Place& output, const Place& input) {
  return "The " + output.description + " is the " + input.description +
         ", which would be overwritten; give the output another name.";
}

}  // namespace

std::string outputClash(const Place& output, const std::vector<Place>& inputs,
                        const std::vector<Place>& outputs) {
  for (const Place& in : inputs)
    if (output.sameAs(in)) return overwrites(output, in);
  for (const Place& out : outputs)
    if (output.sameAs(out))
      return "The " + output.description + " is also the " + out.description +
             "; give each output its own name.";
  return {};
}

std::string inputClash(const Place& input, const std::vector<Place>& outputs) {
  for (const Place& out : outputs)
    if (input.sameAs(out)) return overwrites(out, input);
  return {};
}

}  // namespace zul::table
