// The k-NN neighbour search for processors with AVX2, compiled with -mavx2
// -mpopcnt. It counts mismatching bytes only (integer work); the distances and
// slots are computed as in the portable build, so scores are identical.
#include "recognizers/knn_kernels.h"
#include "recognizers/knn_search.h"

#ifdef __AVX2__
#include <immintrin.h>

namespace varnik {

namespace {

// Mismatching bytes 32 at a time, stopping once above limit. A window of 32
// letters or more ends with one more 32-byte compare that overlaps the last
// whole block, its bytes counted already left out: no letter-by-letter tail.
inline __attribute__((always_inline)) int CountMismatchesInline(const char* a, const char* b, int L,
                                                                int limit) {
  auto differ = [&](int at) {
    const __m256i e =
        _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + at)),
                          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + at)));
    return ~static_cast<unsigned>(_mm256_movemask_epi8(e));
  };
  int i = 0;
  int mismatches = 0;
  if (L >= 32) {
    for (; L - i >= 32; i += 32) {
      mismatches += _mm_popcnt_u32(differ(i));
      if (mismatches > limit) return mismatches;
    }
    if (i < L) mismatches += _mm_popcnt_u32(differ(L - 32) >> (32 - (L - i)));
    return mismatches;
  }
  if (L - i >= 16) {
    const __m128i e = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
    mismatches += 16 - _mm_popcnt_u32(static_cast<unsigned>(_mm_movemask_epi8(e)));
    i += 16;
  }
  for (; i < L; ++i) mismatches += a[i] != b[i];
  return mismatches;
}

}  // namespace

int CountMismatchesAvx2(const char* a, const char* b, int L, int limit) {
  return CountMismatchesInline(a, b, L, limit);
}

bool HasAvx2Search() { return true; }

void SearchNeighboursAvx2(const char* const* poss, int n_pos, const char* const* negs, int n_neg,
                          const char* window, int L, int k, float* dist, signed char* label) {
  SearchNeighbours(poss, n_pos, negs, n_neg, window, L, k, dist, label,
                   [](const char* a, const char* b, int length, int limit) {
                     return CountMismatchesInline(a, b, length, limit);
                   });
}

void SearchNeighboursOfManyAvx2(const char* const* poss, int n_pos, const char* const* negs,
                                int n_neg, const char* const* windows, int n_windows, int L, int k,
                                float* dist, signed char* label) {
  SearchNeighboursOfMany(poss, n_pos, negs, n_neg, windows, n_windows, L, k, dist, label,
                         [](const char* a, const char* b, int length, int limit) {
                           return CountMismatchesInline(a, b, length, limit);
                         });
}

}  // namespace varnik

#else  // not built for AVX2: the portable search is used

namespace varnik {

int CountMismatchesAvx2(const char*, const char*, int, int) { return -1; }
bool HasAvx2Search() { return false; }
void SearchNeighboursAvx2(const char* const*, int, const char* const*, int, const char*, int, int,
                          float*, signed char*) {}
void SearchNeighboursOfManyAvx2(const char* const*, int, const char* const*, int,
                                const char* const*, int, int, int, float*, signed char*) {}

}  // namespace varnik

#endif
