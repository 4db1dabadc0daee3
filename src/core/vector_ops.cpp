#include "core/vector_ops.h"

#include <cstddef>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VARNIK_VECTOR_AVX2 1
#endif

namespace varnik {

void AddRowsIntoPlain(float* dst, const float* base, const int* rows, int n_rows, int h) {
  for (int t = 0; t < n_rows; ++t) AddInto(dst, base + static_cast<size_t>(rows[t]) * h, h);
}

void AddIntoRowsPlain(float* base, const int* rows, int n_rows, int h, const float* src) {
  for (int t = 0; t < n_rows; ++t) AddInto(base + static_cast<size_t>(rows[t]) * h, src, h);
}

#ifdef VARNIK_VECTOR_AVX2
namespace {

// Eight elements per instruction, each still given its one IEEE addition.
__attribute__((target("avx2"))) inline void AddInto8(float* dst, const float* src, int n) {
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    _mm256_storeu_ps(dst + i, _mm256_add_ps(_mm256_loadu_ps(dst + i), _mm256_loadu_ps(src + i)));
  }
  for (; i + 4 <= n; i += 4) {
    _mm_storeu_ps(dst + i, _mm_add_ps(_mm_loadu_ps(dst + i), _mm_loadu_ps(src + i)));
  }
  for (; i < n; ++i) dst[i] += src[i];
}

__attribute__((target("avx2"))) void AddRowsIntoAvx2(float* dst, const float* base, const int* rows,
                                                     int n_rows, int h) {
  for (int t = 0; t < n_rows; ++t) AddInto8(dst, base + static_cast<size_t>(rows[t]) * h, h);
}

__attribute__((target("avx2"))) void AddIntoRowsAvx2(float* base, const int* rows, int n_rows,
                                                     int h, const float* src) {
  for (int t = 0; t < n_rows; ++t) AddInto8(base + static_cast<size_t>(rows[t]) * h, src, h);
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

}  // namespace
#endif

void AddRowsInto(float* dst, const float* base, const int* rows, int n_rows, int h) {
#ifdef VARNIK_VECTOR_AVX2
  if (HasAvx2()) return AddRowsIntoAvx2(dst, base, rows, n_rows, h);
#endif
  AddRowsIntoPlain(dst, base, rows, n_rows, h);
}

void AddIntoRows(float* base, const int* rows, int n_rows, int h, const float* src) {
#ifdef VARNIK_VECTOR_AVX2
  if (HasAvx2()) return AddIntoRowsAvx2(base, rows, n_rows, h, src);
#endif
  AddIntoRowsPlain(base, rows, n_rows, h, src);
}

}  // namespace varnik
