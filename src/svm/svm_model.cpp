// What a trained model tells about itself, and its release.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "svm/internal/kernel.h"
#include "svm/internal/training.h"
#include "svm/svm.h"

namespace varnik {

int svm_get_svm_type(const svm_model& model) { return model.param.svm_type; }

int svm_get_nr_class(const svm_model& model) { return model.nr_class; }

void svm_get_labels(const svm_model& model, int* label) {
  for (size_t i = 0; i < model.label.size(); ++i) label[i] = model.label[i];
}

double svm_get_svr_probability(const svm_model& model) {
  if ((model.param.svm_type == epsilon_svr || model.param.svm_type == nu_svr) &&
      !model.probA.empty()) {
    return model.probA[0];
  }
  std::fprintf(stderr, "Model doesn't contain information for SVR probability inference\n");
  return 0;
}

int svm_check_probability_model(const svm_model& model) {
  return ((model.param.svm_type == c_svc || model.param.svm_type == nu_svc) &&
          !model.probA.empty() && !model.probB.empty()) ||
         ((model.param.svm_type == epsilon_svr || model.param.svm_type == nu_svr) &&
          !model.probA.empty());
}

void svm_free_and_destroy_model(std::unique_ptr<svm_model>& model) { model.reset(); }

void svm_free_model_content(svm_model& model) {
  const svm_parameter param = model.param;
  model = svm_model();
  model.param = param;
}

void svm_destroy_model(std::unique_ptr<svm_model>& model) {
  std::fprintf(stderr,
               "warning: svm_destroy_model is deprecated and should not be used. Please use "
               "svm_free_and_destroy_model(svm_model **model_ptr_ptr)\n");
  svm_free_and_destroy_model(model);
}

void svm_destroy_param(svm_parameter& param) {
  param.weight_label.clear();
  param.weight.clear();
  param.nr_weight = 0;
}

}  // namespace varnik
