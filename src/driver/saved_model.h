// The saved SVM recogniser: a header file (classifier, window length,
// threshold, model file name) and the SVM model file beside it.
#pragma once

#include <string>

#include "driver/recognizer.h"

namespace varnik {

// "<train prefix>.<report name>.model"
std::string SavedModelPath(const std::string& train_prefix, const std::string& report);

// Writes R's SVM to path + ".svm", then the header at path.
void SaveModel(const Recognizer& R, const std::string& path);
// Reads both back into R (SVM, window length and threshold).
void LoadModel(Recognizer& R, const std::string& path);
// The SVM output of the window stored through score; 1 when it is above the
// threshold, else 0.
int ModelOutput(const Recognizer& R, const char* window, int L, float* score);

}  // namespace varnik
