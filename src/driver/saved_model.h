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
// (Reading a saved SVM back: LoadModel, in recognizers/svm_recognizer.h.)
// The recogniser's output of the window stored through score; 1 when it is
// above the threshold, else 0.
int ModelOutput(const Recognizer& R, const char* window, int L, float* score);

}  // namespace varnik
