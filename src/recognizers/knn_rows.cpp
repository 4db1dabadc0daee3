#include "recognizers/knn_rows.h"

#include <cmath>

#include "core/labels.h"
#include "core/nearest.h"
#include "core/numeric.h"

namespace varnik {

float kNearestNeighbour(const float* x, const std::vector<const float*>& rows, int dim, int k,
                        const std::vector<int>& labels, bool weight_by_distance) {
  if (k <= 0) return 0.0f;
  std::vector<float> dist(static_cast<size_t>(k), 1e21f);
  std::vector<int> index(static_cast<size_t>(k), -1);
  for (size_t r = 0; r < rows.size(); ++r) {
    const float d = EuclideanDistance(x, rows[r], dim);
    if (d < dist[k - 1]) {
      EnterNearest(dist.data(), index.data(), k, d, static_cast<int>(r));
      if (dist[k - 1] == 0) break;  // k exact matches
    }
  }
  if (!weight_by_distance) {
    int score = 0;
    for (int s = 0; s < k; ++s) {
      if (index[s] >= 0) score += labels[index[s]] == kRealPositive ? 1 : -1;
    }
    return static_cast<float>(score);
  }
  float Z = 0;
  for (int s = 0; s < k; ++s) {
    if (index[s] >= 0) Z = static_cast<float>(Z + std::exp(-static_cast<double>(dist[s])));
  }
  if (Z < 1e-6) Z = 1e-6f;
  float P = 0, N = 0;
  for (int s = 0; s < k; ++s) {
    if (index[s] < 0) continue;
    const double term = std::exp(-static_cast<double>(dist[s])) / Z;
    if (labels[index[s]] == kRealPositive) {
      P = static_cast<float>(P + term);
    } else {
      N = static_cast<float>(N + term);
    }
  }
  return P - N;
}

}  // namespace varnik
