// Choosing learner settings by k-fold cross-validation, each candidate scored
// by the geometric mean G of sensitivity and specificity.
#pragma once

#include <vector>

#include "common/output_file.h"
#include "driver/settings.h"
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

// Searches the method R_method (the Base_learner for the ensembles): the SVM
// grid (sets Kernel, Gamma, C) or the k of the k-NN (sets K). Other methods:
// nothing. Positives and negatives are folded separately.
void CrossValidatedParameters(const std::vector<const char*>& positives,
                              const std::vector<const char*>& negatives, int L, Settings& settings,
                              OutputFile& out, SvmRandom& rng);

// The SVM grid on rows of dim real numbers (label 1 positive); sets Kernel,
// Gamma and C.
void CrossValidatedSVMRealParameters(const std::vector<const float*>& rows, int dim,
                                     const std::vector<int>& labels, Settings& settings,
                                     OutputFile& out, SvmRandom& rng);

// The k of the k-NN on real rows; returns it (K is left as it is).
int CrossValidatedkNNRealParameters(const std::vector<const float*>& rows, int dim,
                                    const std::vector<int>& labels, const Settings& settings,
                                    OutputFile& out);

// k-NN score of the real vector x against labelled prototype rows (Euclidean
// distance): positive means more positive neighbours.
float kNearestNeighbour(const float* x, const std::vector<const float*>& rows, int dim, int k,
                        const std::vector<int>& labels, bool weight_by_distance);

}  // namespace varnik
