#include "driver/saved_model.h"

#include <cstdio>

#include "core/error.h"
#include "core/output_file.h"

namespace varnik {

std::string SavedModelPath(const std::string& train_prefix, const std::string& report) {
  return train_prefix + "." + report + ".model";
}

void SaveModel(const Recognizer& R, const std::string& path) {
  const auto* svm = dynamic_cast<const SvmRecognizer*>(&R);
  if (svm == nullptr) OnErrorExit(kUnspecifiedError, "Not yet implemented");
  const std::string svm_path = path + ".svm";
  if (svm->svm == nullptr || svm_save_model(svm_path, *svm->svm) != 0) {
    OnErrorExit(kUnspecifiedError, "Unable to write SVM model file " + svm_path);
  }
  OutputFile header;
  if (!header.Open(path)) OnErrorExit(kUnspecifiedError, "Unable to open model file for writing");
  header.Printf("Classifier: %s\n", "SVM");
  header.Printf("Sequence length: %d\n", R.length());
  header.Printf("Threshold: %lf\n", static_cast<double>(R.threshold()));
  header.Printf("SVM model file name: %s\n", svm_path.c_str());
  header.Close();
}

namespace {
std::unique_ptr<SvmRecognizer> ModelFromFiles(std::unique_ptr<svm_model> model, std::FILE* f,
                                              const std::string& path);
}  // namespace

std::unique_ptr<SvmRecognizer> LoadModel(const std::string& path) {
  std::unique_ptr<svm_model> model = svm_load_model(path + ".svm");
  if (model == nullptr) OnErrorExit(kUnspecifiedError, "Error loading SVM model");
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) OnErrorExit(kUnspecifiedError, "Unable to open model file " + path);
  return ModelFromFiles(std::move(model), f, path);
}

std::unique_ptr<SvmRecognizer> ModelFromText(const std::string& header, std::string svm_text,
                                             const std::string& path) {
  std::unique_ptr<svm_model> model = svm_parse_model(std::move(svm_text));
  if (model == nullptr) OnErrorExit(kUnspecifiedError, "Error loading SVM model");
  std::FILE* f = fmemopen(const_cast<char*>(header.data()), header.size(), "r");
  if (f == nullptr) OnErrorExit(kUnspecifiedError, "Unable to open model file " + path);
  return ModelFromFiles(std::move(model), f, path);
}

namespace {

// The header (open in f, closed here) checked against the SVM model.
std::unique_ptr<SvmRecognizer> ModelFromFiles(std::unique_ptr<svm_model> model, std::FILE* f,
                                              const std::string& path) {
  char word[81];
  int length = 0;
  float threshold = 0;
  const bool ok = std::fscanf(f, "Classifier: %80s\n", word) == 1 &&
                  std::fscanf(f, "Sequence length: %d\n", &length) == 1 &&
                  std::fscanf(f, "Threshold: %f", &threshold) == 1;
  std::fclose(f);
  if (!ok) OnErrorExit(kUnspecifiedError, "Malformed model file " + path);
  // The support vectors must fit windows of the header's length: one node
  // per letter for the string kernels, indexes up to 4 L for one-hot windows.
  const bool letters = model->param.kernel_type == wd || model->param.kernel_type == wds;
  for (int i = 0; i < model->l; ++i) {
    int n = 0;
    bool fits = length >= 0;
    for (const svm_node* x = model->SV[i]; x->index != -1 && fits; ++x) {
      ++n;
      fits = letters ? n <= length : x->index <= 4LL * length;
    }
    if (!fits) {
      OnErrorExit(kUnspecifiedError, "Model file " + path + ".svm does not fit windows of " +
                                         std::to_string(length) + " letters (its header)");
    }
  }
  Settings settings;
  settings.R_method = kSVM;
  settings.Kernel = model->param.kernel_type;
  auto R = std::make_unique<SvmRecognizer>(settings, std::move(model));
  R->set_length(length);
  R->set_threshold(threshold);
  return R;
}

}  // namespace

int ModelOutput(const Recognizer& R, const char* window, int L, float* score) {
  *score = R.Score(window, L);
  return *score > R.threshold() ? 1 : 0;
}

}  // namespace varnik
