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

void KnnRowRecognizer::WritePayload(ModelWriter& w) const {
  w.Line("knn_rows", {ModelWriter::Of(dim()), ModelWriter::Of(k_),
                      ModelWriter::Of(static_cast<int>(labels_.size()))});
  for (const float* row : rows_) w.Floats("row", row, static_cast<size_t>(dim()));
  w.Ints("labels", labels_.data(), labels_.size());
}

std::unique_ptr<RowRecognizer> ReadKnnRowsPayload(ModelReader& r, const Settings& settings) {
  const std::vector<std::string_view> f =
      r.Expect("knn_rows", 3, "the row length, k and the count");
  const int dim = static_cast<int>(r.Whole(f[0], 1, 1 << 20));
  const int k = static_cast<int>(r.Whole(f[1], 0, 1 << 30));
  const long long n = r.Whole(f[2], 0, 1 << 30);
  r.RefuseCount(n, 2 * static_cast<size_t>(dim) + 4, "rows");
  std::vector<float> rows;
  rows.reserve(static_cast<size_t>(n) * dim);
  for (long long i = 0; i < n; ++i) {
    const std::vector<float> row = r.Floats("row", static_cast<size_t>(dim));
    rows.insert(rows.end(), row.begin(), row.end());
  }
  std::vector<int> labels = r.Ints("labels", static_cast<size_t>(n), 0, 1);
  return std::make_unique<KnnRowRecognizer>(settings, dim, k, std::move(rows), std::move(labels));
}

}  // namespace varnik
