// Position weight matrix: base-2 log-odds of each letter at each position
// among the positive windows against its frequency in all training windows.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "core/output_file.h"
#include "core/recognizer.h"
#include "core/sequence_set.h"
#include "core/settings.h"

namespace varnik {

class PwmRecognizer : public Recognizer {
 public:
  explicit PwmRecognizer(const Settings& settings) : Recognizer(settings, kPWM) {}
  // One row of L log-odds weights per letter class (0 other, 1 A, 2 T, 3 G,
  // 4 C).
  std::array<std::vector<float>, 5> M;

  float Score(const char* window, int L, int offset, ScoreScratch* scratch) const override;
  void WritePayload(ModelWriter& w) const override;
  using Recognizer::Score;
};

// "pwm L" and the five rows of weights.
std::unique_ptr<Recognizer> ReadPwmPayload(ModelReader& r, const Settings& settings, int L);

// Trains the matrix from the windows, writes the "Base frequency" line and
// sets the threshold from the scores of the positives.
std::unique_ptr<PwmRecognizer> GetPositionWeightMatrix(const SequenceSet& positives,
                                                       const SequenceSet& negatives, int L,
                                                       const Settings& settings, OutputFile& out);

// Sum over the window's positions of the weight of its letter class; 0 when L <= 0.
float ScorePositionWeightMatrix(const PwmRecognizer& R, const char* window, int L);

}  // namespace varnik
