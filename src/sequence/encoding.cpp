#include "sequence/encoding.h"

#include <algorithm>
#include <cmath>

#include "core/labels.h"
#include "sequence/alphabet.h"

namespace varnik {

namespace {

// Slot of a letter in a one-hot block (A, T, G, C), or -1.
inline int OneHotSlot(char c) {
  switch (c) {
    case 'A':
      return 0;
    case 'T':
      return 1;
    case 'G':
      return 2;
    case 'C':
      return 3;
    default:
      return -1;
  }
}

}  // namespace

void ConvertToScalarSequence(const char* sequence, int length, float* out) {
  for (int p = 0; p < length; ++p) {
    float* block = out + 4 * static_cast<size_t>(p);
    block[0] = block[1] = block[2] = block[3] = 0.0f;
    const int slot = OneHotSlot(sequence[p]);
    if (slot >= 0) block[slot] = 1.0f;
  }
}

int OneHotIndices(const char* sequence, int length, int32_t* out) {
  int n = 0;
  for (int p = 0; p < length; ++p) {
    const int slot = OneHotSlot(sequence[p]);
    if (slot >= 0) out[n++] = 4 * p + slot;
  }
  return n;
}

ScalarData ConvertToScalarData(const SequenceSet& positives, const SequenceSet& negatives,
                               int length, int kernel) {
  ScalarData data;
  const bool letter_index = kernel == 5 || kernel == 6;
  data.ndata = positives.size() + negatives.size();
  data.dim = letter_index ? length : 4 * length;
  data.values.assign(static_cast<size_t>(data.ndata) * std::max(data.dim, 0), 0.0f);
  data.labels.assign(static_cast<size_t>(data.ndata), 0);
  for (int i = 0; i < data.ndata; ++i) {
    const bool positive = i < positives.size();
    const char* w = positive ? positives[i] : negatives[i - positives.size()];
    data.labels[i] = positive ? kRowPositive : kRowNegative;
    float* row = data.row(i);
    if (letter_index) {
      for (int p = 0; p < length; ++p) row[p] = static_cast<float>(DNAIndexOf(w[p]));
    } else {
      ConvertToScalarSequence(w, length, row);
    }
  }
  return data;
}

ScaleCoefficients ScaleData(ScalarData& data, float lower, float upper, bool scale) {
  ScaleCoefficients c;
  c.a.assign(static_cast<size_t>(std::max(data.dim, 0)), 1.0f);
  c.b.assign(static_cast<size_t>(std::max(data.dim, 0)), 0.0f);
  if (!scale || data.ndata == 0) return c;
  for (int j = 0; j < data.dim; ++j) {
    float mn = data.row(0)[j], mx = mn;
    for (int i = 1; i < data.ndata; ++i) {
      mn = std::min(mn, data.row(i)[j]);
      mx = std::max(mx, data.row(i)[j]);
    }
    const float range = mx - mn;
    if (std::fabs(range) > 1e-6) {
      c.a[j] = (upper - lower) / range;
      c.b[j] = (mx * lower - mn * upper) / range;
    }
  }
  for (int i = 0; i < data.ndata; ++i) {
    float* row = data.row(i);
    for (int j = 0; j < data.dim; ++j) row[j] = c.a[j] * row[j] + c.b[j];
  }
  return c;
}

}  // namespace varnik
