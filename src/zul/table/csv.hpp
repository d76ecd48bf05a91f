// zul/table/csv.hpp -- internals of the table layer: the mapped file, the
// RFC 4180 row tokenizer and the byte-level number check. Only the .cpp
// files of this folder (and its tests) include this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace zul::table::detail {

// A file mapped read-only, followed by at least one zero byte: the
// tokenizer stops on NUL as on a delimiter and only then checks for the
// end, which keeps the end test out of the per-byte loop.
class MappedFile {
 public:
  MappedFile() = default;
  // Throws TableError (with what names the file) when it cannot be mapped.
  void open(const std::string& path, const std::string& tableName);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  char* base_ = nullptr;  // the whole reservation
  size_t reserved_ = 0;
  const char* data_ = nullptr;
  size_t size_ = 0;
};

// One field of a row. Plain and quoted fields without doubled quotes point
// into the file; the others were unescaped into the row's arena.
struct Field {
  const char* p = nullptr;  // text, or nullptr when in the arena
  uint32_t n = 0;           // length in bytes
  uint32_t arenaOffset = 0;
  bool quoted = false;
};

struct Row {
  std::vector<Field> fields;  // exactly the column count
  std::string arena;
  size_t begin = 0;      // offset of the row's first byte
  size_t end = 0;        // offset just after its line end
  int64_t line = 0;      // file line of its first byte (from 1)
  int64_t nextLine = 0;  // file line of the byte at end
  int nFields = 0;       // fields found (may differ from the column count)
  bool anyQuoted = false;  // some field was quoted

  std::string_view text(int i) const {
    const Field& f = fields[static_cast<size_t>(i)];
    return f.p ? std::string_view(f.p, f.n) : std::string_view(arena.data() + f.arenaOffset, f.n);
  }
  bool isMissing(int i) const {
    const Field& f = fields[static_cast<size_t>(i)];
    return f.n == 0 || (f.n == 1 && !f.quoted && f.p && f.p[0] == '.');
  }
};

enum class RowStatus {
  Ok,          // a row was read
  End,         // no more rows
  Unterminated // a quoted field runs to the end of the file
};

// Bytes that end a plain field: delimiter, line ends, and the NUL that
// follows the mapping (a NUL before the end is data).
struct StopTable {
  bool stop[256];
  constexpr StopTable() : stop() {
    stop[static_cast<unsigned char>(',')] = true;
    stop[static_cast<unsigned char>('\n')] = true;
    stop[static_cast<unsigned char>('\r')] = true;
    stop[0] = true;
  }
};
inline constexpr StopTable kStops{};
inline bool isStop(char c) { return kStops.stop[static_cast<unsigned char>(c)]; }

// The end of a plain field that starts at q.
inline const char* scanPlain(const char* q, const char* end) {
  for (;;) {
    while (!isStop(*q)) ++q;
    if (*q == '\0' && q < end) {  // a NUL byte inside the data
      ++q;
      continue;
    }
    return q;
  }
}

// Reads a quoted field; q is on the opening quote and ends after the
// field (on its delimiter). false when the quote is never closed.
bool readQuoted(const char*& q, const char* end, Row& row, int64_t& line, Field& f);

// Reads the row that starts at offset pos (on file line `line`) into row.
// Lines holding nothing at all are skipped when skipBlank is set. At most
// row.fields.size() fields are stored; row.nFields counts all of them.
//
// consume(c, q, end, f) is offered each stored field that does not start
// with a quote: it may read the field itself (set f, leave q on the byte
// after it, return true) or leave it to the plain scan (return false,
// q unchanged). The data pass uses it to convert numbers while the bytes
// are read; the type pass to check them.
template <class Consume>
inline RowStatus readRowWith(const char* data, size_t size, size_t pos, int64_t line,
                             bool skipBlank, Row& row, Consume&& consume) {
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
  row.anyQuoted = false;
  if (!row.arena.empty()) row.arena.clear();
  const size_t capacity = row.fields.size();
  Field* fields = row.fields.data();
  size_t nf = 0;
  Field spare;
  for (;;) {
    Field& f = nf < capacity ? fields[nf] : spare;
    if (*q == '"') {
      row.anyQuoted = true;
      if (!readQuoted(q, end, row, line, f)) {
        row.nextLine = line;
        return RowStatus::Unterminated;
      }
    } else if (nf >= capacity || !consume(nf, q, end, f)) {
      const char* s = q;
      q = scanPlain(q, end);
      f.p = s;
      f.n = static_cast<uint32_t>(q - s);
      f.quoted = false;
    }
    ++nf;

    if (q >= end) break;
    char c = *q++;
    if (c == ',') continue;
    if (c == '\r' && q < end && *q == '\n') ++q;
    ++line;  // '\n' or '\r'
    break;
  }
  row.nFields = static_cast<int>(nf);
  row.end = static_cast<size_t>(q - data);
  row.nextLine = line;
  return RowStatus::Ok;
}

inline RowStatus readRow(const char* data, size_t size, size_t pos, int64_t line, bool skipBlank,
                         Row& row) {
  return readRowWith(data, size, pos, line, skipBlank, row,
                     [](size_t, const char*&, const char*, Field&) { return false; });
}

// Exact powers of ten up to 1e22 (each is a double without rounding).
inline constexpr double kPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Eight bytes at a time (SWAR): an unsigned plain decimal of at most 7
// characters, "123", "12.345", "0.5", "7.", followed by a stop byte, is
// recognised with one load and a few mask operations, and its digits are
// combined with three multiplications (the method of fast_float's
// parse_eight_digits_unrolled, Lemire 2021). The load may look past the
// field: the mapping always has a page of zeros after the file.
struct Short8 {
  uint64_t digits;  // the digits as an integer
  int nFrac;        // digits after the point
  int length;       // bytes of the field
};

// kLowBytes[i]: the low i bytes of a word.
inline constexpr uint64_t kLowBytes[9] = {
    0, 0xFFULL, 0xFFFFULL, 0xFFFFFFULL, 0xFFFFFFFFULL, 0xFFFFFFFFFFULL, 0xFFFFFFFFFFFFULL,
    0xFFFFFFFFFFFFFFULL, ~0ULL};

// Where the field ends: the shape common to short8() and shortShape8().
struct Shape8 {
  uint64_t w, x;
  int i1;    // first non-digit
  int stop;  // the stop byte
  bool dot;
};
__attribute__((always_inline)) inline bool shape8(const char* p, const char* end, Shape8& s) {
  std::memcpy(&s.w, p, 8);
  s.x = s.w ^ 0x3030303030303030ULL;  // digits become 0..9
  // Bit 7 of each byte set unless the byte is a digit. A byte above 0x89
  // may carry into its neighbour and only makes a digit look like a
  // non-digit, which sends the field to the slower path.
  const uint64_t nonDigit = ((s.x + 0x7676767676767676ULL) | s.x) & 0x8080808080808080ULL;
  if (nonDigit == 0) return false;
  s.i1 = __builtin_ctzll(nonDigit) >> 3;
  s.dot = static_cast<char>(s.w >> (8 * s.i1)) == '.';
  const uint64_t rest = s.dot ? nonDigit & (nonDigit - 1) : nonDigit;
  if (rest == 0) return false;
  s.stop = __builtin_ctzll(rest) >> 3;
  const char c = static_cast<char>(s.w >> (8 * s.stop));
  return s.stop - s.dot != 0 && isStop(c) && !(c == '\0' && p + s.stop < end);
}

__attribute__((always_inline)) inline bool short8(const char* p, const char* end, Short8& out) {
  Shape8 s;
  if (!shape8(p, end, s)) return false;
  const int n = s.stop - s.dot;  // 1..7 digits
  // Drop the point (bytes above it move down one place), then push the
  // digits to the top so that the bytes below them are leading zeros:
  // the most significant digit sits in the lowest byte.
  const uint64_t low = kLowBytes[s.i1];
  uint64_t v = ((s.x & low) | ((s.x >> 8) & ~low)) << (64 - 8 * n);
  v = (v * 10) + (v >> 8);
  v = (((v & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
       (((v >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
      32;
  out.digits = v;
  out.nFrac = s.dot ? s.stop - s.i1 - 1 : 0;
  out.length = s.stop;
  return true;
}

// The shape test of short8() alone, for the type pass: the length of an
// unsigned plain decimal of at most 7 bytes followed by a stop byte, or -1.
__attribute__((always_inline)) inline int shortShape8(const char* p, const char* end) {
  Shape8 s;
  return shape8(p, end, s) ? s.stop : -1;
}

// The common plain decimal, "-12.345": an optional minus, at most 19
// digits with an optional point, ending at a stop byte. Converted exactly
// by Clinger's fast path (Clinger 1990): an integer below 2^53 divided by
// an exact power of ten is one correctly rounded operation. false, with q
// unchanged, for anything else (the caller falls back to the full parser).
__attribute__((always_inline)) inline bool parseSimpleNumber(const char*& q, const char* end,
                                                            double& out) {
  const char* p = q;
  bool negative = *p == '-';
  p += negative;
  Short8 s8;
  if (short8(p, end, s8)) {
    double v = static_cast<double>(s8.digits);
    if (s8.nFrac) v /= kPow10[s8.nFrac];
    out = negative ? -v : v;
    q = p + s8.length;
    return true;
  }
  uint64_t m = 0;
  const char* d0 = p;
  while (static_cast<unsigned>(*p - '0') < 10) m = m * 10 + static_cast<unsigned>(*p++ - '0');
  size_t nInt = static_cast<size_t>(p - d0);
  size_t nFrac = 0;
  if (*p == '.') {
    const char* f0 = ++p;
    while (static_cast<unsigned>(*p - '0') < 10) m = m * 10 + static_cast<unsigned>(*p++ - '0');
    nFrac = static_cast<size_t>(p - f0);
  }
  size_t nDigits = nInt + nFrac;
  if (nDigits == 0 || nDigits > 19 || !isStop(*p) || (*p == '\0' && p < end) ||
      m > (uint64_t{1} << 53))
    return false;
  double v = static_cast<double>(m);
  if (nFrac) v /= kPow10[nFrac];
  out = negative ? -v : v;
  q = p;
  return true;
}

// The syntax check of the type pass for a plain field: sign, digits,
// point, exponent, up to a stop byte, with at least one mantissa digit.
// true with q after the field when it is such a number; false with q
// unchanged otherwise (blanks, missing values and all else go to
// classifyNumber()).
inline bool scanSimpleNumber(const char*& q, const char* end) {
  const char* p = q;
  p += (*p == '-' || *p == '+');
  Short8 s8;
  if (short8(p, end, s8)) {
    q = p + s8.length;
    return true;
  }
  const char* d0 = p;
  while (static_cast<unsigned>(*p - '0') < 10) ++p;
  size_t nDigits = static_cast<size_t>(p - d0);
  if (*p == '.') {
    const char* f0 = ++p;
    while (static_cast<unsigned>(*p - '0') < 10) ++p;
    nDigits += static_cast<size_t>(p - f0);
  }
  if (nDigits == 0) return false;
  if (*p == 'e' || *p == 'E') {
    ++p;
    p += (*p == '-' || *p == '+');
    const char* e0 = p;
    while (static_cast<unsigned>(*p - '0') < 10) ++p;
    if (p == e0) return false;
  }
  if (!isStop(*p) || (*p == '\0' && p < end)) return false;
  q = p;
  return true;
}

// What a field holds as far as column typing is concerned.
enum class NumberClass { Missing, Number, Other };
// A byte-level check, with no conversion, of the syntax that parseNumber()
// accepts: blanks, sign, digits, point, exponent.
NumberClass classifyNumber(const char* p, size_t n, bool quoted);

// Converts a field known to be no missing value; false when it is no
// number (or overflows).
bool convertNumber(const char* p, size_t n, double& out);

// Upper-cased copy (ASCII).
std::string upper(std::string_view s);

}  // namespace zul::table::detail
