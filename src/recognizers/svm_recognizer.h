// The SVM recogniser on windows: a C-SVC on the one-hot encoding of the
// windows or, with the string kernels, on their letters; and the C-SVC on rows
// of real numbers used by feature elimination, the parameter search and
// stacking.
#pragma once

#include <memory>
#include <vector>

#include "core/output_file.h"
#include "core/recognizer.h"
#include "core/settings.h"
#include "svm/svm.h"

namespace varnik {

// The window as a vector: with kernel 5 or 6 one node per position (index p,
// value the letter's code); otherwise one node per A, T, G, C letter with
// index 4p + DNAindex (1 .. 4) and value 1 (other letters, the gap included,
// give none). Ends with the end node.
void WindowToNodes(const char* window, int length, int kernel, std::vector<svm_node>& out);

// Trains a C-SVC on the windows (positives target 1, negatives 0) with the
// settings' Kernel, Degree, Gamma (1 / length when 0) and C. The model owns
// its numbers as a stored model would. When threshold is given, sets it from
// the outputs of the training positives and writes the "SVM threshold" line.
std::unique_ptr<svm_model> TrainSVMClassifier(const std::vector<const char*>& poss,
                                              const std::vector<const char*>& negs, int length,
                                              const Settings& settings, OutputFile* out,
                                              float* threshold, SvmRandom& rng,
                                              svm_run* run = nullptr);

// Decision value of the first class pair for one window (larger: more like a
// positive). Without scratch, the call makes its own.
float SVMOutput(const svm_model& model, const char* window, int length, svm_scratch& scratch);
float SVMOutput(const svm_model& model, const char* window, int length);

// The SVM recogniser on windows.
class SvmRecognizer : public Recognizer {
 public:
  SvmRecognizer(const Settings& settings, std::unique_ptr<svm_model> svm)
      : Recognizer(settings, kSVM), svm(std::move(svm)) {}
  std::unique_ptr<svm_model> svm;

  float Score(const char* window, int L, int offset, ScoreScratch* scratch) const override;
  std::unique_ptr<ScoreScratch> NewScratch() const override;
  // The SVM model file at path + ".svm", then the header at path
  // (classifier, window length, threshold, the SVM file's name).
  void Save(const std::string& path) const override;
  void WritePayload(ModelWriter& w) const override;
  using Recognizer::Score;
};

// "svm n" and the n lines of the SVM model file's text, every number exact;
// "svm 0" for no machine.
void WriteSvmPayload(const svm_model* model, ModelWriter& w);
// The machine of such a payload (null for "svm 0"). windows_of: the window
// length its support vectors must fit, or 0 for rows of real numbers.
std::unique_ptr<svm_model> ReadSvmModel(ModelReader& r, int windows_of);
// The SVM recogniser of a payload: its settings take the machine's kernel.
std::unique_ptr<Recognizer> ReadSvmPayload(ModelReader& r, const Settings& settings, int L);

// Reads a saved SVM recogniser back (path and path + ".svm", as Save writes
// them): the SVM, the window length and the threshold. Its settings are the
// defaults with the method SVM and the model's kernel.
std::unique_ptr<SvmRecognizer> LoadModel(const std::string& path);
// The same from the two files' texts (path names them in messages).
std::unique_ptr<SvmRecognizer> ModelFromText(const std::string& header, std::string svm_text,
                                             const std::string& path);
// Ends the run unless the support vectors are windows of exactly
// scored_length letters (the header's length, or what a mask leaves of it).
void CheckWindowLength(const SvmRecognizer& R, int scored_length, const std::string& path);

// The SVM recogniser of the run: TrainSVMClassifier with its threshold line,
// then the "Support vectors" line.
std::unique_ptr<SvmRecognizer> TrainSVMRecognizer(const std::vector<const char*>& poss,
                                                  const std::vector<const char*>& negs, int length,
                                                  const Settings& settings, OutputFile& out,
                                                  SvmRandom& rng);

// Number of support vectors.
inline int SVMSize(const svm_model& model) { return model.l; }

// Weight vectors (one per class pair) of a machine on features 0 .. dim-1.
std::vector<std::vector<float>> GetSVMW(const svm_model& model, int dim);

// A C-SVC on rows of dim real numbers using the features whose mask entry is
// non-zero; null when dim < 1 or no feature is in use.
std::unique_ptr<svm_model> TrainSVMClassifierRealInputs(const std::vector<const float*>& rows,
                                                        const int* mask, const int* labels, int dim,
                                                        const Settings& settings, SvmRandom& rng);

// Decision value of the first class pair for one row of dim numbers, signed
// so that positive means label 1 whatever the order of the training rows.
// Without scratch, the call makes its own.
float SVMRealOutput(const svm_model& model, const float* row, int dim, svm_scratch& scratch);
float SVMRealOutput(const svm_model& model, const float* row, int dim);

// The SVM recogniser on rows of real numbers.
class SvmRowRecognizer : public RowRecognizer {
 public:
  SvmRowRecognizer(const Settings& settings, int dim, std::unique_ptr<svm_model> svm)
      : RowRecognizer(settings, kSVM, dim), svm(std::move(svm)) {}
  std::unique_ptr<svm_model> svm;  // null when no feature was in use: scores 0

  float Score(const float* row, ScoreScratch* scratch) const override;
  std::unique_ptr<ScoreScratch> NewScratch() const override;
  void WritePayload(ModelWriter& w) const override { WriteSvmPayload(svm.get(), w); }
  using RowRecognizer::Score;
};

}  // namespace varnik
