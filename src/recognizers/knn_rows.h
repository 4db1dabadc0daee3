// The k-NN on rows of real numbers (Euclidean distance): the stacker of
// stacking and its k search.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "core/recognizer.h"
#include "sequence/encoding.h"

namespace varnik {

// k-NN score of the real vector x against labelled prototype rows: positive
// means more positive neighbours (labels 1 are positives).
float kNearestNeighbour(const float* x, const std::vector<const float*>& rows, int dim, int k,
                        const std::vector<int>& labels, bool weight_by_distance);

// The k-NN stacker: the scaled training rows are its prototypes (a copy).
class KnnRowRecognizer : public RowRecognizer {
 public:
  // One label per row.
  KnnRowRecognizer(const Settings& settings, int dim, int k, const ScalarData& rows,
                   std::vector<int> labels)
      : KnnRowRecognizer(settings, dim, k, rows.values, std::move(labels)) {}
  // The prototypes as rows of dim numbers, one after another.
  KnnRowRecognizer(const Settings& settings, int dim, int k, std::vector<float> rows,
                   std::vector<int> labels)
      : RowRecognizer(settings, kKNN, dim),
        k_(k),
        protos_(std::move(rows)),
        labels_(std::move(labels)) {
    for (size_t i = 0; i < labels_.size(); ++i) rows_.push_back(protos_.data() + i * dim);
  }
  float Score(const float* row, ScoreScratch*) const override {
    return kNearestNeighbour(row, rows_, dim(), k_, labels_, settings().KNN_weight_by_distance);
  }
  // "knn_rows dim k n", the n rows and their labels.
  void WritePayload(ModelWriter& w) const override;

 private:
  int k_;
  std::vector<float> protos_;
  std::vector<const float*> rows_;
  std::vector<int> labels_;
};

// The k-NN stacker of a payload.
std::unique_ptr<RowRecognizer> ReadKnnRowsPayload(ModelReader& r, const Settings& settings);

}  // namespace varnik
