// Pseudo-random numbers that repeat the C library's srandom()/random() sequence
// (the additive feedback generator with 31 words of state) draw for draw, so a
// seeded run gives the same numbers on every machine. Each user holds its own
// generator object; nothing is shared behind the caller's back.
#pragma once

#include <array>
#include <cstdint>

namespace varnik {

class CRandom {
 public:
  // A generator in the C library's initial state (as if seeded with 1).
  CRandom() { Seed(1); }
  explicit CRandom(unsigned int seed) { Seed(seed); }

  void Seed(unsigned int seed);
  // Next value in [0, 2^31 - 1], as random() returns it.
  int32_t Next();

  // Uniform index below n: (int)((r - 1) / 2147483647 * n).
  int UniformIndex(int n) { return static_cast<int>((Next() - 1.0) / 2147483647.0 * n); }
  // Uniform number in [0, 1): (r - 1) / 2147483647.
  double UniformNumber() { return (Next() - 1.0) / 2147483647.0; }

  // Two generators are equal when they will give the same values.
  bool operator==(const CRandom&) const = default;

 private:
  static constexpr int kDegree = 31;
  static constexpr int kSeparation = 3;
  std::array<int32_t, kDegree> state_{};
  int front_ = kSeparation;  // index of the feedback word
  int rear_ = 0;
};

}  // namespace varnik
