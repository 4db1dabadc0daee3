// Numeric encodings of windows for the learners that work on numbers, and
// per-feature linear scaling.
#pragma once

#include <cstdint>
#include <vector>

#include "core/sequence_set.h"
#include "core/settings.h"

namespace varnik {

// Rows of single-precision numbers with one label per row (0 for a positive,
// 1 for a negative), stored row after row.
struct ScalarData {
  int ndata = 0;
  int dim = 0;
  std::vector<float> values;
  std::vector<int32_t> labels;

  float* row(int i) { return values.data() + static_cast<size_t>(i) * dim; }
  const float* row(int i) const { return values.data() + static_cast<size_t>(i) * dim; }
};

// One-hot encoding of one window: 4 numbers per position in the order A, T,
// G, C; every other letter gives four zeros. Writes 4 * length numbers.
void ConvertToScalarSequence(const char* sequence, int length, float* out);

// Positions of the ones of the one-hot encoding, ascending: 4p + 0 for an A
// at position p, + 1 for T, + 2 for G, + 3 for C. Returns their number.
int OneHotIndices(const char* sequence, int length, int32_t* out);

// The positives (label 0) then the negatives (label 1) as one matrix: with
// Kernel 5 or 6 one letter index (DNAindex) per position, else one-hot.
ScalarData ConvertToScalarData(const SequenceSet& positives, const SequenceSet& negatives,
                               int length, int kernel);

// Scales every feature j to a[j] * x + b[j], mapping its minimum to lower and
// its maximum to upper (a = 1, b = 0 for a column whose range is at most
// 1e-6, and for every column when scale is off). Scales data in place and
// returns a and b.
struct ScaleCoefficients {
  std::vector<float> a;
  std::vector<float> b;
};
ScaleCoefficients ScaleData(ScalarData& data, float lower, float upper, bool scale);

}  // namespace varnik
