// Choosing learner settings by k-fold cross-validation, each candidate scored
// by the geometric mean G of sensitivity and specificity.
#pragma once

#include <cmath>
#include <vector>

#include "core/output_file.h"
#include "core/settings.h"
#include "svm/svm.h"

namespace varnik {

// The kernel-cache budget of each of `concurrent` SVM trainings that run at
// once: the run's --memory (or the default) shared among them.
long long MemoryPerTraining(const Settings& s, int concurrent);

// The cyclic folds: of m items, fold f tests the s = m / folds items at
// positions f*s .. f*s + s - 1 (modulo m) and trains on the m - s items that
// follow them cyclically.
struct Fold {
  std::vector<int> test, train;
};
Fold CyclicFold(int m, int folds, int f);

// Calls of a cross-validation, summed over folds (whole numbers held in
// single precision).
struct FoldCounts {
  float TP = 0, FN = 0, TN = 0, FP = 0;
  void Add(const FoldCounts& o) {
    TP += o.TP;
    FN += o.FN;
    TN += o.TN;
    FP += o.FP;
  }
  // (Se * Sp)^0.5 in double precision, stored in single; NaN without
  // positives or negatives tested.
  float G() const {
    const float se = TP / (TP + FN);
    const float sp = TN / (TN + FP);
    return static_cast<float>(std::pow(se * sp, 0.5));
  }
};

// The calls on fold f's test windows of an SVM trained on the rest of the
// windows (positives and negatives folded separately, F folds; a score
// above 0 is a site).
FoldCounts SvmFoldCounts(const std::vector<const char*>& pos, const std::vector<const char*>& neg,
                         int L, int F, int f, const Settings& settings, SvmRandom& rng);

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

// Every cross-validation folds the windows CV_folds ways: refuses a count
// below 1.
void RefuseNoFolds(const Settings& settings);

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

}  // namespace varnik
