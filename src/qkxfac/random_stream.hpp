// Random numbers of the engine's simulations.
//
// Generator: xoshiro256+ (Blackman and Vigna 2018), 53-bit uniforms from
// its upper bits. Every simulation has a stream of its own whose state is
// drawn by SplitMix64 (Steele, Lea and Flood 2014) from the pair (seed,
// simulation number), so simulation s gives the same numbers whichever
// thread runs it and in whatever order: results do not depend on the
// number of threads.
//
// Normal deviates: the polar method (Marsaglia and Bray 1964). Gamma
// deviates: Marsaglia and Tsang (2000), with the boost
// Gamma(a) = Gamma(a + 1) U^(1/a) for shapes below 1. Chi-square with k
// degrees of freedom is 2 Gamma(k / 2).
#pragma once

#include <cmath>
#include <cstdint>

namespace qkxfac {

class RandomStream {
 public:
  RandomStream(uint32_t seed, uint64_t stream) {
    uint64_t x = (static_cast<uint64_t>(seed) << 32) ^ stream;
    x = splitMix(x);  // decorrelate neighbouring keys before drawing the state
    for (uint64_t& word : s_) word = splitMix(x);
  }

  // Uniform on [0, 1) with 53 random bits.
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

  double normal() {
    if (haveSpare_) {
      haveSpare_ = false;
      return spare_;
    }
    double u, v, s;
    do {
      u = 2.0 * uniform() - 1.0;
      v = 2.0 * uniform() - 1.0;
      s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    const double f = std::sqrt(-2.0 * std::log(s) / s);
    spare_ = v * f;
    haveSpare_ = true;
    return u * f;
  }

  // Gamma with the given shape (> 0) and scale 1.
  double gamma(double shape) {
    if (shape < 1.0) {
      double u;
      do u = uniform();
      while (u == 0.0);
      return gamma(shape + 1.0) * std::pow(u, 1.0 / shape);
    }
    const double d = shape - 1.0 / 3.0;
    const double c = 1.0 / std::sqrt(9.0 * d);
    for (;;) {
      double x, v;
      do {
        x = normal();
        v = 1.0 + c * x;
      } while (v <= 0.0);
      v = v * v * v;
      const double u = uniform();
      const double x2 = x * x;
      if (u < 1.0 - 0.0331 * x2 * x2) return d * v;
      if (u > 0.0 && std::log(u) < 0.5 * x2 + d * (1.0 - v + std::log(v))) return d * v;
    }
  }

  // Chi-square with df > 0 degrees of freedom; 0 for df <= 0.
  double chiSquare(double df) { return df > 0.0 ? 2.0 * gamma(0.5 * df) : 0.0; }

 private:
  static uint64_t splitMix(uint64_t& x) {
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t next() {
    const uint64_t result = s_[0] + s_[3];
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }

  uint64_t s_[4];
  double spare_ = 0.0;
  bool haveSpare_ = false;
};

}  // namespace qkxfac
