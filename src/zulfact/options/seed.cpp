#include "zulfact/options/seed.hpp"

#include <cmath>
#include <string>

#include "zulfact/host/host.hpp"

namespace zulfact {

namespace {
// ln 2097151, the base of the seed folding.
constexpr double kLog2097151 = 14.55609031492158;

bool usable(int32_t seed) { return seed >= 1 && seed < kSeedModulus; }

int32_t hostClockSeed() { return clockSeed(host().clock()); }
}  // namespace

int32_t nextSeed(int32_t x) {
  // t = x * a < 2^62; since 2^31 = 1 (mod 2^31 - 1), t = hi * 2^31 + lo is
  // congruent to hi + lo, which is below 2 * (2^31 - 1): one subtraction
  // finishes the reduction.
  int64_t t = static_cast<int64_t>(x) * kSeedMultiplier;
  int64_t y = (t >> 31) + (t & 0x7FFFFFFF);
  if (y >= 0x7FFFFFFF) y -= 0x7FFFFFFF;
  return static_cast<int32_t>(y);
}

double nextUniform(int32_t& state) {
  if (!usable(state)) state = hostClockSeed();
  state = nextSeed(state);
  return state / 2147483647.0;
}

int32_t clockSeed(double clockSeconds) {
  double scaled = clockSeconds / 1000.0;
  double frac = scaled - std::floor(scaled);
  return static_cast<int32_t>(std::floor(frac * 1e9)) + 1;
}

double foldSeed(double v) {
  if (!(v > 2147483647.0)) return v;
  double k = std::floor(std::log(v / 1024.0) / kLog2097151);
  return std::ceil(v / std::pow(2097151.0, k));
}

void seedRoutine(SeedMode mode, int32_t& seed) {
  if (mode == SeedMode::PublishEnd) {
    host().setMacro("SYSRANEND", std::to_string(seed));
    return;
  }
  if (!usable(seed)) seed = hostClockSeed();
  if (mode == SeedMode::CheckAndPublish) host().setMacro("SYSRANDOM", std::to_string(seed));
}

}  // namespace zulfact
