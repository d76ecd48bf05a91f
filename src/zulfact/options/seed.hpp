// The step's random numbers: a multiplicative congruential generator
// (Lehmer 1951; multiplier 397204094, modulus 2^31 - 1) and the seed
// handling shared by RANDOM=, PARALLEL(SEED=) and PRIORS=RANDOM.
#pragma once

#include <cstdint>

namespace zulfact {

inline constexpr int32_t kSeedModulus = 2147483647;      // 2^31 - 1
inline constexpr int64_t kSeedMultiplier = 397204094;

// One step of x := x * 397204094 mod (2^31 - 1) on a state in
// 1 .. 2^31 - 2, with the product folded in 64 bits instead of divided.
int32_t nextSeed(int32_t x);

// Advances state and returns state / 2147483647.0, a uniform number in
// (0, 1). A state below 1 or equal to 2^31 - 1 is first replaced by a
// clock seed (clockSeed of the host clock).
double nextUniform(int32_t& state);

// floor(frac(T / 1000) * 1e9) + 1 for a clock reading T in seconds: a
// seed in 1 .. 1e9.
int32_t clockSeed(double clockSeconds);

// A seed above 2,147,483,647 brought into range: ceil(v / 2097151^k) with
// k = floor(ln(v / 1024) / ln 2097151). Smaller values come back as given.
double foldSeed(double v);

// What the seed routine does with a seed.
enum class SeedMode {
  Check,            // a seed not in 1 .. 2^31 - 2 becomes a clock seed
  CheckAndPublish,  // the same, then the seed is published as SYSRANDOM
  PublishEnd,       // the generator's state at the end of the step is
                    // published as SYSRANEND
};

// The seed routine: seed is checked (and replaced) or published as mode says.
void seedRoutine(SeedMode mode, int32_t& seed);

}  // namespace zulfact
