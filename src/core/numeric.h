// Small numeric helpers shared by the recognisers and learners.
#pragma once

#include <algorithm>
#include <vector>

#include "core/parallel.h"
#include "core/random.h"

namespace varnik {

// Fills v with 0 .. n-1, then for each i from 0 exchanges v[i] with v[j],
// j a uniform index below n.
void GetRandomisedVector(std::vector<int>& v, int n, CRandom& rng);

// Square root of the single-precision sum of squared differences; 0 when n < 1.
float EuclideanDistance(const float* a, const float* b, int n);

// Ascending order of two single-precision numbers, by the sign of their
// difference (the name is historical).
int CompareDouble(float a, float b);
// Ascending order of two integers.
int CompareInteger(int a, int b);

// Truncates position toward zero and clamps it into [0, n - 1] (0 when n < 1
// or position is not a number). Every threshold rule reads its sorted array
// through this, so no setting can make it read outside the array.
int ClampedIndex(double position, int n);

// Index of the threshold among n ascending positive scores for the desired
// sensitivity: n * (1 - sensitivity), with the single-precision setting
// widened to double, truncated and clamped.
int SensitivityIndex(int n, float sensitivity);

// Where the threshold of a method stands when no sensitivity is asked for:
// 0 (most methods), the positive a fifth of the way up (PWM, network), or
// the sensitivity index all the same (for callers that ask only when a
// sensitivity is set).
enum class WithoutSensitivity { kZero, kFifth, kIndex };

// The threshold most methods set from their training positives: the n
// scores (score(begin, end, out) fills out[begin, end), on up to `threads`
// threads, in pieces of at least `grain`), sorted ascending, read at the
// sensitivity index; 0 without positives. The scores are the same for any
// number of threads, and so is the threshold.
template <typename ScoreRange>
float TrainingThreshold(int n, float sensitivity, WithoutSensitivity otherwise, int threads,
                        int grain, ScoreRange score) {
  if (n < 1 || (sensitivity <= 0 && otherwise == WithoutSensitivity::kZero)) return 0.0f;
  std::vector<float> scores(static_cast<size_t>(n));
  ParallelPieces(n, threads, grain, [&](int begin, int end) { score(begin, end, scores.data()); });
  std::sort(scores.begin(), scores.end());
  const int index = sensitivity > 0 || otherwise == WithoutSensitivity::kIndex
                        ? SensitivityIndex(n, sensitivity)
                        : ClampedIndex(n * 0.2, n);
  return scores[static_cast<size_t>(index)];
}

}  // namespace varnik
