// zul/table/libraries.cpp -- librefs, table names and where their files are.
#include <algorithm>
#include <system_error>

#include "zul/table/csv.hpp"
#include "zul/table/db_connection.hpp"
#include "zul/table/sqlite_uri.hpp"
#include "zul/table/table.hpp"
#include "zul/table/temporary_files.hpp"

namespace zul::table {

namespace fs = std::filesystem;

namespace {

bool isNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9'); }

bool isValidName(std::string_view s, size_t maxLength) {
  if (s.empty() || s.size() > maxLength || !isNameStart(s[0])) return false;
  return std::all_of(s.begin(), s.end(), isNameChar);
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string lowerName(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The file a path names, however written (relative, through "..", through
// a link); the path as given when it cannot be resolved.
std::string fileKey(const std::string& path) {
  std::error_code ec;
  const fs::path linked = linkedFile(fs::absolute(path, ec));
  const fs::path p = fs::weakly_canonical(linked.empty() ? fs::absolute(path, ec) : linked, ec);
  return ec ? path : p.string();
}

// What a library's connection is: the database file (a file URI names its
// file too, so that "file:a.db?mode=rw" and "a.db" are one database), and
// the URI options the connection was opened with. An in-memory URI is its
// own text.
struct ConnectionKey {
  std::string key;
  std::string options;
};
ConnectionKey connectionKey(const std::string& kind, const std::string& target) {
  if (kind != "SQLITE") return {kind + " " + target, {}};
  if (target.rfind("file:", 0) != 0) return {kind + " " + fileKey(target), {}};
  const std::optional<SqliteUri> uri = parseSqliteUri(target);
  if (!uri) return {kind + " " + target, {}};
  return {kind + " " + fileKey(uri->file), uri->options};
}

std::string optionsPhrase(const std::string& options) {
  return options.empty() ? std::string("to read and write") : "with " + options;
}

}  // namespace

TableName parseTableName(std::string_view text) {
  std::string_view s = trim(text);
  TableName name;
  if (!s.empty() && (s[0] == '\'' || s[0] == '"')) {
    const char q = s[0];
    size_t i = 1;
    bool closed = false;
    while (i < s.size()) {
      if (s[i] == q) {
        if (i + 1 < s.size() && s[i + 1] == q) {
          name.member.push_back(q);
          i += 2;
          continue;
        }
        closed = true;
        ++i;
        break;
      }
      name.member.push_back(s[i++]);
    }
    if (!closed || !trim(s.substr(i)).empty() || name.member.empty())
      throw TableError("The table name " + std::string(text) + " is not a properly quoted path.");
    name.quoted = true;
    return name;
  }
  size_t dot = s.find('.');
  if (dot != std::string_view::npos) {
    name.library = std::string(s.substr(0, dot));
    name.member = std::string(s.substr(dot + 1));
    if (!isValidName(name.library, 8))
      throw TableError("\"" + name.library +
                       "\" is not a valid library name (1 to 8 letters, digits or _, "
                       "not starting with a digit).");
  } else {
    name.member = std::string(s);
  }
  if (!isValidName(name.member, 32))
    throw TableError("\"" + name.member +
                     "\" is not a valid table name (1 to 32 letters, digits or _, "
                     "not starting with a digit).");
  return name;
}

fs::path TableRef::metadataFile() const {
  fs::path p = file;
  p += "-metadata.json";
  return p;
}

std::string TableRef::displayName() const {
  if (library.empty()) return file.string();
  return detail::upper(library) + "." + detail::upper(member);
}

Libraries::Libraries(fs::path workDirectory) {
  entries_.push_back({"WORK", std::move(workDirectory), nullptr, {}, {}});
}

void Libraries::assign(std::string_view libref, const fs::path& directory) {
  if (!isValidName(libref, 8))
    throw TableError("\"" + std::string(libref) +
                     "\" is not a valid library name (1 to 8 letters, digits or _, "
                     "not starting with a digit).");
  std::error_code ec;
  if (fs::is_regular_file(directory, ec))
    throw TableError("Library " + detail::upper(libref) + " cannot be assigned: " +
                     directory.string() + " is a file, not a directory (a database file is " +
                     "named as in LIBNAME " + std::string(libref) + " SQLITE 'file.db').");
  if (!fs::is_directory(directory, ec))
    throw TableError("Library " + detail::upper(libref) + " cannot be assigned: " +
                     directory.string() + " is not an existing directory; create it first.");
  put(Entry{detail::upper(libref), directory, nullptr, {}, {}});
}

void Libraries::assignDatabase(std::string_view libref, std::string_view engine,
                               const std::string& target) {
  if (!isValidName(libref, 8))
    throw TableError("\"" + std::string(libref) +
                     "\" is not a valid library name (1 to 8 letters, digits or _, "
                     "not starting with a digit).");
  const std::string kind = detail::upper(std::string(engine));
  const std::string key = detail::upper(libref);
  if (key == "WORK") throw TableError("Library WORK is a directory; it cannot be a database.");
  const ConnectionKey ck = connectionKey(kind, target);
  Entry e{key, {}, nullptr, ck.key, ck.options};
  for (const auto& other : entries_)
    if (other.database && other.connectionKey == e.connectionKey && !other.database->lost()) {
      // A library assigned anew with other options gets a connection of its own.
      if (other.libref == key && other.connectionOptions != e.connectionOptions) continue;
      // One connection has one set of options: sharing would make a
      // read-only library writable, or a writable one read-only. Two
      // connections would lock each other out when a step uses both.
      if (other.connectionOptions != e.connectionOptions)
        throw TableError("Library " + key + " cannot be assigned: its SQLite database " + target +
                         " is the file of library " + other.libref + ", opened " +
                         optionsPhrase(other.connectionOptions) + ", and one file has one " +
                         "connection. Give both LIBNAME statements the same URI options " +
                         "(this one is " + optionsPhrase(e.connectionOptions) + ").");
      e.database = other.database;
      put(std::move(e));
      return;
    }
  if (kind == "SQLITE") {
    std::error_code ec;
    const std::optional<SqliteUri> uri = parseSqliteUri(target);
    fs::path dir = fs::path(uri ? uri->file : target).parent_path();
    if (!dir.empty() && !fs::is_directory(dir, ec))
      throw TableError("Library " + key + " cannot be assigned: the directory " + dir.string() +
                       " of the SQLite database does not exist.");
    e.database = db::openSqlite(target, true);
  } else if (kind == "POSTGRES") {
    e.database = db::openPostgres(target);
  } else {
    throw TableError("Library " + key + ": " + std::string(engine) +
                     " is no database zul knows; write SQLITE 'file.db' or POSTGRES "
                     "'connection string'.");
  }
  put(std::move(e));
}

void Libraries::put(Entry e) {
  std::erase_if(failed_, [&](const auto& f) { return f.first == e.libref; });
  for (auto& old : entries_)
    if (old.libref == e.libref) {
      old = std::move(e);
      return;
    }
  entries_.push_back(std::move(e));
}

void Libraries::forget(std::string_view libref, std::string failure) {
  std::string key = detail::upper(libref);
  std::erase_if(entries_, [&](const Entry& e) { return e.libref == key; });
  std::erase_if(failed_, [&](const auto& f) { return f.first == key; });
  failed_.emplace_back(key, std::move(failure));
}

const Libraries::Entry* Libraries::find(std::string_view libref) const {
  for (const auto& e : entries_)
    if (sameName(e.libref, libref)) return &e;
  return nullptr;
}

std::string Libraries::describe(std::string_view libref) const {
  const Entry* e = find(libref);
  if (!e) return {};
  return e->database ? e->database->describe() : e->directory.string();
}

fs::path Libraries::directory(std::string_view libref) const {
  if (const Entry* e = find(libref)) return e->directory;
  for (const auto& [key, why] : failed_)
    if (sameName(key, libref))
      throw TableError("Library " + key + " is not assigned: " + why + ".");
  throw TableError("Library " + detail::upper(libref) +
                   " is not assigned; assign it with a LIBNAME statement or --lib.");
}

TableRef Libraries::resolve(const TableName& name) const {
  TableRef ref;
  if (name.quoted) {
    fs::path p(name.member);
    std::error_code ec;
    if (!p.has_extension() && !fs::exists(p, ec)) p += ".csv";
    ref.file = p;
    ref.member = p.stem().string();
    return ref;
  }
  ref.library = name.library.empty() ? "WORK" : detail::upper(name.library);
  ref.member = name.member;
  const Entry* e = find(ref.library);
  if (e && e->database) {
    // Names are case-blind: the spelling in the catalogue is used when
    // there is one. A new PostgreSQL table gets the lower-case name that
    // an unquoted name would have, so that plain SQL reaches it.
    ref.database = e->database;
    auto found = e->database->findTable(name.member);
    ref.dbTable = found ? *found
                        : e->database->dialect() == db::Dialect::PostgreSQL
                              ? lowerName(name.member)
                              : name.member;
    return ref;
  }
  if (!e && !name.library.empty()) {
    // DATA=survey.csv reads as library SURVEY, member CSV: when that file
    // is there, say how to name it rather than only that SURVEY is unknown.
    const std::string asFile = name.library + "." + name.member;
    std::error_code ec;
    bool failed = false;
    for (const auto& [key, why] : failed_) failed = failed || sameName(key, ref.library);
    if (!failed && fs::is_regular_file(asFile, ec))
      throw TableError("Library " + ref.library + " is not assigned. To read the file " + asFile +
                       ", write its name in quotes: '" + asFile + "'.");
  }
  fs::path dir = directory(ref.library);
  std::string wanted = name.member + ".csv";
  ref.file = dir / wanted;
  std::error_code ec;
  if (fs::exists(ref.file, ec)) return ref;
  // Names are case-blind; files are not. Take the first spelling found.
  std::string found;
  for (fs::directory_iterator it(dir, ec), endIt; !ec && it != endIt; it.increment(ec)) {
    std::string f = it->path().filename().string();
    if (sameName(f, wanted) && (found.empty() || f < found)) found = f;
  }
  if (!found.empty()) ref.file = dir / found;
  return ref;
}

void Libraries::noteCreated(const TableRef& table) { lastCreated_ = table; }

std::optional<TableRef> Libraries::lastCreated() const { return lastCreated_; }

}  // namespace zul::table
