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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  size_t n = 0;             // length in bytes (a field may pass 4 GiB)
  size_t arenaOffset = 0;
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
      f.n = static_cast<size_t>(q - s);
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

// ---- whole rows of numbers, for the type pass ----

// Bit 7 of each byte set exactly where the byte is zero (no carries
// between bytes).
inline uint64_t zeroBytes(uint64_t v) {
  constexpr uint64_t k7F = 0x7F7F7F7F7F7F7F7FULL;
  return ~(((v & k7F) + k7F) | v | k7F);
}
inline uint64_t bytesEqual(uint64_t w, unsigned char c) {
  return zeroBytes(w ^ (0x0101010101010101ULL * c));
}
// Bit 7 of each byte set where the byte is a digit (a byte above 0x89 may
// hide a digit next to it: never the reverse).
inline uint64_t digitBytes(uint64_t w) {
  const uint64_t x = w ^ 0x3030303030303030ULL;
  return ~((x + 0x7676767676767676ULL) | x) & 0x8080808080808080ULL;
}
// The bit-7 flags of the eight bytes as one byte (bit i = byte i).
inline unsigned compress8(uint64_t m) {
  return static_cast<unsigned>(((m >> 7) * 0x0102040810204080ULL) >> 56);
}

// Checks a whole row at once, sixteen bytes per step (SSE2, part of every
// x86-64; eight bytes per step elsewhere): true when the row at q has
// exactly nCols fields and ends in LF or CRLF, and every field is empty,
// "." or a plain decimal: digits with at most one point, and a minus only
// in front, followed by a digit. next is then the start of the following
// line. false means "not sure": the caller checks the row field by field,
// so this test only has to be sound, never complete. The loads may reach
// sixteen bytes past the row, into the zero page after the file.
//
// The rule "at most one point per field" is checked on the events of a
// block (points and separators, one bit per byte): adding each point's
// bit, moved up one place, to the complement of the events carries it to
// the next event, which must not be a point.
inline int popcount64(uint64_t x) {
  // Without a hardware popcount in the baseline instruction set, the
  // compiler would call a library routine; this is the usual SWAR count.
  x = x - ((x >> 1) & 0x5555555555555555ULL);
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<int>((x * 0x0101010101010101ULL) >> 56);
}

#if defined(__SSE2__)
inline uint64_t equalMask16(__m128i v, char c) {
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
}
inline bool fastNumericRow(const char* q, const char* end, int nCols, const char*& next) {
  // Sixty-four bytes per step, one bit per byte in each mask.
  const char* base = q;
  uint64_t sepCarry = 1;   // the byte before the row counts as a separator
  bool pointOpen = false;  // the field that runs into this block has a point
  int commas = 0;
  const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
  while (base < end) {
    uint64_t lf = 0, comma = 0, point = 0, minus = 0, cr = 0, digit = 0;
    for (int k = 0; k < 4; ++k) {
      const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + 16 * k));
      const __m128i d = _mm_sub_epi8(w, zero);
      const int shift = 16 * k;
      digit |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(
                   _mm_cmpeq_epi8(_mm_min_epu8(d, nine), d))))
               << shift;
      lf |= equalMask16(w, '\n') << shift;
      comma |= equalMask16(w, ',') << shift;
      point |= equalMask16(w, '.') << shift;
      minus |= equalMask16(w, '-') << shift;
      cr |= equalMask16(w, '\r') << shift;
    }
    int stop = 64;
    uint64_t lim = ~0ULL;
    if (lf) {
      stop = __builtin_ctzll(lf);
      lim = stop == 63 ? ~0ULL : (uint64_t{2} << stop) - 1;
    }
    const uint64_t firstLf = lf & (~lf + 1);
    comma &= lim;
    point &= lim;
    minus &= lim;
    cr &= lim;
    if (~(digit | comma | point | minus | cr | firstLf) & lim) return false;
    if (cr && cr != (firstLf >> 1)) return false;  // CR only just before the LF
    if (minus) {
      if (minus & ~((comma << 1) | sepCarry)) return false;
      const uint64_t nextIsDigit =
          (digit >> 1) | (uint64_t{static_cast<unsigned char>(base[64] - '0') < 10} << 63);
      if (minus & ~nextIsDigit) return false;
    }
    const uint64_t e = point | comma | firstLf;
    if (point) {
      if (pointOpen && (e & (~e + 1) & point)) return false;
      if ((~e + (point << 1)) & e & point) return false;
    }
    if (e) pointOpen = (point >> (63 - __builtin_clzll(e))) & 1u;
    commas += popcount64(comma);
    if (lf) {
      next = base + stop + 1;
      return commas == nCols - 1;
    }
    sepCarry = comma >> 63;
    base += 64;
  }
  return false;
}
#else
// Checks a whole row at once, eight bytes per step: true when the row at q
// has exactly nCols fields and ends in LF or CRLF, and every field is
// empty, "." or a plain decimal: digits with at most one point, and a
// minus only in front, followed by a digit. next is then the start of the
// following line. false means "not sure": the caller checks the row field
// by field, so this test only has to be sound, never complete.
//
// The rule "at most one point per field" is checked on the events of a
// word (points and separators, one bit per byte): adding each point's bit,
// moved up one place, to the complement of the events carries it to the
// next event, which must not be a point (the carry trick of Lemire's
// simdjson bit manipulation).
inline bool fastNumericRow(const char* q, const char* end, int nCols, const char*& next) {
  const char* base = q;
  uint64_t sepCarry = 0x80;  // the byte before the row counts as a separator
  bool pointOpen = false;    // the field that runs into this word has a point
  int commas = 0;
  while (base < end) {
    uint64_t w, w1;
    std::memcpy(&w, base, 8);
    std::memcpy(&w1, base + 1, 8);
    const uint64_t lf = bytesEqual(w, '\n');
    const uint64_t firstLf = lf & (~lf + 1);
    int stop = 8;
    uint64_t lim = ~0ULL;
    if (lf) {
      stop = __builtin_ctzll(lf) >> 3;
      lim = stop == 7 ? ~0ULL : (uint64_t{1} << (8 * stop + 8)) - 1;
    }
    const uint64_t comma = bytesEqual(w, ',') & lim;
    const uint64_t point = bytesEqual(w, '.') & lim;
    const uint64_t minus = bytesEqual(w, '-') & lim;
    const uint64_t cr = bytesEqual(w, '\r') & lim;
    const uint64_t known = digitBytes(w) | comma | point | minus | cr | firstLf;
    if (~known & lim & 0x8080808080808080ULL) return false;
    if (cr && cr != (firstLf >> 8)) return false;  // CR only just before the LF
    if (minus & ~((comma << 8) | sepCarry)) return false;
    if (minus & ~digitBytes(w1)) return false;
    const unsigned p8 = compress8(point);
    const unsigned e8 = p8 | compress8(comma | firstLf);
    if (e8) {
      if (pointOpen && (e8 & (~e8 + 1) & p8)) return false;
      if (((((~e8) & 0xFFu) + (p8 << 1)) & e8 & p8) != 0) return false;
      pointOpen = (p8 >> (31 - __builtin_clz(e8))) & 1u;
    }
    commas += popcount64(comma);
    if (lf) {
      next = base + stop + 1;
      return commas == nCols - 1;
    }
    sepCarry = (comma >> 63) << 7;
    base += 8;
  }
  return false;
}
#endif

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

// What a field holds as far as column typing is concerned.
enum class NumberClass { Missing, Number, Other };
// A byte-level check, with no conversion, of the syntax that parseNumber()
// accepts: blanks, sign, digits, point, exponent.
NumberClass classifyNumber(const char* p, size_t n, bool quoted);

// Converts a field known to be no missing value; false when it is no
// number (or overflows).
bool convertNumber(const char* p, size_t n, double& out);
// Writes the finite x as the shortest text that reads back to it, as
// std::to_chars(out, out + 32, x) writes it (out holds 32 bytes); returns
// the length.
int shortestNumber(double x, char* out);

// Upper-cased copy (ASCII).
std::string upper(std::string_view s);

}  // namespace zul::table::detail
