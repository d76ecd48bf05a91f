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

// Bytes that end a plain field: delimiter, line ends, and the NUL that
// follows the mapping.
constexpr std::array<bool, 256> makeStops() {
  std::array<bool, 256> t{};
  t[static_cast<unsigned char>(',')] = true;
  t[static_cast<unsigned char>('\n')] = true;
  t[static_cast<unsigned char>('\r')] = true;
  t[0] = true;
  return t;
}
constexpr std::array<bool, 256> kStop = makeStops();

inline bool isStop(char c) { return kStop[static_cast<unsigned char>(c)]; }

std::string systemError(int err) { return std::strerror(err); }

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

RowStatus readRow(const char* data, size_t size, size_t pos, int64_t line, bool skipBlank,
                  Row& row) {
  const char* end = data + size;
  const char* q = data + pos;
  while (q < end && skipBlank && (*q == '\n' || *q == '\r')) {
    if (*q == '\r' && q + 1 < end && q[1] == '\n') ++q;
    ++q;
    ++line;
  }
  if (q >= end) return RowStatus::End;

  row.begin = static_cast<size_t>(q - data);
  row.line = line;
  row.arena.clear();
  const size_t capacity = row.fields.size();
  Field* fields = row.fields.data();
  size_t nf = 0;

  for (;;) {
    Field f;
    if (*q == '"') {
      // Quoted field: up to the quote that is not doubled.
      f.quoted = true;
      ++q;
      const char* start = q;
      const char* segment = q;
      bool inArena = false;
      for (;;) {
        const char* qq = static_cast<const char*>(std::memchr(q, '"', static_cast<size_t>(end - q)));
        if (!qq) {
          row.nextLine = line;
          return RowStatus::Unterminated;
        }
        line += std::count(q, qq, '\n');
        if (qq + 1 < end && qq[1] == '"') {
          if (!inArena) {
            inArena = true;
            f.arenaOffset = static_cast<uint32_t>(row.arena.size());
          }
          row.arena.append(segment, static_cast<size_t>(qq + 1 - segment));
          segment = q = qq + 2;
          continue;
        }
        if (inArena) row.arena.append(segment, static_cast<size_t>(qq - segment));
        else f.n = static_cast<uint32_t>(qq - start);
        q = qq + 1;
        break;
      }
      if (!isStop(*q) || (*q == '\0' && q < end)) {
        // Text after the closing quote is kept as part of the field.
        if (!inArena) {
          inArena = true;
          f.arenaOffset = static_cast<uint32_t>(row.arena.size());
          row.arena.append(start, f.n);
        }
        while (q < end && (!isStop(*q) || *q == '\0')) row.arena.push_back(*q++);
      }
      if (inArena) {
        f.p = nullptr;
        f.n = static_cast<uint32_t>(row.arena.size() - f.arenaOffset);
      } else {
        f.p = start;
      }
    } else {
      const char* s = q;
      for (;;) {
        while (!isStop(*q)) ++q;
        if (*q == '\0' && q < end) {  // a NUL byte inside the data
          ++q;
          continue;
        }
        break;
      }
      f.p = s;
      f.n = static_cast<uint32_t>(q - s);
    }
    if (nf < capacity) fields[nf] = f;
    ++nf;

    if (q >= end) break;
    char c = *q;
    if (c == ',') {
      ++q;
      continue;
    }
    if (c == '\n') {
      ++q;
      ++line;
      break;
    }
    // '\r', alone or before '\n'
    ++q;
    if (q < end && *q == '\n') ++q;
    ++line;
    break;
  }
  row.nFields = static_cast<int>(nf);
  row.end = static_cast<size_t>(q - data);
  row.nextLine = line;
  return RowStatus::Ok;
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
