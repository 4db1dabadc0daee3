#include "recognizers/stop_codon.h"

#include "core/error.h"

namespace varnik {

void StopCodonMethod() {
  OnErrorExit(kUnspecifiedError, "Offset to sequence must be reprogrammed");
}

namespace {

// A stop codon in the three letters at p; a codon cut off by the window's end
// is none.
bool IsStopCodon(const char* w, int p, int L) {
  if (p + 2 >= L) return false;
  return w[p] == 'T' && ((w[p + 1] == 'A' && (w[p + 2] == 'G' || w[p + 2] == 'A')) ||
                         (w[p + 1] == 'G' && w[p + 2] == 'A'));
}

}  // namespace

float GetSequenceScore(const char* window, int L, const std::vector<float>& scores, int offset) {
  const int n_scores = static_cast<int>(scores.size());
  if (n_scores <= 0) return 0.0f;
  int p = (offset > 0 ? offset : 0) + 3;
  int k = 0;
  if (p < L) {
    while (!IsStopCodon(window, p, L)) {
      p += 3;
      ++k;
      if (p >= L || k == n_scores) break;
    }
  }
  return k < n_scores ? scores[k] : scores[n_scores - 1];
}

}  // namespace varnik
