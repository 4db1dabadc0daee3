// Hamming k-NN computed the straightforward way, to check the fast version
// against, in tests and benchmarks.
#pragma once

#include <cmath>
#include <string>
#include <vector>

namespace varnik::testing {

// Straightforward k-NN: every distance in full, then the slot rule.
inline float ReferenceKnnScore(const std::vector<std::string>& pos,
                               const std::vector<std::string>& neg, const std::string& w, int k,
                               bool weighted) {
  const int L = static_cast<int>(w.size());
  std::vector<float> dist(static_cast<size_t>(k), 2.0f);
  std::vector<int> label(static_cast<size_t>(k), -1);
  auto visit = [&](const std::string& proto, int cls) {
    float count = 0.0f;
    for (int i = 0; i < L; ++i) count += w[i] != proto[i] ? 1.0f : 0.0f;
    const float d = count / static_cast<float>(L);
    if (!(d < dist[k - 1])) return;
    int p = 0;
    while (dist[p] < d) ++p;
    for (int s = k - 1; s > p; --s) {
      dist[s] = dist[s - 1];
      label[s] = label[s - 1];
    }
    dist[p] = d;
    label[p] = cls;
  };
  for (const std::string& p : pos) visit(p, 1);
  for (const std::string& n : neg) visit(n, 0);
  if (!weighted) {
    int s = 0;
    for (int l : label) s += l == 1 ? 1 : (l == 0 ? -1 : 0);
    return static_cast<float>(s);
  }
  float Z = 0.0f, P = 0.0f, N = 0.0f;
  for (float d : dist) Z = static_cast<float>(Z + std::exp(-static_cast<double>(d)));
  if (Z < 1e-6) Z = 1e-6f;
  for (int s = 0; s < k; ++s) {
    const double t = std::exp(-static_cast<double>(dist[s])) / Z;
    if (label[s] == 1) P = static_cast<float>(P + t);
    if (label[s] == 0) N = static_cast<float>(N + t);
  }
  return P - N;
}

}  // namespace varnik::testing
