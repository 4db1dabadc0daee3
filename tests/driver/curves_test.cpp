#include "driver/curves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace varnik {
namespace {

// Average precision as the mean over the positives of the precision among
// the windows scoring at least as high as each (ties taken together).
double BruteAveragePrecision(const std::vector<float>& pos, const std::vector<float>& neg) {
  double sum = 0;
  for (float s : pos) {
    double tp = 0, called = 0;
    for (float p : pos) tp += p >= s;
    for (float n : neg) called += n >= s;
    sum += tp / (tp + called);
  }
  return sum / static_cast<double>(pos.size());
}

// DeLong's interval from the full matrix of pair comparisons.
AucInterval BruteDelong(const std::vector<float>& pos, const std::vector<float>& neg) {
  const size_t m = pos.size(), n = neg.size();
  std::vector<double> v10(m, 0), v01(n, 0);
  double auc = 0;
  for (size_t i = 0; i < m; ++i) {
    for (size_t j = 0; j < n; ++j) {
      const double psi = pos[i] > neg[j] ? 1 : pos[i] == neg[j] ? 0.5 : 0;
      v10[i] += psi / static_cast<double>(n);
      v01[j] += psi / static_cast<double>(m);
      auc += psi / static_cast<double>(m * n);
    }
  }
  double s10 = 0, s01 = 0;
  for (double v : v10) s10 += (v - auc) * (v - auc) / static_cast<double>(m - 1);
  for (double v : v01) s01 += (v - auc) * (v - auc) / static_cast<double>(n - 1);
  const double half = 1.959963984540054 * std::sqrt(s10 / m + s01 / n);
  return {auc, std::max(0.0, auc - half), std::min(1.0, auc + half)};
}

struct Case {
  const char* name;
  std::vector<float> pos, neg;
};

TEST(CurvesTest, AveragePrecisionAndIntervalAgreeWithDirectFormulas) {
  const std::vector<Case> cases = {
      {"separated", {3, 4, 5}, {0, 1, 2}},
      {"reversed", {0, 1}, {2, 3, 4}},
      {"ties across classes", {1, 2, 2, 3, 3, 3}, {0, 2, 3, 3, 1, 1}},
      {"all tied", {0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}},
      {"one window per class plus", {7, 1}, {7, 7, 2}},
      {"negative scores", {-0.25f, -1, 3e10f}, {-3e10f, -0.25f, 0}},
  };
  for (Case c : cases) {
    std::sort(c.pos.begin(), c.pos.end());
    std::sort(c.neg.begin(), c.neg.end());
    EXPECT_NEAR(AveragePrecision(c.pos, c.neg), BruteAveragePrecision(c.pos, c.neg), 1e-12)
        << c.name;
    const AucInterval got = DelongInterval(c.pos, c.neg), want = BruteDelong(c.pos, c.neg);
    EXPECT_NEAR(got.auc, want.auc, 1e-12) << c.name;
    EXPECT_NEAR(got.low, want.low, 1e-12) << c.name;
    EXPECT_NEAR(got.high, want.high, 1e-12) << c.name;
  }
}

TEST(CurvesTest, KnownValues) {
  // The usual four-window example: AP 0.8333.
  EXPECT_NEAR(AveragePrecision({0.35f, 0.8f}, {0.1f, 0.4f}), 5.0 / 6.0, 1e-12);
  // All tied: the precision is the positives' share at the one threshold.
  EXPECT_NEAR(AveragePrecision({1, 1}, {1, 1, 1, 1, 1, 1}), 0.25, 1e-12);
  // By hand: AUC 0.875, both placement variances 1/32, so the standard
  // error is sqrt(1/32) and the upper bound is clipped to 1.
  const AucInterval r = DelongInterval({2, 3}, {1, 2});
  EXPECT_DOUBLE_EQ(r.auc, 0.875);
  EXPECT_NEAR(r.low, 0.875 - 1.959963984540054 * std::sqrt(1.0 / 32), 1e-12);
  EXPECT_EQ(r.high, 1.0);
  // Perfect separation has no spread.
  const AucInterval perfect = DelongInterval({5, 6, 7}, {1, 2});
  EXPECT_EQ(perfect.low, 1.0);
  EXPECT_EQ(perfect.high, 1.0);
}

TEST(CurvesTest, UndefinedWithoutEnoughWindowsAndSaidSo) {
  EXPECT_TRUE(std::isnan(AveragePrecision({}, {1, 2})));
  EXPECT_TRUE(std::isnan(AveragePrecision({1, 2}, {})));
  EXPECT_FALSE(DelongInterval({1}, {0, 2}).defined());
  EXPECT_EQ(DelongInterval({1}, {0, 3}).auc, 0.5);
  EXPECT_FALSE(DelongInterval({1, 2}, {}).defined());
  EXPECT_EQ(MeasuresText(DelongInterval({}, {1}), AveragePrecision({}, {1})),
            "AUC undefined (95% CI undefined), AP undefined");
  EXPECT_EQ(MeasuresText(DelongInterval({2, 3}, {1, 2}), 0.5),
            "AUC 0.8750 (95% CI 0.5285 to 1.0000), AP 0.5000");
}

TEST(CurvesTest, OnePointPerDistinctScoreFromTheHighestDown) {
  const std::vector<CurvePoint> points = CurvePoints({1, 2, 2, 4}, {0, 2, 3});
  const std::vector<std::vector<long long>> want = {
      {4, 1, 0}, {3, 1, 1}, {2, 3, 2}, {1, 4, 2}, {0, 4, 3}};
  ASSERT_EQ(points.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) {
    EXPECT_EQ(points[k].threshold, static_cast<float>(want[k][0])) << k;
    EXPECT_EQ(points[k].TP, want[k][1]) << k;
    EXPECT_EQ(points[k].FP, want[k][2]) << k;
  }
}

}  // namespace
}  // namespace varnik
