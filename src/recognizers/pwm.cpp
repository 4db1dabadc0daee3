#include "recognizers/pwm.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/error.h"
#include "core/numeric.h"
#include "sequence/alphabet.h"

namespace varnik {

std::unique_ptr<PwmRecognizer> GetPositionWeightMatrix(const SequenceSet& positives,
                                                       const SequenceSet& negatives, int L,
                                                       const Settings& settings, OutputFile& out) {
  const int n_pos = positives.size();
  const int n_neg = negatives.size();
  if (n_pos < 1) OnErrorExit(kUnspecifiedError, "GetPositionWeightMatrix: no positive windows");
  auto model = std::make_unique<PwmRecognizer>(settings);
  PwmRecognizer& R = *model;
  float bg[5];
  // The pseudocount of 1 and the counts are added in single precision below.
  std::vector<long long> bg_count(5, 0);
  for (int i = 0; i < n_neg; ++i) {
    const char* w = negatives[i];
    for (int j = 0; j < L; ++j) ++bg_count[PWMIndexOf(w[j])];
  }
  std::vector<std::vector<long long>> count(5, std::vector<long long>(static_cast<size_t>(L), 0));
  for (int i = 0; i < n_pos; ++i) {
    const char* w = positives[i];
    for (int j = 0; j < L; ++j) ++count[PWMIndexOf(w[j])][j];
  }
  for (int b = 0; b < 5; ++b) {
    for (int j = 0; j < L; ++j) bg_count[b] += count[b][j];
  }
  // Adding one at a time to a single-precision counter that starts at 1 is
  // exact up to 2^24, where it stops growing.
  auto accumulate = [](long long n) {
    return static_cast<float>(std::min<long long>(n + 1, 16777216));
  };
  for (int b = 0; b < 5; ++b) bg[b] = accumulate(bg_count[b]);
  for (int b = 0; b < 5; ++b) {
    R.M[b].assign(static_cast<size_t>(std::max(L, 0)), 0.0f);
    for (int j = 0; j < L; ++j) R.M[b][j] = accumulate(count[b][j]);
  }
  const float bg_total = static_cast<float>((static_cast<long long>(n_neg) + n_pos) * L + 5);
  const float pos_total = static_cast<float>(n_pos + 5);
  for (int b = 0; b < 5; ++b) bg[b] = bg[b] / bg_total;
  for (int b = 0; b < 5; ++b) {
    for (int j = 0; j < L; ++j) R.M[b][j] = R.M[b][j] / pos_total;
  }
  out.Printf("Base frequency: A: %4.2lf%% T: %4.2lf%% G: %4.2lf%% C: %4.2lf%% Other: %4.2lf%%\n",
             static_cast<double>(bg[1]), static_cast<double>(bg[2]), static_cast<double>(bg[3]),
             static_cast<double>(bg[4]), static_cast<double>(bg[0]));
  for (int b = 0; b < 5; ++b) {
    for (int j = 0; j < L; ++j) R.M[b][j] = log2f(R.M[b][j] / bg[b]);
  }
  R.set_threshold(TrainingThreshold(n_pos, settings.Sensitivity, WithoutSensitivity::kFifth, 1, 1,
                                    [&](int begin, int end, float* out) {
                                      for (int i = begin; i < end; ++i) {
                                        out[i] = ScorePositionWeightMatrix(R, positives[i], L);
                                      }
                                    }));
  return model;
}

float PwmRecognizer::Score(const char* window, int L, int, ScoreScratch*) const {
  return ScorePositionWeightMatrix(*this, window, L);
}

float ScorePositionWeightMatrix(const PwmRecognizer& R, const char* window, int L) {
  float score = 0.0f;
  for (int j = 0; j < L; ++j) score += R.M[PWMIndexOf(window[j])][j];
  return score;
}

void PwmRecognizer::WritePayload(ModelWriter& w) const {
  w.Line("pwm", {ModelWriter::Of(static_cast<int>(M[0].size()))});
  for (const std::vector<float>& row : M) w.Floats("weights", row.data(), row.size());
}

std::unique_ptr<Recognizer> ReadPwmPayload(ModelReader& r, const Settings& settings, int L) {
  const long long n = r.ExpectCount("pwm", 0, 1 << 28);
  if (n != L)
    r.Fail("the matrix has " + std::to_string(n) + " columns, the window " + std::to_string(L) +
           " letters");
  auto R = std::make_unique<PwmRecognizer>(settings);
  for (std::vector<float>& row : R->M) row = r.Floats("weights", static_cast<size_t>(n));
  return R;
}

}  // namespace varnik
