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

// One window meets prototypes [first, last) of a class: each strictly closer
// than its current k-th slot enters the slots; limit is the count limit of
// that slot, kept up to date.
template <typename Proto, typename Counter>
inline void VisitPrototypes(const Proto* prototypes, int first, int last, signed char cls,
                            const char* window, int L, int k, float* dist, signed char* label,
                            int& limit, Counter& count) {
  const float fl = static_cast<float>(L);
  for (int i = first; i < last; ++i) {
    const int c = count(window, prototypes[i], L, limit);
    if (c > limit) continue;  // not closer than the current k-th neighbour
    EnterNearest(dist, label, k, static_cast<float>(c) / fl, cls);
    limit = CountLimit(dist[k - 1], L);
  }
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
  int limit = CountLimit(2.0f, L);
  VisitPrototypes(poss, 0, n_pos, 1, window, L, k, dist, label, limit, count);
  VisitPrototypes(negs, 0, n_neg, 0, window, L, k, dist, label, limit, count);
}

// Up to kManyWindows windows searched together: the prototypes are taken a
// chunk at a time (about 128 KB of letters), which every window visits before
// the next chunk, so that the chunk is read from cache. Each window still
// meets the prototypes in the one order, and its slots are those
// SearchNeighbours leaves. dist and label hold k slots per window, set to 2.0
// and -1 by the caller.
constexpr int kManyWindows = 16;

template <typename Counter>
inline void SearchNeighboursOfMany(const char* const* poss, int n_pos, const char* const* negs,
                                   int n_neg, const char* const* windows, int n_windows, int L,
                                   int k, float* dist, signed char* label, Counter count) {
  int limit[kManyWindows];
  for (int w = 0; w < n_windows; ++w) limit[w] = CountLimit(2.0f, L);
  const int chunk = L > 0 && (128 << 10) / L > 64 ? (128 << 10) / L : 64;
  auto visit = [&](const char* const* prototypes, int n, signed char cls) {
    for (int first = 0; first < n; first += chunk) {
      const int last = n - first < chunk ? n : first + chunk;
      for (int w = 0; w < n_windows; ++w) {
        VisitPrototypes(prototypes, first, last, cls, windows[w], L, k, dist + w * k, label + w * k,
                        limit[w], count);
      }
    }
  };
  visit(poss, n_pos, 1);
  visit(negs, n_neg, 0);
}

}  // namespace
}  // namespace varnik
