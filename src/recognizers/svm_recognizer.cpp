#include "recognizers/svm_recognizer.h"

#include <algorithm>
#include <cstdio>

#include "core/error.h"
#include "core/numeric.h"
#include "core/output_file.h"
#include "core/parallel.h"
#include "core/progress.h"
#include "sequence/alphabet.h"

namespace varnik {

void SvmRecognizer::Save(const std::string& path) const {
  const std::string svm_path = path + ".svm";
  if (svm == nullptr) OnErrorExit(kUnspecifiedError, "Unable to write SVM model file " + svm_path);
  // Both files are complete before either replaces an earlier one.
  OutputFile svm_file, header;
  if (!svm_file.Open(svm_path)) {
    OnErrorExit(kUnspecifiedError,
                "Unable to write SVM model file " + svm_path + " (" + SystemReason() + ")");
  }
  svm_file.Write(svm_model_text(*svm));
  if (!header.Open(path)) {
    OnErrorExit(kUnspecifiedError,
                "Unable to open model file " + path + " for writing (" + SystemReason() + ")");
  }
  header.Printf("Classifier: %s\n", "SVM");
  header.Printf("Sequence length: %d\n", length());
  header.Printf("Threshold: %lf\n", static_cast<double>(threshold()));
  header.Printf("SVM model file name: %s\n", svm_path.c_str());
  svm_file.Close();
  header.Close();
}

void WindowToNodes(const char* window, int length, int kernel, std::vector<svm_node>& out) {
  out.clear();
  if (kernel == wd || kernel == wds) {
    for (int p = 0; p < length; ++p) {
      out.push_back({p, static_cast<double>(static_cast<unsigned char>(window[p]))});
    }
  } else {
    for (int p = 0; p < length; ++p) {
      // Only the four bases give a node: an ambiguity code has no index, and
      // a gap's index 4p would stand for the C of position p - 1.
      const int index = DNAIndexOf(window[p]);
      if (index >= 1) out.push_back({4 * p + index, 1.0});
    }
  }
  out.push_back({-1, 0.0});
}

namespace {

// Checks the parameters and trains; the model is made independent of the
// problem as a stored model.
std::unique_ptr<svm_model> TrainChecked(const svm_problem& prob, const svm_parameter& param,
                                        SvmRandom& rng, svm_run* run, const Settings& settings) {
  if (const char* error = svm_check_parameter(prob, param)) OnErrorExit(kUnspecifiedError, error);
  svm_run own;
  if (run == nullptr) run = &own;
  run->threads = std::max(1, settings.threads);
  run->memory_bytes = settings.memory_bytes;
  // The threads of the kernel columns, started once for the training.
  std::unique_ptr<ThreadTeam> team;
  if (run->threads > 1 && run->team == nullptr) {
    team = std::make_unique<ThreadTeam>(run->threads);
    run->team = team.get();
  }
  const bool show_progress = settings.progress;
  Progress progress(show_progress, "SVM training, solver steps", 0);
  if (run->progress == nullptr) run->progress = &progress;
  // The caller's run keeps no pointer to what ends here.
  struct Forget {
    svm_run* run;
    const Progress* progress;
    const ThreadTeam* team;
    ~Forget() {
      if (run->progress == progress) run->progress = nullptr;
      if (team != nullptr && run->team == team) run->team = nullptr;
    }
  } forget{run, &progress, team.get()};
  const long long steps = run->iterations, values = run->kernel_evaluations;
  std::unique_ptr<svm_model> trained = svm_train(prob, param, rng, run);
  // A training long enough to be followed ends with its figures.
  if (run->progress == &progress && progress.printed()) {
    const long long n = run->iterations - steps, computed = run->kernel_evaluations - values;
    std::fprintf(
        stderr,
        "varnik: SVM training: %lld solver steps, %lld kernel values computed (%.0f a step)\n", n,
        computed, n > 0 ? static_cast<double>(computed) / static_cast<double>(n) : 0.0);
  }
  return svm_model_as_stored(*trained);
}

svm_parameter RecognizerParameters(const Settings& s, int dim_for_gamma, int degree) {
  svm_parameter param;
  param.svm_type = c_svc;
  param.kernel_type = s.Kernel;
  param.degree = degree;
  param.gamma = s.Gamma != 0 ? static_cast<double>(s.Gamma) : 1.0 / dim_for_gamma;
  param.coef0 = 0;
  param.cache_size = 100000;
  param.C = s.C;
  param.nr_weight = 0;
  param.nu = 0.5;
  param.p = 0.1;
  param.shrinking = 1;
  param.probability = 0;
  return param;
}

}  // namespace

std::unique_ptr<svm_model> TrainSVMClassifier(const std::vector<const char*>& poss,
                                              const std::vector<const char*>& negs, int length,
                                              const Settings& settings, OutputFile* out,
                                              float* threshold, SvmRandom& rng, svm_run* run) {
  if (settings.Kernel == precomputed) {
    OnErrorExit(
        kUnspecifiedError,
        "Kernel 4 (precomputed) cannot be used on windows: choose kernel 0, 1, 2, 3, 5 or 6");
  }
  const int l = static_cast<int>(poss.size() + negs.size());
  std::vector<std::vector<svm_node>> vectors(static_cast<size_t>(l));
  svm_problem prob;
  prob.l = l;
  for (int i = 0; i < l; ++i) {
    const bool positive = i < static_cast<int>(poss.size());
    const char* w = positive ? poss[i] : negs[i - poss.size()];
    WindowToNodes(w, length, settings.Kernel, vectors[i]);
    prob.x.push_back(vectors[i].data());
    prob.y.push_back(positive ? 1.0 : 0.0);
  }
  svm_parameter param = RecognizerParameters(settings, length, settings.Degree);
  param.eps = 0.001;
  std::unique_ptr<svm_model> model = TrainChecked(prob, param, rng, run, settings);
  if ((settings.Kernel == wd || settings.Kernel == wds) && settings.Verbose > 1 && out != nullptr) {
    out->Printf("WD(S) degree = %d\n", model->param.degree);
  }
  if (threshold != nullptr) {
    *threshold = TrainingThreshold(static_cast<int>(poss.size()), settings.Sensitivity,
                                   WithoutSensitivity::kZero, settings.threads, 16,
                                   [&](int begin, int end, float* out) {
                                     svm_scratch scratch;
                                     for (int i = begin; i < end; ++i) {
                                       out[i] = SVMOutput(*model, poss[i], length, scratch);
                                     }
                                   });
    if (out != nullptr) out->Printf("SVM threshold: %lf\n", static_cast<double>(*threshold));
  }
  return model;
}

namespace {

float FirstDecisionValue(const svm_model& model, svm_scratch& scratch) {
  const int pairs = std::max(model.nr_class * (model.nr_class - 1) / 2, 1);
  scratch.dec_values.assign(static_cast<size_t>(pairs), 0.0);
  svm_predict_values(model, scratch.nodes.data(), scratch.dec_values.data(), scratch);
  return static_cast<float>(scratch.dec_values[0]);
}

struct SvmScratch : ScoreScratch {
  svm_scratch svm;
};

}  // namespace

float SVMOutput(const svm_model& model, const char* window, int length, svm_scratch& scratch) {
  WindowToNodes(window, length, model.param.kernel_type, scratch.nodes);
  return FirstDecisionValue(model, scratch);
}

float SVMOutput(const svm_model& model, const char* window, int length) {
  svm_scratch scratch;
  return SVMOutput(model, window, length, scratch);
}

std::unique_ptr<ScoreScratch> SvmRecognizer::NewScratch() const {
  return std::make_unique<SvmScratch>();
}

float SvmRecognizer::Score(const char* window, int L, int, ScoreScratch* scratch) const {
  if (scratch == nullptr) return SVMOutput(*svm, window, L);
  return SVMOutput(*svm, window, L, static_cast<SvmScratch*>(scratch)->svm);
}

std::unique_ptr<SvmRecognizer> TrainSVMRecognizer(const std::vector<const char*>& poss,
                                                  const std::vector<const char*>& negs, int length,
                                                  const Settings& settings, OutputFile& out,
                                                  SvmRandom& rng) {
  float threshold = 0.0f;
  auto R = std::make_unique<SvmRecognizer>(
      settings, TrainSVMClassifier(poss, negs, length, settings, &out, &threshold, rng));
  R->set_threshold(threshold);
  out.Printf("Support vectors: %d\n", SVMSize(*R->svm));
  return R;
}

std::vector<std::vector<float>> GetSVMW(const svm_model& model, int dim) {
  const int nr_class = model.nr_class;
  std::vector<int> start(static_cast<size_t>(nr_class), 0);
  for (int i = 1; i < nr_class; ++i) start[i] = start[i - 1] + model.nSV[i - 1];
  std::vector<std::vector<float>> w;
  std::vector<float> dense(static_cast<size_t>(std::max(dim, 0)));
  auto expand = [&](const svm_node* sv) {
    std::fill(dense.begin(), dense.end(), 0.0f);
    for (; sv->index != -1; ++sv) {
      if (sv->index >= 0 && sv->index < dim) dense[sv->index] = static_cast<float>(sv->value);
    }
  };
  for (int i = 0; i < nr_class; ++i) {
    for (int j = i + 1; j < nr_class; ++j) {
      std::vector<float> v(static_cast<size_t>(std::max(dim, 0)), 0.0f);
      for (int k = 0; k < model.nSV[i]; ++k) {
        expand(model.SV[start[i] + k]);
        const double coef = model.sv_coef[j - 1][start[i] + k];
        for (int f = 0; f < dim; ++f) v[f] = static_cast<float>(v[f] + coef * dense[f]);
      }
      for (int k = 0; k < model.nSV[j]; ++k) {
        expand(model.SV[start[j] + k]);
        const double coef = model.sv_coef[i][start[j] + k];
        for (int f = 0; f < dim; ++f) v[f] = static_cast<float>(v[f] + coef * dense[f]);
      }
      w.push_back(std::move(v));
    }
  }
  return w;
}

std::unique_ptr<svm_model> TrainSVMClassifierRealInputs(const std::vector<const float*>& rows,
                                                        const int* mask, const int* labels, int dim,
                                                        const Settings& settings, SvmRandom& rng) {
  const int nrows = static_cast<int>(rows.size());
  if (dim < 1) return nullptr;
  int in_use = 0;
  for (int j = 0; j < dim; ++j) in_use += mask[j] != 0;
  if (in_use == 0) return nullptr;
  // Rows of letter indices for the string kernels keep every position: a
  // letter whose index is 0 dropped as a zero would shift every later one.
  const bool letters = settings.Kernel == wd || settings.Kernel == wds;
  std::vector<std::vector<svm_node>> vectors(static_cast<size_t>(nrows));
  svm_problem prob;
  prob.l = nrows;
  for (int i = 0; i < nrows; ++i) {
    const float* row = rows[i];
    for (int j = 0; j < dim; ++j) {
      if (mask[j] != 0 && (letters || row[j] * row[j] > 1e-6)) vectors[i].push_back({j, row[j]});
    }
    vectors[i].push_back({-1, 0.0});
    prob.x.push_back(vectors[i].data());
    prob.y.push_back(static_cast<double>(labels[i]));
  }
  svm_parameter param = RecognizerParameters(settings, dim, 3);
  param.eps = 0.01;
  return TrainChecked(prob, param, rng, nullptr, settings);
}

float SVMRealOutput(const svm_model& model, const float* row, int dim) {
  svm_scratch scratch;
  return SVMRealOutput(model, row, dim, scratch);
}

std::unique_ptr<ScoreScratch> SvmRowRecognizer::NewScratch() const {
  return std::make_unique<SvmScratch>();
}

float SvmRowRecognizer::Score(const float* row, ScoreScratch* scratch) const {
  if (svm == nullptr) return 0.0f;
  if (scratch == nullptr) return SVMRealOutput(*svm, row, dim());
  return SVMRealOutput(*svm, row, dim(), static_cast<SvmScratch*>(scratch)->svm);
}

float SVMRealOutput(const svm_model& model, const float* row, int dim, svm_scratch& scratch) {
  std::vector<svm_node>& nodes = scratch.nodes;
  nodes.clear();
  const bool letters = model.param.kernel_type == wd || model.param.kernel_type == wds;
  for (int j = 0; j < dim; ++j) {
    if (letters || row[j] * row[j] > 1e-6) nodes.push_back({j, row[j]});
  }
  nodes.push_back({-1, 0.0});
  // The first class pair's value is positive for the label met first in
  // training; rows may come in any order, so it is turned to favour label 1.
  const float value = FirstDecisionValue(model, scratch);
  return model.label.size() >= 2 && model.label[0] != 1 ? -value : value;
}

}  // namespace varnik
