// Cross-validation: the fold layout and the predictions of each fold's model.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "svm/internal/kernel.h"
#include "svm/internal/training.h"
#include "svm/svm.h"

namespace varnik {

void svm_fold_layout(const svm_problem& prob, const svm_parameter& param, int nr_fold,
                     SvmRandom& rng, std::vector<int>& perm, std::vector<int>& fold_start) {
  const int l = prob.l;
  perm.assign(static_cast<size_t>(std::max(l, 0)), 0);
  fold_start.assign(static_cast<size_t>(std::max(nr_fold, 0)) + 1, 0);
  if (nr_fold < 1 || l < 1) return;
  if ((param.svm_type == c_svc || param.svm_type == nu_svc) && nr_fold < l) {
    // Stratified folds: each class shuffled and dealt out evenly.
    const ClassGroups g = svm_group_classes(prob);
    std::vector<int> index = g.perm;
    for (int c = 0; c < g.nr_class; ++c) {
      for (int i = 0; i < g.count[c]; ++i) {
        const int j = i + rng.Next() % (g.count[c] - i);
        std::swap(index[g.start[c] + j], index[g.start[c] + i]);
      }
    }
    std::vector<int> fold_count(static_cast<size_t>(nr_fold), 0);
    for (int i = 0; i < nr_fold; ++i) {
      for (int c = 0; c < g.nr_class; ++c) {
        fold_count[i] += (i + 1) * g.count[c] / nr_fold - i * g.count[c] / nr_fold;
      }
    }
    fold_start[0] = 0;
    for (int i = 1; i <= nr_fold; ++i) fold_start[i] = fold_start[i - 1] + fold_count[i - 1];
    std::vector<int> next(fold_start.begin(), fold_start.end() - 1);
    for (int c = 0; c < g.nr_class; ++c) {
      for (int i = 0; i < nr_fold; ++i) {
        const int begin = g.start[c] + i * g.count[c] / nr_fold;
        const int end = g.start[c] + (i + 1) * g.count[c] / nr_fold;
        for (int j = begin; j < end; ++j) perm[next[i]++] = index[j];
      }
    }
  } else {
    for (int i = 0; i < l; ++i) perm[i] = i;
    for (int i = 0; i < l; ++i) {
      const int j = i + rng.Next() % (l - i);
      std::swap(perm[i], perm[j]);
    }
    for (int i = 0; i <= nr_fold; ++i) fold_start[i] = i * l / nr_fold;
  }
}

void svm_cross_validation(const svm_problem& prob, const svm_parameter& param, int nr_fold,
                          double* target, SvmRandom& rng, svm_run* run) {
  const int l = prob.l;
  if (nr_fold < 1 || l < 1) return;
  std::vector<int> perm, fold_start;
  svm_fold_layout(prob, param, nr_fold, rng, perm, fold_start);
  for (int i = 0; i < nr_fold; ++i) {
    const int begin = fold_start[i];
    const int end = fold_start[i + 1];
    const svm_problem sub = ProblemWithout(prob, perm, begin, end);
    std::unique_ptr<svm_model> submodel = svm_train(sub, param, rng, run);
    if (param.probability && (param.svm_type == c_svc || param.svm_type == nu_svc)) {
      std::vector<double> prob_estimates(static_cast<size_t>(svm_get_nr_class(*submodel)));
      for (int j = begin; j < end; ++j) {
        target[perm[j]] =
            svm_predict_probability(*submodel, prob.x[perm[j]], prob_estimates.data());
      }
    } else {
      for (int j = begin; j < end; ++j) target[perm[j]] = svm_predict(*submodel, prob.x[perm[j]]);
    }
  }
}

}  // namespace varnik
