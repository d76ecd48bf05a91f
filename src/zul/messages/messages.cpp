// The host's message file: reading the embedded messages.txt, formatting
// messages with their arguments, and the message services of the service
// vector and the toolkit catalog.
#include "zul/messages/messages.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace zul::messages {

namespace detail {
extern const std::string_view kMessageFile;  // message_file.cpp, generated
}

namespace {

// ---- the file ----

struct Table {
  std::vector<Entry> entries;
  std::vector<std::string> problems;
  std::unordered_map<uint64_t, size_t> index;
};

uint64_t keyOf(int group, uint32_t number) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(group)) << 32) | number;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// Splits off the first blank-separated word of s.
std::string_view word(std::string_view& s) {
  s = trim(s);
  size_t end = s.find_first_of(" \t");
  std::string_view w = s.substr(0, end);
  s = end == std::string_view::npos ? std::string_view() : s.substr(end);
  return w;
}

bool parseNumber(std::string_view w, uint32_t& out) {
  int base = 10;
  if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
    w.remove_prefix(2);
    base = 16;
  }
  auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), out, base);
  return ec == std::errc() && p == w.data() + w.size();
}

// Reads one line; false (with why) when it is not a message line.
bool parseLine(std::string_view line, Entry& e, std::string& why) {
  std::string_view rest = line;
  std::string_view g = word(rest);
  if (g == "catalog") {
    e.group = kCatalogGroup;
  } else {
    uint32_t v = 0;
    if (!parseNumber(g, v) || v > 999) {
      why = "group is not a number from 0 to 999 or \"catalog\"";
      return false;
    }
    e.group = static_cast<int>(v);
  }
  if (!parseNumber(word(rest), e.number)) {
    why = "message number is not a number";
    return false;
  }
  std::string_view s = word(rest);
  if (s == "NOTE") e.severity = Severity::Note;
  else if (s == "WARNING") e.severity = Severity::Warning;
  else if (s == "ERROR") e.severity = Severity::Error;
  else if (s == "-") e.severity = Severity::None;
  else {
    why = "severity is not NOTE, WARNING, ERROR or -";
    return false;
  }
  if (e.group == kCatalogGroup && e.severity != Severity::None) {
    why = "a catalog text takes its severity from its prefix; write -";
    return false;
  }
  rest = trim(rest);
  size_t close = rest.find(')');
  if (rest.empty() || rest.front() != '(' || close == std::string_view::npos) {
    why = "argument list in parentheses is missing";
    return false;
  }
  e.args = trim(rest.substr(1, close - 1));
  e.text = trim(rest.substr(close + 1));
  if (e.text.empty()) {
    why = "text is empty";
    return false;
  }
  return true;
}

const Table& table() {
  static const Table t = [] {
    Table t;
    std::string_view file = detail::kMessageFile;
    int lineNo = 0;
    while (!file.empty()) {
      size_t nl = file.find('\n');
      std::string_view line = file.substr(0, nl);
      file = nl == std::string_view::npos ? std::string_view() : file.substr(nl + 1);
      ++lineNo;
      std::string_view body = trim(line);
      if (body.empty() || body.front() == '#') continue;
      Entry e{};
      e.line = lineNo;
      std::string why;
      if (!parseLine(body, e, why)) {
        t.problems.push_back("line " + std::to_string(lineNo) + ": " + why);
        continue;
      }
      auto [it, fresh] = t.index.emplace(keyOf(e.group, e.number), t.entries.size());
      if (!fresh) {
        t.problems.push_back("line " + std::to_string(lineNo) + ": repeats the number of line " +
                             std::to_string(t.entries[it->second].line));
        continue;
      }
      t.entries.push_back(e);
    }
    return t;
  }();
  return t;
}

// ---- formatting ----

bool isPrefix(std::string_view text) {
  return text.size() >= 3 && text[0] == '%' && text[1] >= '1' && text[1] <= '3' &&
         text[2] == 'z';
}

// Formats text from pos until the end or an unmatched "%]". Sets missing
// when an argument referred to was not given or came out empty.
std::string& byGroupSlot() {
  static std::string group;
  return group;
}

std::function<std::string(const std::string&)>& locatorSlot() {
  static std::function<std::string(const std::string&)> locate;
  return locate;
}

// "%@{NAME}": where the running step wrote the option or statement NAME
// (which may refer to an argument, "%@{%1=}"), as "file:line:column: ";
// nothing outside a step.
void formatLocation(std::string_view text, size_t& pos, const zul_arg* args, int nArgs,
                    std::string& out) {
  size_t close = text.find('}', pos);
  if (close == std::string_view::npos) close = text.size();
  std::string name;
  for (size_t i = pos; i < close; ++i) {
    const int k = text[i] == '%' && i + 1 < close ? text[i + 1] - '1' : -1;
    if (k >= 0 && k < 9) {
      if (k < nArgs && args) name += formatArgument(args[k]);
      ++i;
    } else {
      name += text[i];
    }
  }
  pos = std::min(close + 1, text.size());
  if (!locatorSlot()) return;
  std::string where = locatorSlot()(name);
  if (!where.empty()) out += printableLine(where) + ": ";
}

void formatRun(std::string_view text, size_t& pos, const zul_arg* args, int nArgs,
               bool optional, std::string& out, bool& missing) {
  while (pos < text.size()) {
    char c = text[pos];
    if (c != '%' || pos + 1 >= text.size()) {
      out += c;
      ++pos;
      continue;
    }
    char d = text[pos + 1];
    if (d >= '1' && d <= '9') {
      int k = d - '1';
      pos += 2;
      if (k < nArgs && args) {
        // A value may come from the data (a _TYPE_ cell, a name under
        // VALIDVARNAME=ANY): a line feed in it must not start a new log line.
        std::string v = printableLine(formatArgument(args[k]));
        if (v.empty()) missing = true;
        out += v;
      } else {
        missing = true;
        if (!optional) out += '?';
      }
    } else if (d == '%') {
      out += '%';
      pos += 2;
    } else if (d == 'G') {
      if (!byGroupSlot().empty()) out += " in the BY group " + byGroupSlot();
      pos += 2;
    } else if (d == '@' && pos + 2 < text.size() && text[pos + 2] == '{') {
      pos += 3;
      formatLocation(text, pos, args, nArgs, out);
    } else if (d == '[') {
      pos += 2;
      std::string part;
      bool partMissing = false;
      formatRun(text, pos, args, nArgs, true, part, partMissing);
      if (!partMissing) out += part;
    } else if (d == ']') {
      pos += 2;
      if (optional) return;
      // A stray close outside an optional part prints nothing.
    } else {
      out += c;
      ++pos;
    }
  }
}

// Largest argument number referred to in text; outsideOnly skips optional
// parts.
int highestArgument(std::string_view text, bool outsideOnly) {
  int depth = 0, highest = 0;
  size_t i = isPrefix(text) ? 3 : 0;
  for (; i + 1 < text.size(); ++i) {
    if (text[i] != '%') continue;
    char d = text[i + 1];
    if (d == '[') ++depth;
    else if (d == ']') depth = std::max(0, depth - 1);
    else if (d >= '1' && d <= '9' && (!outsideOnly || depth == 0))
      highest = std::max(highest, d - '0');
    ++i;  // the character after % is consumed either way ("%%1" is "%1" literal)
  }
  return highest;
}

int32_t copyOut(char* buffer, int32_t size, std::string_view s) {
  if (buffer && size > 0) {
    size_t n = std::min(s.size(), static_cast<size_t>(size - 1));
    if (n) std::memcpy(buffer, s.data(), n);  // an empty view may have no data pointer
    buffer[n] = '\0';
  }
  return static_cast<int32_t>(std::min<size_t>(s.size(), std::numeric_limits<int32_t>::max()));
}

// ---- the log ----

// Recursive, so that a writer that itself logs (a failing file reporting
// why) cannot deadlock the host.
std::recursive_mutex& logMutex() {
  static std::recursive_mutex m;
  return m;
}
LogWriter& writerSlot() {
  static LogWriter w;
  return w;
}

}  // namespace

std::span<const Entry> entries() { return table().entries; }
std::span<const std::string> fileProblems() { return table().problems; }

const Entry* find(int group, int number) {
  if (group < 0 || number < 0) return nullptr;
  const Table& t = table();
  auto it = t.index.find(keyOf(group, static_cast<uint32_t>(number)));
  return it == t.index.end() ? nullptr : &t.entries[it->second];
}

const Entry* findCatalog(uint32_t id) {
  const Table& t = table();
  auto it = t.index.find(keyOf(kCatalogGroup, id));
  return it == t.index.end() ? nullptr : &t.entries[it->second];
}

int argumentCount(std::string_view text) { return highestArgument(text, false); }
int requiredArgumentCount(std::string_view text) { return highestArgument(text, true); }

std::string formatArgument(const zul_arg& arg) {
  switch (arg.kind) {
    case ZUL_ARG_INT:
      return std::to_string(arg.v.i);
    case ZUL_ARG_DOUBLE: {
      double x = arg.v.d;
      if (zul_is_missing(x)) return ".";
      char buf[64];
      if (x == std::trunc(x) && std::fabs(x) < 1e15) {
        std::snprintf(buf, sizeof buf, "%.0f", x);
        return x == 0 ? std::string("0") : std::string(buf);  // no "-0"
      }
      std::snprintf(buf, sizeof buf, "%.6g", x);
      // 1.5e-09 -> 1.5E-9: an upper-case E without sign or leading zeros
      // of a positive exponent, as in the listing.
      std::string s(buf);
      size_t e = s.find('e');
      if (e == std::string::npos) return s;
      std::string mant = s.substr(0, e);
      std::string ex = s.substr(e + 1);
      bool neg = !ex.empty() && ex[0] == '-';
      if (!ex.empty() && (ex[0] == '-' || ex[0] == '+')) ex.erase(0, 1);
      ex.erase(0, std::min(ex.find_first_not_of('0'), ex.size() - 1));
      return mant + "E" + (neg ? "-" : "") + ex;
    }
    case ZUL_ARG_TEXT: {
      if (!arg.v.text) return {};
      size_t n = arg.length < 0 ? std::strlen(arg.v.text) : static_cast<size_t>(arg.length);
      std::string_view s(arg.v.text, n);
      // Names and words come blank padded to their field width.
      while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
      return std::string(s);
    }
    default:
      return "?";
  }
}

std::string format(std::string_view text, const zul_arg* args, int nArgs) {
  std::string out;
  out.reserve(text.size() + 32);
  size_t pos = 0;
  if (isPrefix(text)) {
    out.append(text.substr(0, 3));
    pos = 3;
  }
  bool missing = false;
  while (pos < text.size()) formatRun(text, pos, args, nArgs, false, out, missing);
  return out;
}

std::string_view severityWord(int level) {
  switch (level) {
    case ZUL_LOG_NOTE: return "NOTE:";
    case ZUL_LOG_WARNING: return "WARNING:";
    case ZUL_LOG_ERROR: return "ERROR:";
    default: return "";
  }
}

namespace {

// Length of the valid UTF-8 sequence at p (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
size_t utf8Length(const unsigned char* p, size_t n) {
  const unsigned char c = p[0];
  auto cont = [&](size_t i) { return i < n && (p[i] & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if (c == 0xE0 && p[1] < 0xA0) return 0;  // overlong
    if (c == 0xED && p[1] >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (c == 0xF0 && p[1] < 0x90) return 0;
    if (c == 0xF4 && p[1] >= 0x90) return 0;
    return 4;
  }
  return 0;
}

}  // namespace

namespace {

std::string escaped(std::string_view text, bool keepBreaks) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && p[i] >= 0x20 && p[i] < 0x7F) ++i;
  if (i == n) return std::string(text);
  std::string out(text.substr(0, i));
  static const char kHex[] = "0123456789ABCDEF";
  while (i < n) {
    const unsigned char c = p[i];
    size_t len = c < 0x80 ? 1 : utf8Length(p + i, n - i);
    if (len > 1 || (len == 1 && (c >= 0x20 || (keepBreaks && (c == '\t' || c == '\n'))))) {
      out.append(text.substr(i, len));
      i += len;
      continue;
    }
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 15];
    ++i;
  }
  return out;
}

}  // namespace

std::string printable(std::string_view text) { return escaped(text, true); }

std::string printableLine(std::string_view text) { return escaped(text, false); }

std::string counted(long long n, std::string_view noun) {
  return std::to_string(n) + " " + std::string(noun) + (n == 1 ? "" : "s");
}

int levelOf(Severity severity) {
  switch (severity) {
    case Severity::Note: return ZUL_LOG_NOTE;
    case Severity::Warning: return ZUL_LOG_WARNING;
    case Severity::Error: return ZUL_LOG_ERROR;
    default: return ZUL_LOG_PLAIN;
  }
}

void setByGroup(std::string description) {
  std::lock_guard<std::recursive_mutex> lock(logMutex());
  byGroupSlot() = printableLine(description);
}

void setLocator(std::function<std::string(const std::string&)> locate) {
  std::lock_guard<std::recursive_mutex> lock(logMutex());
  locatorSlot() = std::move(locate);
}

void setLogWriter(LogWriter writer) {
  std::lock_guard<std::recursive_mutex> lock(logMutex());
  writerSlot() = std::move(writer);
}

namespace {

// Width of the severity word and blank that a plain line brings itself
// ("ERROR: file:line:column: ..." of the parser), 0 without one.
size_t ownSeverityWidth(std::string_view text) {
  for (int level : {ZUL_LOG_NOTE, ZUL_LOG_WARNING, ZUL_LOG_ERROR}) {
    const std::string_view sw = severityWord(level);
    if (text.size() > sw.size() && text.substr(0, sw.size()) == sw && text[sw.size()] == ' ')
      return sw.size() + 1;
  }
  return 0;
}

}  // namespace

bool writeLog(int level, std::string_view text) {
  std::string_view sw = severityWord(level);
  // Continuation lines are indented under the text, so that no line of a
  // message, whatever its values hold, starts like a message of its own.
  std::string indent(sw.empty() ? ownSeverityWidth(text) : sw.size() + 1, ' ');
  std::lock_guard<std::recursive_mutex> lock(logMutex());
  const LogWriter& w = writerSlot();
  bool ok = true;
  bool first = true;
  do {
    size_t nl = text.find('\n');
    std::string_view part = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    std::string line;
    if (first) {
      if (!sw.empty()) {
        line.append(sw);
        line += ' ';
      }
    } else {
      line = indent;
    }
    line.append(printable(part));
    first = false;
    if (w) {
      ok = w(level, line) && ok;
    } else {
      ok = std::fprintf(stderr, "%s\n", line.c_str()) >= 0 && ok;
    }
  } while (!text.empty());
  return ok;
}

bool writeLogLine(int level, std::string_view text) { return writeLog(level, printableLine(text)); }

// ---- services ----

void message(int32_t group, int32_t number, const zul_arg* args, int32_t nArgs) {
  const Entry* e = find(group, number);
  if (!e) {
    std::string s = "Message " + std::to_string(group) + "/" + std::to_string(number) +
                    " has no text in the message file";
    for (int32_t i = 0; args && i < nArgs; ++i)
      s += (i == 0 ? " (arguments: " : ", ") + printableLine(formatArgument(args[i]));
    s += nArgs > 0 && args ? ")." : ".";
    writeLog(ZUL_LOG_WARNING, s);
    return;
  }
  writeLog(levelOf(e->severity), format(e->text, args, nArgs));
}

int32_t messageText(char* buffer, int32_t size, int32_t group, int32_t number) {
  const Entry* e = find(group, number);
  if (!e) {
    copyOut(buffer, size, {});
    return kNoSuchMessage;
  }
  return copyOut(buffer, size, e->text);
}

int32_t messageFormat(char* buffer, int32_t size, int32_t group, int32_t number,
                      const zul_arg* args, int32_t nArgs) {
  const Entry* e = find(group, number);
  if (!e) {
    copyOut(buffer, size, {});
    return kNoSuchMessage;
  }
  return copyOut(buffer, size, format(e->text, args, nArgs));
}

int32_t catalogFetch(uint32_t id, const zul_arg* args, int32_t nArgs, char* buffer,
                     int32_t size) {
  const Entry* e = findCatalog(id);
  if (!e) {
    copyOut(buffer, size, {});
    return kNoSuchMessage;
  }
  return copyOut(buffer, size, format(e->text, args, nArgs));
}

int32_t catalogLog(int32_t level, const char* text, int32_t length) {
  std::string_view s;
  if (length < -1 || (length > 0 && !text)) {
    writeLog(ZUL_LOG_ERROR, "The catalog log service was given the text length " +
                                std::to_string(length) + "; the request is refused.");
    return kLogWriteFailed;
  }
  if (text) s = std::string_view(text, length == -1 ? std::strlen(text) : static_cast<size_t>(length));
  return writeLog(level, s) ? 0 : kLogWriteFailed;
}

void catalogError(int32_t kind, int32_t status) {
  std::string what = kind == 3   ? "could not fetch a text"
                     : kind == 4 ? "could not write a text to the log"
                                 : "failed (kind " + std::to_string(kind) + ")";
  writeLog(ZUL_LOG_ERROR, "The message catalog " + what + " (status " + std::to_string(status) + ").");
}

std::string text(int group, int number, const zul_arg* args, int nArgs, bool* found) {
  const Entry* e = find(group, number);
  if (found) *found = e != nullptr;
  return e ? format(e->text, args, nArgs) : std::string();
}

}  // namespace zul::messages
