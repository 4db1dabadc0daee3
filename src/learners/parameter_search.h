// Choosing learner settings by k-fold cross-validation, each candidate scored
// by the geometric mean G of sensitivity and specificity.
#pragma once

#include <vector>

#include "core/output_file.h"
#include "core/settings.h"
#include "svm/svm.h"

namespace varnik {

// The cyclic folds: of m items, fold f tests the s = m / folds items at
// positions f*s .. f*s + s - 1 (modulo m) and trains on the m - s items that
// follow them cyclically.
struct Fold {
  std::vector<int> test, train;
};
Fold CyclicFold(int m, int folds, int f);

// The grid of the SVM searches: (kernel code, gamma, C) in single precision.
struct GridRow {
  float kernel, gamma, C;
};
const std::vector<GridRow>& SvmGrid();

// What a search chose; the caller applies it to its settings.
struct SearchChoice {
  enum What { kNothing, kSvmParameters, kK };
  What what = kNothing;
  int Kernel = 0;
  float Gamma = 0.0f;
  float C = 0.0f;
  int K = 0;
  // Sets Kernel, Gamma and C, or K, as chosen.
  void ApplyTo(Settings& settings) const;
};

// Searches the method R_method (the Base_learner for the ensembles): the SVM
// grid (Kernel, Gamma, C) or the k of the k-NN (K). Other methods: nothing.
// Positives and negatives are folded separately.
SearchChoice CrossValidatedParameters(const std::vector<const char*>& positives,
                                      const std::vector<const char*>& negatives, int L,
                                      const Settings& settings, OutputFile& out, SvmRandom& rng);

// The SVM grid on rows of dim real numbers (label 1 positive): Kernel, Gamma
// and C.
SearchChoice CrossValidatedSVMRealParameters(const std::vector<const float*>& rows, int dim,
                                             const std::vector<int>& labels,
                                             const Settings& settings, OutputFile& out,
                                             SvmRandom& rng);

// The k of the k-NN on real rows; returns it (K is left as it is).
int CrossValidatedkNNRealParameters(const std::vector<const float*>& rows, int dim,
                                    const std::vector<int>& labels, const Settings& settings,
                                    OutputFile& out);

// k-NN score of the real vector x against labelled prototype rows (Euclidean
// distance): positive means more positive neighbours.
float kNearestNeighbour(const float* x, const std::vector<const float*>& rows, int dim, int k,
                        const std::vector<int>& labels, bool weight_by_distance);

}  // namespace varnik
