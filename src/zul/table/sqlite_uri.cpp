// zul/table/sqlite_uri.cpp -- the file and options of an SQLite file URI.
#include "zul/table/sqlite_uri.hpp"

#include <algorithm>
#include <vector>

namespace zul::table {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%2F" as '/', as SQLite reads a URI; a '%' without two hex digits is kept.
std::string decoded(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 &&
        hexDigit(s[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

}  // namespace

std::optional<SqliteUri> parseSqliteUri(const std::string& uri) {
  if (uri.rfind("file:", 0) != 0) return std::nullopt;
  std::string_view rest = std::string_view(uri).substr(5);
  rest = rest.substr(0, rest.find('#'));
  const size_t q = rest.find('?');
  std::string_view path = rest.substr(0, q);
  if (path.rfind("//", 0) == 0) {
    const size_t slash = path.find('/', 2);
    const std::string_view authority = path.substr(2, slash == path.npos ? path.npos : slash - 2);
    if (!authority.empty() && authority != "localhost") return std::nullopt;
    path = slash == path.npos ? std::string_view() : path.substr(slash);
  }
  SqliteUri u{decoded(path), {}};
  if (u.file.empty() || u.file == ":memory:") return std::nullopt;
  std::vector<std::string> options;
  std::string_view query = q == rest.npos ? std::string_view() : rest.substr(q + 1);
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == query.npos ? std::string_view() : query.substr(amp + 1);
    const size_t eq = pair.find('=');
    const std::string key = decoded(pair.substr(0, eq));
    const std::string value = eq == pair.npos ? std::string() : decoded(pair.substr(eq + 1));
    if (key.empty()) continue;
    if (key == "mode" && value == "memory") return std::nullopt;
    if (key == "mode" && (value == "rw" || value == "rwc")) continue;
    options.push_back(key + "=" + value);
  }
  std::sort(options.begin(), options.end());
  for (const std::string& o : options) u.options += (u.options.empty() ? "" : "&") + o;
  return u;
}

}  // namespace zul::table
