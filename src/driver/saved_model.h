// The saved SVM recogniser: a header file (classifier, window length,
// threshold, model file name) and the SVM model file beside it.
#pragma once

#include <memory>
#include <string>

#include "core/recognizer.h"
#include "recognizers/svm_recognizer.h"

namespace varnik {

// "<train prefix>.<report name>.model"
std::string SavedModelPath(const std::string& train_prefix, const std::string& report);

// Writes R's SVM to path + ".svm", then the header at path. Only SVM
// recognisers are saved.
void SaveModel(const Recognizer& R, const std::string& path);
// Reads both back: the SVM, the window length and the threshold. The
// recogniser's settings are the defaults with the method SVM and the model's
// kernel.
std::unique_ptr<SvmRecognizer> LoadModel(const std::string& path);
// The same from the two files' texts (path names them in messages).
std::unique_ptr<SvmRecognizer> ModelFromText(const std::string& header, std::string svm_text,
                                             const std::string& path);
// Ends the run unless the support vectors are windows of exactly
// scored_length letters (the header's length, or what a mask leaves of it).
void CheckWindowLength(const SvmRecognizer& R, int scored_length, const std::string& path);
// The recogniser's output of the window stored through score; 1 when it is
// above the threshold, else 0.
int ModelOutput(const Recognizer& R, const char* window, int L, float* score);

}  // namespace varnik
