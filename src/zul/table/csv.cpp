// zul/table/csv.cpp -- the mapped file, the RFC 4180 row tokenizer and the
// byte-level number check behind the input tables.
//
// The tokenizer is the hot loop of every data pass, so a plain field is
// found with one table lookup per byte and no copy: fields point into the
// mapping. Only quoted fields with doubled quotes (or stray text after the
// closing quote) are copied, into the row's arena.
#include "zul/table/csv.hpp"

#include <fast_float/fast_float.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "zul/table/table.hpp"

namespace zul::table::detail {

namespace {

std::string systemError(int err) { return std::strerror(err); }

// The line ends in [p, end), counted as the tokenizer ends rows: LF, CRLF
// and a lone CR (a file saved with CR line ends has them inside quoted
// fields too).
int64_t lineEnds(const char* p, const char* end) {
  int64_t n = std::count(p, end, '\n');
  const char* r = p;
  while ((r = static_cast<const char*>(std::memchr(r, '\r', static_cast<size_t>(end - r))))) {
    n += r + 1 == end || r[1] != '\n';
    ++r;
  }
  return n;
}

}  // namespace

// ---------------------------------------------------------------------
// MappedFile
// ---------------------------------------------------------------------

void MappedFile::open(const std::string& path, const std::string& tableName) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT)
      throw TableError("Table " + tableName + " does not exist (no file " + path + ").");
    throw TableError("Table " + tableName + " cannot be opened (" + path + ": " +
                     systemError(err) + ").");
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw TableError("Table " + tableName + " cannot be read: " + path + " is not a regular file.");
  }
  size_t size = static_cast<size_t>(st.st_size);
  size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  // One spare page of zeros after the file, whatever its size.
  size_t reserve = (size / page + 1) * page + page;
  void* base = ::mmap(nullptr, reserve, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) {
    int err = errno;
    ::close(fd);
    throw TableError("Table " + tableName + " cannot be mapped (" + systemError(err) + ").");
  }
  if (size > 0) {
    void* m = ::mmap(base, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0);
    if (m == MAP_FAILED) {
      int err = errno;
      ::munmap(base, reserve);
      ::close(fd);
      throw TableError("Table " + tableName + " cannot be mapped (" + systemError(err) + ").");
    }
    ::madvise(base, size, MADV_SEQUENTIAL);
  }
  ::close(fd);
  base_ = static_cast<char*>(base);
  reserved_ = reserve;
  data_ = base_;
  size_ = size;
}

MappedFile::~MappedFile() {
  if (base_) ::munmap(base_, reserved_);
}

// ---------------------------------------------------------------------
// Rows
// ---------------------------------------------------------------------

bool readQuoted(const char*& q, const char* end, Row& row, int64_t& line, Field& f) {
  f.quoted = true;
  ++q;
  const char* start = q;
  const char* segment = q;
  bool inArena = false;
  size_t offset = 0;
  for (;;) {
    const char* qq = static_cast<const char*>(std::memchr(q, '"', static_cast<size_t>(end - q)));
    if (!qq) return false;
    line += lineEnds(q, qq);
    if (qq + 1 < end && qq[1] == '"') {  // a doubled quote is one quote
      if (!inArena) {
        inArena = true;
        offset = row.arena.size();
      }
      row.arena.append(segment, static_cast<size_t>(qq + 1 - segment));
      segment = q = qq + 2;
      continue;
    }
    if (inArena) row.arena.append(segment, static_cast<size_t>(qq - segment));
    f.n = static_cast<size_t>(qq - start);
    q = qq + 1;
    break;
  }
  if (!isStop(*q) || (*q == '\0' && q < end)) {
    // Text after the closing quote is kept as part of the field.
    if (!inArena) {
      inArena = true;
      offset = row.arena.size();
      row.arena.append(start, f.n);
    }
    while (q < end && (!isStop(*q) || *q == '\0')) row.arena.push_back(*q++);
  }
  if (inArena) {
    f.p = nullptr;
    f.arenaOffset = offset;
    f.n = row.arena.size() - offset;
  } else {
    f.p = start;
  }
  return true;
}

// ---------------------------------------------------------------------
// Numbers
// ---------------------------------------------------------------------

namespace {

enum : uint8_t { cDigit, cSign, cDot, cExp, cBlank, cOther, nClasses };

constexpr std::array<uint8_t, 256> makeClasses() {
  std::array<uint8_t, 256> t{};
  for (auto& c : t) c = cOther;
  for (int c = '0'; c <= '9'; ++c) t[static_cast<size_t>(c)] = cDigit;
  t['+'] = t['-'] = cSign;
  t['.'] = cDot;
  t['e'] = t['E'] = cExp;
  t[' '] = t['\t'] = cBlank;
  return t;
}
constexpr std::array<uint8_t, 256> kClass = makeClasses();

// States: 0 leading blanks, 1 sign, 2 integer digits, 3 point after
// digits, 4 point without digits, 5 fraction digits, 6 exponent mark,
// 7 exponent sign, 8 exponent digits, 9 trailing blanks, 10 reject.
constexpr uint8_t R = 10;
constexpr uint8_t kNext[11][nClasses] = {
    //        digit sign dot exp blank other
    /* 0 */ {2, 1, 4, R, 0, R},
    /* 1 */ {2, R, 4, R, R, R},
    /* 2 */ {2, R, 3, 6, 9, R},
    /* 3 */ {5, R, R, 6, 9, R},
    /* 4 */ {5, R, R, R, R, R},
    /* 5 */ {5, R, R, 6, 9, R},
    /* 6 */ {8, 7, R, R, R, R},
    /* 7 */ {8, R, R, R, R, R},
    /* 8 */ {8, R, R, R, 9, R},
    /* 9 */ {R, R, R, R, 9, R},
    /* R */ {R, R, R, R, R, R},
};
constexpr bool kAccept[11] = {false, false, true, true, false, true, false, false, true, true, false};

}  // namespace

NumberClass classifyNumber(const char* p, size_t n, bool quoted) {
  if (n == 0 || (n == 1 && !quoted && p[0] == '.')) return NumberClass::Missing;
  uint8_t s = 0;
  for (size_t i = 0; i < n; ++i) s = kNext[s][kClass[static_cast<unsigned char>(p[i])]];
  if (s == 0) return NumberClass::Missing;  // blanks only
  return kAccept[s] ? NumberClass::Number : NumberClass::Other;
}

bool convertNumber(const char* p, size_t n, double& out) {
  const char* e = p + n;
  auto r = fast_float::from_chars(p, e, out);
  if (r.ec == std::errc() && r.ptr == e && std::isfinite(out)) return true;
  // Slow path: surrounding blanks and a leading plus, which the fast
  // parser does not take.
  while (p < e && (*p == ' ' || *p == '\t')) ++p;
  while (e > p && (e[-1] == ' ' || e[-1] == '\t')) --e;
  if (p < e && *p == '+') {
    ++p;
    if (p == e || *p == '-' || *p == '+') return false;
  }
  if (p == e) return false;
  r = fast_float::from_chars(p, e, out);
  return r.ec == std::errc() && r.ptr == e && std::isfinite(out);
}

std::string upper(std::string_view s) {
  std::string u(s);
  for (auto& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

}  // namespace zul::table::detail
