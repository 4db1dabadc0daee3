// Position weight matrix: base-2 log-odds of each letter at each position
// among the positive windows against its frequency in all training windows.
#pragma once

#include "common/output_file.h"
#include "driver/recognizer.h"
#include "driver/settings.h"
#include "sequence/sequence_set.h"

namespace varnik {

// Trains R.M from the windows, writes the "Base frequency" line and sets
// R.threshold from the scores of the positives.
void GetPositionWeightMatrix(Recognizer& R, const SequenceSet& positives,
                             const SequenceSet& negatives, int L, const Settings& settings,
                             OutputFile& out);

// Sum over the window's positions of the weight of its letter class; 0 when L <= 0.
float ScorePositionWeightMatrix(const Recognizer& R, const char* window, int L);

}  // namespace varnik
