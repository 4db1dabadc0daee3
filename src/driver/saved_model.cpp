#include "driver/saved_model.h"

namespace varnik {

std::string SavedModelPath(const std::string& train_prefix, const std::string& report) {
  return train_prefix + "." + report + ".model";
}

void SaveModel(const Recognizer& R, const std::string& path) { R.Save(path); }

int ModelOutput(const Recognizer& R, const char* window, int L, float* score) {
  *score = R.Score(window, L);
  return *score > R.threshold() ? 1 : 0;
}

}  // namespace varnik
