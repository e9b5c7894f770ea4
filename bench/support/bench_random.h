#pragma once
// A small deterministic generator for the store generators, so that a store comes out the same on
// every run (benchmarks compare like with like; fuzz seeds stay stable).

#include <cstdint>

namespace kv::testing {

class BenchRandom {
 public:
  explicit BenchRandom(std::uint64_t seed) : state_(seed) {}

  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  // A number in [low, high].
  std::uint32_t Between(std::uint32_t low, std::uint32_t high) {
    return low + Next() % (high - low + 1);
  }
  // A number in [0, limit).
  std::uint32_t Below(std::uint32_t limit) { return Next() % limit; }

 private:
  std::uint64_t state_;
};

}  // namespace kv::testing
