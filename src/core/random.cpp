#include "core/random.h"

namespace varnik {

void CRandom::Seed(unsigned int seed) {
  if (seed == 0) seed = 1;
  state_[0] = static_cast<int32_t>(seed);
  int32_t word = static_cast<int32_t>(seed);
  for (int i = 1; i < kDegree; ++i) {
    // state[i] = (16807 * state[i - 1]) % 2147483647 without overflowing 31 bits.
    const int64_t hi = word / 127773;
    const int64_t lo = word % 127773;
    int64_t next = 16807 * lo - 2836 * hi;
    if (next < 0) next += 2147483647;
    word = static_cast<int32_t>(next);
    state_[i] = word;
  }
  front_ = kSeparation;
  rear_ = 0;
  for (int i = 0; i < kDegree * 10; ++i) Next();
}

int32_t CRandom::Next() {
  const uint32_t value =
      static_cast<uint32_t>(state_[front_]) + static_cast<uint32_t>(state_[rear_]);
  state_[front_] = static_cast<int32_t>(value);
  if (++front_ >= kDegree) front_ = 0;
  if (++rear_ >= kDegree) rear_ = 0;
  return static_cast<int32_t>(value >> 1);
}

}  // namespace varnik
