// zul/table/written_fields.cpp -- checks that a field copied from an input
// row is already in the form an output table writes.
#include "zul/table/written_fields.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "zul/table/table.hpp"

namespace zul::table::detail {

namespace {

uint64_t load8(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

uint64_t load4(const char* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

// The bytes [p, p + n), n from 1 to 16, as two little-endian words padded
// with zero bytes, read with fixed-size loads that stay inside the range
// (a copy of variable length is a library call per field): the tail is
// loaded ending at p + n and shifted down.
void loadUpTo16(const char* p, size_t n, uint64_t w[2]) {
  if (n >= 8) {
    w[0] = load8(p);
    w[1] = n > 8 ? load8(p + n - 8) >> (8 * (16 - n)) : 0;
  } else if (n >= 4) {
    w[0] = load4(p) | (load4(p + n - 4) >> (8 * (8 - n))) << 32;
    w[1] = 0;
  } else {
    w[0] = w[1] = 0;
    for (size_t i = 0; i < n; ++i) w[0] |= uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  }
}

// True when the unsigned number text [p, p + n), n from 1 to 16, is
// already the shortest form std::to_chars would write: digits with at most
// one point, at most 15 of them, no leading or trailing zeros, no bare
// point, and no integer ending in 0 (1000000 is written 1e+06). A decimal
// of at most 15 significant digits reads back from its double unchanged
// (DBL_DIG), so no shorter text has its value, and with a non-zero leading
// digit the fixed form is shorter than the exponent form. Eight bytes at a
// time.
bool isWrittenShort(const char* p, size_t n) {
  uint64_t w[2];
  loadUpTo16(p, n, w);
  int points = 0;
  uint64_t pointAt[2];
  for (int k = 0; k < 2; ++k) {
    const size_t here = n > 8u * k ? std::min<size_t>(8, n - 8u * k) : 0;
    const uint64_t live = kLowBytes[here] & 0x8080808080808080ULL;
    pointAt[k] = bytesEqual(w[k], '.') & live;
    if ((~digitBytes(w[k]) & live & ~pointAt[k]) != 0) return false;
    points += popcount64(pointAt[k]);
  }
  const char* e = p + n;
  if (points > 1 || static_cast<int>(n) - points > 15) return false;
  if (points == 0) return e[-1] != '0' && p[0] != '0';
  const char* dot = p + (pointAt[0] ? __builtin_ctzll(pointAt[0]) >> 3
                                    : 8 + (__builtin_ctzll(pointAt[1]) >> 3));
  if (dot == p || dot + 1 == e || e[-1] == '0') return false;
  return p[0] != '0' || (dot == p + 1 && dot[1] != '0');
}

}  // namespace

bool isWrittenNumber(const char* f, size_t n) {
  const char* p = f + (f[0] == '-');
  const size_t length = n - static_cast<size_t>(p - f);
  // Longer texts have more than 15 digits.
  return length > 0 && length <= 16 && isWrittenShort(p, length);
}

// True when a plain character field is written back as it reads: not the
// lone "." that reads as missing, no trailing blank (trimmed on output) and
// no quote (which the writer would quote).
bool isWrittenText(const char* f, size_t n) {
  if (n == 1 && f[0] == '.') return false;
  if (n > 0 && f[n - 1] == ' ') return false;
  return std::memchr(f, '"', n) == nullptr;
}

double plainFieldNumber(const char* p, size_t n) {
  if (n == 0 || (n == 1 && p[0] == '.')) return missingValue();
  double d;
  return convertNumber(p, n, d) ? d : missingValue();
}

}  // namespace zul::table::detail
