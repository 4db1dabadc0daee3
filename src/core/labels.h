// The class labels used outside the SVM engine's own +1 / -1, named so that
// a flip between two conventions shows where it happens.
#pragma once

namespace varnik {

// Rows of the scalar data matrix (the encodings, feature selection): 0 for a
// positive window, 1 for a negative one.
enum ScalarRowLabel : int { kRowPositive = 0, kRowNegative = 1 };

// Rows of the real-row learners (the stacker and its searches): 1 for a
// positive, 0 for a negative. Their SVM's score is turned to favour label 1.
enum RealRowLabel : int { kRealPositive = 1, kRealNegative = 0 };

}  // namespace varnik
