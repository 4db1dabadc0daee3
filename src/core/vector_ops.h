// Element-wise single-precision loops of the learners' hot paths, written with
// SSE2 (part of every x86-64 processor). Each element gets exactly the one
// IEEE operation the plain loop would give it, so results are bit-identical
// to a scalar loop; only the number of elements handled per instruction
// changes.
#pragma once

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace varnik {

// dst[i] += src[i]
inline void AddInto(float* dst, const float* src, int n) {
  int i = 0;
#ifdef __SSE2__
  for (; i + 4 <= n; i += 4) {
    _mm_storeu_ps(dst + i, _mm_add_ps(_mm_loadu_ps(dst + i), _mm_loadu_ps(src + i)));
  }
#endif
  for (; i < n; ++i) dst[i] += src[i];
}

// dst[i] += c * src[i]
inline void AddScaledInto(float* dst, float c, const float* src, int n) {
  int i = 0;
#ifdef __SSE2__
  const __m128 cc = _mm_set1_ps(c);
  for (; i + 4 <= n; i += 4) {
    _mm_storeu_ps(dst + i,
                  _mm_add_ps(_mm_loadu_ps(dst + i), _mm_mul_ps(cc, _mm_loadu_ps(src + i))));
  }
#endif
  for (; i < n; ++i) dst[i] += c * src[i];
}

// Momentum step for every weight: m = m * alpha + c; c = 0; w = w + m.
// Eight at a time where the processor runs AVX2.
void MomentumUpdate(float* w, float* m, float* c, float alpha, int n);
void MomentumUpdatePlain(float* w, float* m, float* c, float alpha, int n);

// The same over rows of a matrix of h columns stored row after row:
// dst += the rows rows[0], rows[1], ... of base, in that order.
void AddRowsInto(float* dst, const float* base, const int* rows, int n_rows, int h);
// Every row rows[t] of base += src, in that order.
void AddIntoRows(float* base, const int* rows, int n_rows, int h, const float* src);
// The scaled hyperbolic tangent A tanh(B s) of the network's units: B s in
// single precision, the tangent and the product with A in double precision,
// rounded to single; -A below s = -45 and A above 45.
float ScaledTanh(float s, float A, float B);
// out[i] = ScaledTanh(s[i], A, B), bit for bit: where the processor runs
// AVX2, four at a time from an exponential of its own, each result checked to
// round as the C library's tangent would (it is computed that way where the
// check cannot tell).
void ScaledTanhs(const float* s, float* out, int n, float A, float B);
void ScaledTanhsPlain(const float* s, float* out, int n, float A, float B);

// Both as plain loops of AddInto (for tests that compare the builds).
void AddRowsIntoPlain(float* dst, const float* base, const int* rows, int n_rows, int h);
void AddIntoRowsPlain(float* base, const int* rows, int n_rows, int h, const float* src);

}  // namespace varnik
