// The string kernels computed straight from their definitions, one k-mer
// length, start position and shift at a time: the reference the fast kernels
// are checked against (tests) and timed against (benchmarks).
#pragma once

#include <cmath>
#include <vector>

#include "svm/svm.h"

namespace varnik::testing {

inline int ReferenceNodeCount(const svm_node* x) {
  int n = 0;
  while (x[n].index != -1) ++n;
  return n;
}

// Weighted-degree kernel; only k-mer lengths up to the window length count.
inline double ReferenceWd(const svm_node* x, const svm_node* y, int d) {
  const int n = ReferenceNodeCount(x);
  bool same = true;
  for (int i = 0; i < n; ++i) same = same && x[i].value == y[i].value;
  if (n == 0 || same) return 1.0;
  double numerator = 0, denominator = 0;
  for (int k = 1; k <= d && k <= n; ++k) {
    const double beta = d - k + 1;
    int matches = 0;
    for (int i = 0; i <= n - k; ++i) {
      bool match = true;
      for (int j = 0; j < k && match; ++j) match = x[i + j].value == y[i + j].value;
      matches += match;
    }
    numerator += beta * matches;
    denominator += beta * (n - k + 1);
  }
  return numerator / denominator;
}

inline double ReferenceWdsSum(const svm_node* u, const svm_node* v, int d, double sigma) {
  const int n = ReferenceNodeCount(u);
  double total = 0;
  for (int k = 1; k <= d; ++k) {
    const double beta = d - k + 1;
    double k_sum = 0;
    for (int i = 0; i <= n - k; ++i) {
      const int S = static_cast<int>(i * sigma);
      double position_sum = 0;
      for (int s = 0; s <= S && s <= n - i - 1; ++s) {
        int A = 1, B = 1;
        for (int j = 0; j < k && i + s + j < n; ++j) {
          if (u[i + s + j].value != v[i + j].value) A = 0;
          if (u[i + j].value != v[i + s + j].value) B = 0;
        }
        position_sum += (A + B) / (2.0 * (s + 1));
      }
      k_sum += position_sum;
    }
    total += beta * k_sum;
  }
  return total;
}

// Weighted-degree kernel with shifts.
inline double ReferenceWds(const svm_node* x, const svm_node* y, int d, double sigma) {
  const int n = ReferenceNodeCount(x);
  bool same = true;
  for (int i = 0; i < n; ++i) same = same && x[i].value == y[i].value;
  if (n == 0 || same) return 1.0;
  return ReferenceWdsSum(x, y, d, sigma) /
         std::sqrt(ReferenceWdsSum(x, x, d, sigma) * ReferenceWdsSum(y, y, d, sigma));
}

}  // namespace varnik::testing
