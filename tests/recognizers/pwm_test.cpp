#include "recognizers/pwm.h"

#include <gtest/gtest.h>

#include <cmath>

#include "test_util.h"

namespace varnik {
namespace {

SequenceSet Set(const std::vector<std::string>& windows) {
  SequenceSet set(0, windows.empty() ? 1 : static_cast<int>(windows[0].size()));
  for (const std::string& w : windows) set.Append(w);
  return set;
}

// Trains into R and returns the report text.
std::string Train(std::unique_ptr<PwmRecognizer>& R, const std::vector<std::string>& pos,
                  const std::vector<std::string>& neg, const Settings& s) {
  testing::TempDir dir;
  {
    OutputFile out;
    EXPECT_TRUE(out.Open(dir / "r"));
    R = GetPositionWeightMatrix(Set(pos), Set(neg), static_cast<int>(pos[0].size()), s, out);
    out.Close();
  }
  return testing::ReadFile(dir / "r");
}

TEST(PwmTest, OnePositiveOneNegative) {
  std::unique_ptr<PwmRecognizer> trained;
  Settings s;
  const std::string line = Train(trained, {"AAAA"}, {"CCCC"}, s);
  const PwmRecognizer& R = *trained;
  // Background (Other, A, T, G, C) = (1, 5, 1, 1, 5) / 13; at every position
  // A has 2 / 6 and each other class 1 / 6.
  EXPECT_EQ(line, "Base frequency: A: 0.38% T: 0.08% G: 0.08% C: 0.38% Other: 0.08%\n");
  const float bg_a = 5.0f / 13.0f, bg_rare = 1.0f / 13.0f;
  for (int j = 0; j < 4; ++j) {
    EXPECT_EQ(R.M[1][j], log2f((2.0f / 6.0f) / bg_a));
    EXPECT_EQ(R.M[2][j], log2f((1.0f / 6.0f) / bg_rare));
    EXPECT_EQ(R.M[4][j], log2f((1.0f / 6.0f) / bg_a));
    EXPECT_EQ(R.M[0][j], R.M[2][j]);
  }
  // The single positive's score is the threshold.
  EXPECT_EQ(R.threshold(), ScorePositionWeightMatrix(R, "AAAA", 4));
}

TEST(PwmTest, AmbiguousLettersScoreWithTheOtherRow) {
  std::unique_ptr<PwmRecognizer> trained;
  Settings s;
  Train(trained, {"ACGT", "ACGA"}, {"TTTT", "GGGG"}, s);
  const PwmRecognizer& R = *trained;
  const float other = R.M[0][0] + R.M[0][1] + R.M[0][2] + R.M[0][3];
  for (const char* w : {"NNNN", "XXXX", "----", "RYKM"}) {
    EXPECT_EQ(ScorePositionWeightMatrix(R, w, 4), other) << w;
  }
  EXPECT_EQ(ScorePositionWeightMatrix(R, "ACGT", 0), 0.0f);
  EXPECT_GT(ScorePositionWeightMatrix(R, "ACGA", 4), ScorePositionWeightMatrix(R, "TTTT", 4));
}

TEST(PwmTest, ThresholdIndexFollowsTheDesiredSensitivity) {
  // Ten positives with distinct scores: k copies of A in the first position...
  std::vector<std::string> pos;
  for (int k = 0; k < 10; ++k)
    pos.push_back(std::string(static_cast<size_t>(k), 'A') +
                  std::string(static_cast<size_t>(9 - k), 'C'));
  const std::vector<std::string> neg = {"CCCCCCCCC", "GGGGGGGGG"};
  auto sorted_scores = [&](const PwmRecognizer& R) {
    std::vector<float> v;
    for (const std::string& w : pos) v.push_back(ScorePositionWeightMatrix(R, w.c_str(), 9));
    std::sort(v.begin(), v.end());
    return v;
  };
  struct Case {
    float sensitivity;
    int index;
  } cases[] = {{0.8f, 1}, {0.5f, 5}, {0.0f, 2}, {1.0f, 0}, {1.5f, 0}, {-1.0f, 2}, {0.05f, 9}};
  for (const Case& c : cases) {
    Settings s;
    s.Sensitivity = c.sensitivity;
    std::unique_ptr<PwmRecognizer> R;
    Train(R, pos, neg, s);
    const std::vector<float> v = sorted_scores(*R);
    ASSERT_LT(v[0], v[9]);
    EXPECT_EQ(R->threshold(), v[c.index]) << c.sensitivity;
  }
}

}  // namespace
}  // namespace varnik
