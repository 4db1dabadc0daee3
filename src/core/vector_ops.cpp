#include "core/vector_ops.h"

#include <cmath>
#include <cstddef>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VARNIK_VECTOR_AVX2 1
#endif

namespace varnik {

void MomentumUpdatePlain(float* w, float* m, float* c, float alpha, int n) {
  for (int i = 0; i < n; ++i) {
    m[i] = m[i] * alpha + c[i];
    c[i] = 0.0f;
    w[i] = w[i] + m[i];
  }
}

void AddRowsIntoPlain(float* dst, const float* base, const int* rows, int n_rows, int h) {
  for (int t = 0; t < n_rows; ++t) AddInto(dst, base + static_cast<size_t>(rows[t]) * h, h);
}

void AddIntoRowsPlain(float* base, const int* rows, int n_rows, int h, const float* src) {
  for (int t = 0; t < n_rows; ++t) AddInto(base + static_cast<size_t>(rows[t]) * h, src, h);
}

#ifdef VARNIK_VECTOR_AVX2
namespace {

// Columns [j, j + 64) of dst kept in registers while every row is added:
// each element still gets its additions in row order.
__attribute__((target("avx2"))) inline void AddRowsInto64(float* dst, const float* base,
                                                          const int* rows, int n_rows, int h,
                                                          int j) {
  __m256 a0 = _mm256_loadu_ps(dst + j), a1 = _mm256_loadu_ps(dst + j + 8),
         a2 = _mm256_loadu_ps(dst + j + 16), a3 = _mm256_loadu_ps(dst + j + 24),
         a4 = _mm256_loadu_ps(dst + j + 32), a5 = _mm256_loadu_ps(dst + j + 40),
         a6 = _mm256_loadu_ps(dst + j + 48), a7 = _mm256_loadu_ps(dst + j + 56);
  for (int t = 0; t < n_rows; ++t) {
    const float* row = base + static_cast<size_t>(rows[t]) * h + j;
    a0 = _mm256_add_ps(a0, _mm256_loadu_ps(row));
    a1 = _mm256_add_ps(a1, _mm256_loadu_ps(row + 8));
    a2 = _mm256_add_ps(a2, _mm256_loadu_ps(row + 16));
    a3 = _mm256_add_ps(a3, _mm256_loadu_ps(row + 24));
    a4 = _mm256_add_ps(a4, _mm256_loadu_ps(row + 32));
    a5 = _mm256_add_ps(a5, _mm256_loadu_ps(row + 40));
    a6 = _mm256_add_ps(a6, _mm256_loadu_ps(row + 48));
    a7 = _mm256_add_ps(a7, _mm256_loadu_ps(row + 56));
  }
  _mm256_storeu_ps(dst + j, a0);
  _mm256_storeu_ps(dst + j + 8, a1);
  _mm256_storeu_ps(dst + j + 16, a2);
  _mm256_storeu_ps(dst + j + 24, a3);
  _mm256_storeu_ps(dst + j + 32, a4);
  _mm256_storeu_ps(dst + j + 40, a5);
  _mm256_storeu_ps(dst + j + 48, a6);
  _mm256_storeu_ps(dst + j + 56, a7);
}

// The same for columns [j, j + 16).
__attribute__((target("avx2"))) inline void AddRowsInto16(float* dst, const float* base,
                                                          const int* rows, int n_rows, int h,
                                                          int j) {
  __m256 a0 = _mm256_loadu_ps(dst + j), a1 = _mm256_loadu_ps(dst + j + 8);
  for (int t = 0; t < n_rows; ++t) {
    const float* row = base + static_cast<size_t>(rows[t]) * h + j;
    a0 = _mm256_add_ps(a0, _mm256_loadu_ps(row));
    a1 = _mm256_add_ps(a1, _mm256_loadu_ps(row + 8));
  }
  _mm256_storeu_ps(dst + j, a0);
  _mm256_storeu_ps(dst + j + 8, a1);
}

// The same for columns [j, j + 8).
__attribute__((target("avx2"))) inline void AddRowsInto8(float* dst, const float* base,
                                                         const int* rows, int n_rows, int h,
                                                         int j) {
  __m256 a0 = _mm256_loadu_ps(dst + j);
  for (int t = 0; t < n_rows; ++t) {
    a0 = _mm256_add_ps(a0, _mm256_loadu_ps(base + static_cast<size_t>(rows[t]) * h + j));
  }
  _mm256_storeu_ps(dst + j, a0);
}

__attribute__((target("avx2"))) void AddRowsIntoAvx2(float* dst, const float* base, const int* rows,
                                                     int n_rows, int h) {
  int j = 0;
  for (; j + 64 <= h; j += 64) AddRowsInto64(dst, base, rows, n_rows, h, j);
  for (; j + 16 <= h; j += 16) AddRowsInto16(dst, base, rows, n_rows, h, j);
  for (; j + 8 <= h; j += 8) AddRowsInto8(dst, base, rows, n_rows, h, j);
  for (; j < h; ++j) {
    float sum = dst[j];
    for (int t = 0; t < n_rows; ++t) sum += base[static_cast<size_t>(rows[t]) * h + j];
    dst[j] = sum;
  }
}

// src[j, j + 32) kept in registers while it is added to every row.
__attribute__((target("avx2"))) inline void AddIntoRows32(float* base, const int* rows, int n_rows,
                                                          int h, const float* src, int j) {
  const __m256 s0 = _mm256_loadu_ps(src + j), s1 = _mm256_loadu_ps(src + j + 8),
               s2 = _mm256_loadu_ps(src + j + 16), s3 = _mm256_loadu_ps(src + j + 24);
  for (int t = 0; t < n_rows; ++t) {
    float* row = base + static_cast<size_t>(rows[t]) * h + j;
    _mm256_storeu_ps(row, _mm256_add_ps(_mm256_loadu_ps(row), s0));
    _mm256_storeu_ps(row + 8, _mm256_add_ps(_mm256_loadu_ps(row + 8), s1));
    _mm256_storeu_ps(row + 16, _mm256_add_ps(_mm256_loadu_ps(row + 16), s2));
    _mm256_storeu_ps(row + 24, _mm256_add_ps(_mm256_loadu_ps(row + 24), s3));
  }
}

__attribute__((target("avx2"))) void AddIntoRowsAvx2(float* base, const int* rows, int n_rows,
                                                     int h, const float* src) {
  int j = 0;
  for (; j + 32 <= h; j += 32) AddIntoRows32(base, rows, n_rows, h, src, j);
  if (j < h) {
    for (int t = 0; t < n_rows; ++t) {
      float* row = base + static_cast<size_t>(rows[t]) * h;
      int k = j;
      for (; k + 8 <= h; k += 8) {
        _mm256_storeu_ps(row + k,
                         _mm256_add_ps(_mm256_loadu_ps(row + k), _mm256_loadu_ps(src + k)));
      }
      for (; k < h; ++k) row[k] += src[k];
    }
  }
}

__attribute__((target("avx2"))) void MomentumUpdateAvx2(float* w, float* m, float* c, float alpha,
                                                        int n) {
  const __m256 a = _mm256_set1_ps(alpha);
  const __m256 zero = _mm256_setzero_ps();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 mi =
        _mm256_add_ps(_mm256_mul_ps(_mm256_loadu_ps(m + i), a), _mm256_loadu_ps(c + i));
    _mm256_storeu_ps(m + i, mi);
    _mm256_storeu_ps(c + i, zero);
    _mm256_storeu_ps(w + i, _mm256_add_ps(_mm256_loadu_ps(w + i), mi));
  }
  MomentumUpdatePlain(w + i, m + i, c + i, alpha, n - i);
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

// tanh of four doubles to about 2^-40 relative (the exponential's polynomial
// and the cancellation in e - 1 near 0), with the sign of x.
__attribute__((target("avx2"))) inline __m256d ApproximateTanh(__m256d x) {
  const __m256d sign = _mm256_set1_pd(-0.0);
  const __m256d ax = _mm256_andnot_pd(sign, x);
  const __m256d one = _mm256_set1_pd(1.0);
  // Near 0 the series x - x^3/3 + 2x^5/15 - 17x^7/315.
  const __m256d x2 = _mm256_mul_pd(ax, ax);
  __m256d series = _mm256_set1_pd(-17.0 / 315.0);
  series = _mm256_add_pd(_mm256_mul_pd(series, x2), _mm256_set1_pd(2.0 / 15.0));
  series = _mm256_add_pd(_mm256_mul_pd(series, x2), _mm256_set1_pd(-1.0 / 3.0));
  series = _mm256_add_pd(_mm256_mul_pd(series, x2), one);
  series = _mm256_mul_pd(series, ax);
  // Elsewhere (e - 1) / (e + 1) with e = exp(2|x|) = 2^n exp(r), |r| <= ln 2 / 2.
  const __m256d y = _mm256_mul_pd(_mm256_set1_pd(2.0), _mm256_min_pd(ax, _mm256_set1_pd(19.0)));
  const __m256d n = _mm256_round_pd(_mm256_mul_pd(y, _mm256_set1_pd(1.4426950408889634)),
                                    _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  __m256d r = _mm256_sub_pd(y, _mm256_mul_pd(n, _mm256_set1_pd(6.93147180369123816490e-01)));
  r = _mm256_sub_pd(r, _mm256_mul_pd(n, _mm256_set1_pd(1.90821492927058770002e-10)));
  static constexpr double kInverseFactorial[13] = {1.0,
                                                   1.0,
                                                   1.0 / 2,
                                                   1.0 / 6,
                                                   1.0 / 24,
                                                   1.0 / 120,
                                                   1.0 / 720,
                                                   1.0 / 5040,
                                                   1.0 / 40320,
                                                   1.0 / 362880,
                                                   1.0 / 3628800,
                                                   1.0 / 39916800,
                                                   1.0 / 479001600};
  __m256d p = _mm256_set1_pd(kInverseFactorial[12]);
  for (int k = 11; k >= 0; --k) {
    p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(kInverseFactorial[k]));
  }
  const __m256i exponent = _mm256_slli_epi64(
      _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_cvtpd_epi32(n)), _mm256_set1_epi64x(1023)), 52);
  const __m256d e = _mm256_mul_pd(p, _mm256_castsi256_pd(exponent));
  const __m256d far = _mm256_div_pd(_mm256_sub_pd(e, one), _mm256_add_pd(e, one));
  const __m256d near = _mm256_cmp_pd(ax, _mm256_set1_pd(1.0 / 1024), _CMP_LT_OQ);
  const __m256d t = _mm256_blendv_pd(far, series, near);
  return _mm256_or_pd(t, _mm256_and_pd(sign, x));
}

__attribute__((target("avx2"))) void ScaledTanhsAvx2(const float* s, float* out, int n, float A,
                                                     float B) {
  const __m128 b = _mm_set1_ps(B);
  const __m128 bound = _mm_set1_ps(45.0f);
  const __m128 abs_mask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  const __m256d a = _mm256_set1_pd(static_cast<double>(A));
  // The approximation is far closer than this: a value that rounds to the
  // same single with this much either way rounds so from the exact tangent.
  const __m256d below = _mm256_set1_pd(1.0 - 0x1p-34), above = _mm256_set1_pd(1.0 + 0x1p-34);
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 si = _mm_loadu_ps(s + i);
    const __m256d v = _mm256_mul_pd(a, ApproximateTanh(_mm256_cvtps_pd(_mm_mul_ps(b, si))));
    const __m128 f = _mm256_cvtpd_ps(v);
    const __m128 lo = _mm256_cvtpd_ps(_mm256_mul_pd(v, below));
    const __m128 hi = _mm256_cvtpd_ps(_mm256_mul_pd(v, above));
    // Not a number, and s beyond +-45 (NaN included), go the exact way.
    const __m128 sure = _mm_and_ps(_mm_and_ps(_mm_cmpeq_ps(lo, f), _mm_cmpeq_ps(hi, f)),
                                   _mm_cmple_ps(_mm_and_ps(si, abs_mask), bound));
    _mm_storeu_ps(out + i, f);
    const int mask = _mm_movemask_ps(sure);
    if (mask != 0xf) {
      for (int k = 0; k < 4; ++k) {
        if (!(mask & (1 << k))) out[i + k] = ScaledTanh(s[i + k], A, B);
      }
    }
  }
  for (; i < n; ++i) out[i] = ScaledTanh(s[i], A, B);
}

}  // namespace
#endif

void AddRowsInto(float* dst, const float* base, const int* rows, int n_rows, int h) {
#ifdef VARNIK_VECTOR_AVX2
  if (HasAvx2()) return AddRowsIntoAvx2(dst, base, rows, n_rows, h);
#endif
  AddRowsIntoPlain(dst, base, rows, n_rows, h);
}

void MomentumUpdate(float* w, float* m, float* c, float alpha, int n) {
#ifdef VARNIK_VECTOR_AVX2
  if (HasAvx2()) return MomentumUpdateAvx2(w, m, c, alpha, n);
#endif
  MomentumUpdatePlain(w, m, c, alpha, n);
}

float ScaledTanh(float s, float A, float B) {
  if (s < -45) return -A;
  if (s > 45) return A;
  return static_cast<float>(static_cast<double>(A) * std::tanh(static_cast<double>(B * s)));
}

void ScaledTanhsPlain(const float* s, float* out, int n, float A, float B) {
  for (int i = 0; i < n; ++i) out[i] = ScaledTanh(s[i], A, B);
}

void ScaledTanhs(const float* s, float* out, int n, float A, float B) {
#ifdef VARNIK_VECTOR_AVX2
  if (HasAvx2()) return ScaledTanhsAvx2(s, out, n, A, B);
#endif
  ScaledTanhsPlain(s, out, n, A, B);
}

void AddIntoRows(float* base, const int* rows, int n_rows, int h, const float* src) {
#ifdef VARNIK_VECTOR_AVX2
  if (HasAvx2()) return AddIntoRowsAvx2(base, rows, n_rows, h, src);
#endif
  AddIntoRowsPlain(base, rows, n_rows, h, src);
}

}  // namespace varnik
