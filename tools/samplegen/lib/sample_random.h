#pragma once
// Deterministic pseudo-random numbers for the sample market: a SplitMix64
// stream seeded from a hash of the inputs, so that every value depends only
// on what it is about (seed, security, day), never on the order of calls.
#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace marbloom::sample {

inline uint64_t Mix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

inline uint64_t HashOf(std::initializer_list<uint64_t> parts) {
  uint64_t h = 0x6A09E667F3BCC909ull;
  for (uint64_t part : parts) h = Mix64(h ^ part);
  return h;
}

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // [0, 1)
  double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  // [0, n) for n > 0
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }
  int64_t Between(int64_t lo, int64_t hi) {  // inclusive
    return lo + static_cast<int64_t>(Below(static_cast<uint64_t>(hi - lo) + 1));
  }
  bool OneIn(uint64_t n) { return Below(n) == 0; }
  bool Chance(double p) { return Uniform() < p; }
  // Roughly normal, mean 0, deviation 1 (sum of four uniforms).
  double Gauss() { return (Uniform() + Uniform() + Uniform() + Uniform() - 2.0) * 1.7320508; }

 private:
  uint64_t state_;
};

}  // namespace marbloom::sample
