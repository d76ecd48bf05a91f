// zul/table/shortest_number.cpp -- a finite double as the shortest text
// that reads back to it, laid out as std::to_chars(first, last, x) lays it
// out, at about half its cost: output tables write every number this way,
// and a table of scores is mostly such numbers.
//
// The digits come from Dragonbox (Jeon 2020), as fmt carries it; the
// layout is the one of std::to_chars: fixed or scientific, whichever is
// shorter, fixed on a tie, at least two exponent digits. Magnitudes from
// 2^53 up, where std::to_chars writes an integer's exact digits rather
// than the shortest ones padded with zeros, and zero are left to it.
#include <fmt/format.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "zul/table/csv.hpp"

namespace zul::table::detail {

namespace {

#if FMT_VERSION >= 80000 && FMT_VERSION < 120000
constexpr bool kDragonbox = true;
#else
constexpr bool kDragonbox = false;
#endif

constexpr double kTwoTo53 = 9007199254740992.0;

// v < 10^8 as eight ASCII digits, the first in the lowest byte, computed in
// a register (Khuong's division by multiplication on the lanes).
uint64_t eightDigits(uint32_t v) {
  const uint64_t merged = (v / 10000) | (uint64_t{v % 10000} << 32);
  const uint64_t hundreds = ((merged * 10486) >> 20) & ((0x7FULL << 32) | 0x7FULL);
  const uint64_t pairs = hundreds | ((merged - hundreds * 100) << 16);
  const uint64_t tens = ((pairs * 103) >> 10) & ((0xFULL << 48) | (0xFULL << 32) | (0xFULL << 16) | 0xFULL);
  return (tens | ((pairs - tens * 10) << 8)) | 0x3030303030303030ULL;
}

// Decimal digits of q, 1 <= q < 10^17.
int digitCount(uint64_t q) {
  static constexpr auto kPow10 = [] {
    std::array<uint64_t, 18> p{};
    p[0] = 1;
    for (size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
    return p;
  }();
  // log10(2) ~ 1233 / 4096 gives the count or one more.
  const int n = ((64 - __builtin_clzll(q)) * 1233 >> 12) + 1;
  return q < kPow10[n - 1] ? n - 1 : n;
}

constexpr uint64_t kZeros = 0x3030303030303030ULL;  // "00000000"

void storeWord(char* at, uint64_t word) { std::memcpy(at, &word, 8); }

// The n digits of a significand held in registers as little-endian words,
// so that any run of them is stored without first being stored and then
// loaded again: a load that spans several recent narrower stores waits for
// them to reach the cache.
class DigitPlaces {
 public:
  DigitPlaces(uint64_t q, int n) {
    // 17 places, leading zeros included: one digit and two words of eight.
    const uint64_t low16 = q % 10000000000000000ULL;
    const uint64_t top = '0' + q / 10000000000000000ULL;
    const uint64_t high8 = eightDigits(static_cast<uint32_t>(low16 / 100000000));
    const uint64_t low8 = eightDigits(static_cast<uint32_t>(low16 % 100000000));
    const uint64_t places[3] = {top | high8 << 8, high8 >> 56 | low8 << 8, low8 >> 56};
    // Moved down by the 17 - n leading zeros.
    const int skip = 17 - n;
    for (int i = 0; i < 3; ++i) word_[i] = wordAt(places, skip + 8 * i);
  }
  char first() const { return static_cast<char>(word_[0]); }
  // Stores the `count` digits from digit `from` at `at`, and up to eight
  // bytes of whatever follows them.
  void store(char* at, int from, int count) const {
    const int end = from + count;
    for (int k = from; k < end; k += 8) storeWord(at + (k - from), digitWordAt(k));
  }

 private:
  // The eight bytes from byte k of three words (zero past them).
  static uint64_t wordAt(const uint64_t (&w)[3], int k) {
    const int i = k >> 3, shift = (k & 7) * 8;
    const uint64_t low = i < 3 ? w[i] : 0, high = i + 1 < 3 ? w[i + 1] : 0;
    return shift == 0 ? low : low >> shift | high << (64 - shift);
  }
  uint64_t digitWordAt(int k) const { return wordAt(word_, k); }
  uint64_t word_[3];
};

}  // namespace

int shortestNumber(double x, char* out) {
  if (!kDragonbox || x == 0 || !(std::fabs(x) < kTwoTo53))
    return static_cast<int>(std::to_chars(out, out + 32, x).ptr - out);
  const auto decimal = fmt::detail::dragonbox::to_decimal(x);
  const uint64_t q = decimal.significand;
  const int n = digitCount(q);
  const int point = decimal.exponent + n - 1;  // the power of ten of the first digit
  const DigitPlaces d(q, n);

  char* o = out;
  if (x < 0) *o++ = '-';
  const int exponentDigits = point >= 100 || point <= -100 ? 3 : 2;
  const int scientific = n + (n > 1) + 2 + exponentDigits;
  const int fixed = point < 0 ? n + 1 - point : point >= n - 1 ? point + 1 : n + 1;
  // Every piece is stored whole, eight bytes at a time, and later pieces
  // overwrite what an earlier one stored past its end; no store goes past
  // out + 32 (the sizes below bound each).
  if (fixed <= scientific) {
    if (point < 0) {  // 0.000ddd: at most three zeros, or scientific is shorter
      storeWord(o, kZeros);
      o[1] = '.';
      d.store(o + 1 - point, 0, n);
      return static_cast<int>(o + 1 - point + n - out);
    }
    d.store(o, 0, n);
    if (point >= n - 1) {  // ddd000, point + 1 <= 16 places
      storeWord(o + n, kZeros);
      if (point - n + 1 > 8) storeWord(o + n + 8, kZeros);
      return static_cast<int>(o + point + 1 - out);
    }
    o[point + 1] = '.';  // dd.ddd
    d.store(o + point + 2, point + 1, n - point - 1);
    return static_cast<int>(o + n + 1 - out);
  }
  // d.ddde+XX
  o[0] = d.first();
  if (n > 1) {
    o[1] = '.';
    d.store(o + 2, 1, n - 1);
    o += n + 1;
  } else {
    o += 1;
  }
  *o++ = 'e';
  *o++ = point < 0 ? '-' : '+';
  const int e = point < 0 ? -point : point;
  if (e >= 100) *o++ = static_cast<char>('0' + e / 100);
  *o++ = static_cast<char>('0' + e / 10 % 10);
  *o++ = static_cast<char>('0' + e % 10);
  return static_cast<int>(o - out);
}

}  // namespace zul::table::detail
