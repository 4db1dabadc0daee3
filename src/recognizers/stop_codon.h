// The stop-codon method: a window scores by the codon number at which the
// first in-frame stop codon falls. Its table cannot be trained here.
#pragma once

#include <vector>

#include "core/recognizer.h"

namespace varnik {

// Training entry point: ends the run ("Offset to sequence must be
// reprogrammed").
[[noreturn]] void StopCodonMethod();

// Score of a window from a table of n_scores entries: scores[k] for the first
// stop codon (TAG, TAA, TGA) at codon k after the first codon of the frame
// starting at offset, the last entry when none is met within the table; 0 for
// an empty table.
float GetSequenceScore(const char* window, int L, const std::vector<float>& scores, int offset);

class StopCodonRecognizer : public Recognizer {
 public:
  explicit StopCodonRecognizer(const Settings& settings) : Recognizer(settings, kSTOP) {}
  std::vector<float> scores;  // by the codon number of the first stop codon

  float Score(const char* window, int L, int offset, ScoreScratch*) const override {
    return GetSequenceScore(window, L, scores, offset);
  }
  using Recognizer::Score;
};

}  // namespace varnik
