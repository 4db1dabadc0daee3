// Small numeric helpers shared by the recognisers and learners.
#pragma once

#include <vector>

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

}  // namespace varnik
