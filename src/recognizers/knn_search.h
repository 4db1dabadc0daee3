// The neighbour search of the k-NN recogniser, shared by the builds of it for
// different instruction sets (knn.cpp, knn_avx2.cpp). Everything here has
// internal linkage so that each build keeps its own copy.
#pragma once

#include <cmath>

#include "core/nearest.h"

namespace varnik {
namespace {

// Largest mismatch count c in [0, L] whose distance c / L (in single
// precision) is below worst; -1 when there is none.
inline int CountLimit(float worst, int L) {
  if (L <= 0) return -1;
  const float fl = static_cast<float>(L);
  const double guess = std::floor(static_cast<double>(worst) * L);
  int c = guess > L ? L : (guess < -1 ? -1 : static_cast<int>(guess));
  while (c >= 0 && !(static_cast<float>(c) / fl < worst)) --c;
  while (c < L && static_cast<float>(c + 1) / fl < worst) ++c;
  return c;
}

// Counter: int(const char* window, Proto prototype, int L, int limit), exact
// when the count is at most limit, above limit otherwise. A prototype is a
// window, or its mismatch count when the counts are known beforehand. dist and
// label hold the k slots, set to 2.0 and -1 by the caller. Only raw arrays are
// used here, so that no library code is compiled for a particular
// instruction set.
template <typename Proto, typename Counter>
inline void SearchNeighbours(const Proto* poss, int n_pos, const Proto* negs, int n_neg,
                             const char* window, int L, int k, float* dist, signed char* label,
                             Counter count) {
  float worst = 2.0f;
  int limit = CountLimit(worst, L);
  const float fl = static_cast<float>(L);
  auto visit = [&](const Proto* prototypes, int n, signed char cls) {
    for (int i = 0; i < n; ++i) {
      const int c = count(window, prototypes[i], L, limit);
      if (c > limit) continue;  // not closer than the current k-th neighbour
      const float d = static_cast<float>(c) / fl;
      EnterNearest(dist, label, k, d, cls);  // d < worst
      worst = dist[k - 1];
      limit = CountLimit(worst, L);
    }
  };
  visit(poss, n_pos, 1);
  visit(negs, n_neg, 0);
}

}  // namespace
}  // namespace varnik
