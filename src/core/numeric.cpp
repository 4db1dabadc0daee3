#include "core/numeric.h"

#include <cmath>
#include <utility>

namespace varnik {

void GetRandomisedVector(std::vector<int>& v, int n, CRandom& rng) {
  v.resize(n > 0 ? static_cast<size_t>(n) : 0);
  for (int i = 0; i < n; ++i) v[i] = i;
  for (int i = 0; i < n; ++i) {
    const int j = rng.UniformIndex(n);
    std::swap(v[i], v[j]);
  }
}

float EuclideanDistance(const float* a, const float* b, int n) {
  if (n < 1) return 0.0f;
  float sum = 0.0f;
  for (int i = 0; i < n; ++i) {
    const float d = a[i] - b[i];
    sum += d * d;
  }
  return std::sqrt(sum);
}

int CompareDouble(float a, float b) {
  const float d = a - b;
  return d > 0 ? 1 : (d < 0 ? -1 : 0);
}

int CompareInteger(int a, int b) { return a > b ? 1 : (a < b ? -1 : 0); }

int ClampedIndex(double position, int n) {
  if (n < 1 || !(position > 0.0)) return 0;
  if (position >= static_cast<double>(n - 1)) return n - 1;
  return static_cast<int>(position);
}

int SensitivityIndex(int n, float sensitivity) {
  return ClampedIndex(n * (1.0 - static_cast<double>(sensitivity)), n);
}

}  // namespace varnik
