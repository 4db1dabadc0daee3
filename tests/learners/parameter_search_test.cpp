#include "learners/parameter_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "core/error.h"
#include "core/numeric.h"
#include "recognizers/knn.h"
#include "recognizers/knn_rows.h"
#include "test_util.h"

namespace varnik {
namespace {

TEST(FoldTest, CyclicFolds) {
  Fold f = CyclicFold(95, 10, 0);
  ASSERT_EQ(f.test.size(), 9u);
  EXPECT_EQ(f.test.front(), 0);
  EXPECT_EQ(f.test.back(), 8);
  ASSERT_EQ(f.train.size(), 86u);
  EXPECT_EQ(f.train.front(), 9);
  EXPECT_EQ(f.train.back(), 94);
  f = CyclicFold(95, 10, 9);
  EXPECT_EQ(f.test.front(), 81);
  EXPECT_EQ(f.test.back(), 89);
  EXPECT_EQ(f.train.front(), 90);
  EXPECT_EQ(f.train[5], 0);  // cyclic: 90 .. 94, then 0 ..
  EXPECT_EQ(f.train.back(), 80);
  // The last 5 positions are never tested.
  for (int k = 0; k < 10; ++k) {
    for (int i : CyclicFold(95, 10, k).test) EXPECT_LT(i, 90);
  }
  // Fewer items than folds: nothing tested, everything trained.
  f = CyclicFold(3, 10, 4);
  EXPECT_TRUE(f.test.empty());
  EXPECT_EQ(f.train, (std::vector<int>{0, 1, 2}));
}

TEST(GridTest, TwentyOneRowsInSinglePrecision) {
  const auto& g = SvmGrid();
  ASSERT_EQ(g.size(), 21u);
  EXPECT_EQ(g[0].gamma, 0.0001f);
  EXPECT_EQ(g[0].C, 0.1f);
  EXPECT_EQ(g[17].gamma, 10.0f);
  EXPECT_EQ(g[17].C, 10.0f);
  EXPECT_EQ(static_cast<int>(g[18].kernel), 0);
  EXPECT_EQ(g[20].C, 10.0f);
}

// Windows every learner separates: positives all A, negatives all C.
using Trivial = testing::WindowLists;

Trivial TrivialWindows(int n) {
  Trivial t;
  for (int i = 0; i < n; ++i) {
    t.pos.push_back(i % 2 ? "AAAAAA" : "AAAAAT");
    t.neg.push_back(i % 2 ? "CCCCCC" : "CCCCCG");
  }
  return t;
}

// Searches and applies the choice to s; returns the report text.
std::string Search(Settings& s, const Trivial& t) {
  testing::TempDir dir;
  {
    OutputFile out;
    EXPECT_TRUE(out.Open(dir / "r"));
    SvmRandom rng;
    CrossValidatedParameters(t.P(), t.N(), 6, s, out, rng).ApplyTo(s);
    out.Close();
  }
  return testing::ReadFile(dir / "r");
}

TEST(CrossValidatedParametersTest, GridTiesGoToALargerC) {
  // Every row classifies perfectly: G = 1 throughout. Row 1 and row 2 (same
  // gamma, larger C) replace row 0; later rows never have a larger C.
  const Trivial t = TrivialWindows(20);
  Settings s;
  s.R_method = kSVM;
  s.CV_folds = 5;
  s.Verbose = 2;
  const std::string report = Search(s, t);
  EXPECT_EQ(s.Kernel, 2);
  EXPECT_EQ(s.C, 10.0f);
  EXPECT_EQ(s.Gamma, 0.0001f);
  EXPECT_NE(report.find("Kernel = 2\tC = 0.100000\tgamma = 0.000100\tAccuracy: 1.000000\n"),
            std::string::npos);
  EXPECT_NE(
      report.find(
          "Best parameters (accuracy: 1.000000): Kernel = 2\tC = 10.000000\tGamma: 0.000100\n"),
      std::string::npos);
}

TEST(CrossValidatedParametersTest, NaNCandidatesAreNeverChosen) {
  // More folds than positives: no positive is ever tested, Se is not a number.
  const Trivial t = TrivialWindows(4);
  Settings s;
  s.R_method = kSVM;
  s.CV_folds = 6;
  const std::string report = Search(s, t);
  EXPECT_EQ(report,
            "Best parameters (accuracy: -1.000000): Kernel = 2\tC = 0.100000\tGamma: 0.000100\n");
  EXPECT_EQ(s.C, 0.1f);
}

TEST(CrossValidatedParametersTest, KSearch) {
  const Trivial t = TrivialWindows(20);
  Settings s;
  s.R_method = kKNN;
  s.CV_folds = 4;
  s.Min_k = 2;
  s.Max_k = 6;
  // Every k is perfect: the smallest stays.
  EXPECT_EQ(Search(s, t), "Best parameters (accuracy: 1.000000): K = 2\n");
  EXPECT_EQ(s.K, 2);
  s.Min_k = 7;
  s.Max_k = 3;
  EXPECT_EQ(Search(s, t), "Best parameters (accuracy: -1.000000): K = 0\n");
  EXPECT_EQ(s.K, 0);
  // Methods without a search write nothing; ensembles search their base learner.
  s.R_method = kPWM;
  EXPECT_EQ(Search(s, t), "");
  s.R_method = kEasyEnsemble;
  s.Base_learner = kC45;
  EXPECT_EQ(Search(s, t), "");
  s.R_method = kSVM;
  s.CV_folds = 0;
  EXPECT_THROW(Search(s, t), VarnikError);
  // More folds than windows would only fold empty sets (and, huge, for days).
  s.R_method = kKNN;
  s.Min_k = 1;
  s.Max_k = 1;
  for (int folds : {41, 2147483647}) {
    s.CV_folds = folds;
    try {
      Search(s, t);
      ADD_FAILURE() << folds;
    } catch (const VarnikError& e) {
      EXPECT_EQ(std::string(e.what()), "CV_folds (" + std::to_string(folds) +
                                           ") is larger than the number of windows to fold (40)");
    }
  }
  s.CV_folds = 40;
  EXPECT_NO_THROW(Search(s, t));
}

std::string RandomLetters(CRandom& rng, int L, int letters) {
  std::string w(static_cast<size_t>(L), 'A');
  for (char& c : w) c = "ACGT"[rng.UniformIndex(letters)];
  return w;
}

// The k search done plainly: a recogniser per fold and k, every test window
// scored by the slot search; the report lines it would write.
std::string PlainKSearch(const testing::WindowLists& w, int L, const Settings& s) {
  const auto pos = w.P(), neg = w.N();
  std::string lines;
  float best = -1;
  int best_k = s.Min_k;
  for (int k = s.Min_k; k <= s.Max_k; ++k) {
    float TP = 0, FN = 0, TN = 0, FP = 0;
    for (int f = 0; f < s.CV_folds; ++f) {
      const Fold fp = CyclicFold(static_cast<int>(pos.size()), s.CV_folds, f);
      const Fold fn = CyclicFold(static_cast<int>(neg.size()), s.CV_folds, f);
      std::vector<const char*> p, n;
      for (int i : fp.train) p.push_back(pos[i]);
      for (int i : fn.train) n.push_back(neg[i]);
      KnnRecognizer R(s);
      BuildkNN(R, p, n, L, k);
      for (int i : fp.test)
        (ClassifySequencekNN(R, pos[i], L, s.KNN_weight_by_distance) > 0 ? TP : FN) += 1;
      for (int i : fn.test)
        (ClassifySequencekNN(R, neg[i], L, s.KNN_weight_by_distance) > 0 ? FP : TN) += 1;
    }
    const float G = static_cast<float>(std::pow(TP / (TP + FN) * (TN / (TN + FP)), 0.5));
    if (G > best) {
      best = G;
      best_k = k;
    }
    char line[80];
    std::snprintf(line, sizeof line, "K = %d\tAccuracy: %lf\n", k, static_cast<double>(G));
    lines += line;
  }
  char line[80];
  std::snprintf(line, sizeof line, "Best parameters (accuracy: %lf): K = %d\n",
                static_cast<double>(best), best_k);
  return lines + line;
}

TEST(CrossValidatedParametersTest, KSearchEqualsThePlainSearch) {
  // Ranges of k below, across and far above the folds' prototype counts (27
  // or 28 here), weighted and not.
  CRandom rng(41);
  testing::WindowLists w;
  for (int i = 0; i < 12; ++i) w.pos.push_back(RandomLetters(rng, 7, 2));
  for (int i = 0; i < 19; ++i) w.neg.push_back(RandomLetters(rng, 7, 3));
  struct Range {
    int min_k, max_k, folds;
  } ranges[] = {{1, 12, 10}, {20, 45, 10}, {26, 300, 7}, {0, 3, 3}, {500, 520, 10}};
  for (const Range& r : ranges) {
    for (bool weighted : {false, true}) {
      Settings s;
      s.R_method = kKNN;
      s.Verbose = 2;
      s.Min_k = r.min_k;
      s.Max_k = r.max_k;
      s.CV_folds = r.folds;
      s.KNN_weight_by_distance = weighted;
      testing::TempDir dir;
      {
        OutputFile out;
        ASSERT_TRUE(out.Open(dir / "r"));
        SvmRandom svm_rng;
        CrossValidatedParameters(w.P(), w.N(), 7, s, out, svm_rng);
        out.Close();
      }
      ASSERT_EQ(testing::ReadFile(dir / "r"), PlainKSearch(w, 7, s)) << r.min_k << " " << weighted;
    }
  }
}

TEST(RealRowSearchTest, FoldsThatTrainOnNegativesFirstAreNotInverted) {
  // Ten positives then ten negatives, far apart: every fold separates them,
  // whichever class its training rows start with.
  std::vector<std::vector<float>> data;
  std::vector<int> labels;
  for (int i = 0; i < 20; ++i) {
    data.push_back({i < 10 ? 0.1f * i : 5.0f + 0.1f * i, i < 10 ? 1.0f : -1.0f});
    labels.push_back(i < 10 ? 1 : -1);
  }
  std::vector<const float*> rows;
  for (const auto& r : data) rows.push_back(r.data());
  Settings s;
  s.CV_folds = 4;
  s.Verbose = 2;
  testing::TempDir dir;
  {
    OutputFile out;
    ASSERT_TRUE(out.Open(dir / "r"));
    SvmRandom rng;
    CrossValidatedSVMRealParameters(rows, 2, labels, s, out, rng);
    out.Close();
  }
  const std::string report = testing::ReadFile(dir / "r");
  EXPECT_NE(report.find("Best parameters (accuracy: 1.000000)"), std::string::npos) << report;
  EXPECT_EQ(report.find("Accuracy: 0.500000"), std::string::npos) << report;
}

TEST(RealRowSearchTest, KNearestNeighbourAndTheSearches) {
  std::vector<std::vector<float>> data = {{0, 0}, {0, 1}, {5, 5}, {5, 6}, {0, 0.5f}, {5, 5.5f}};
  std::vector<const float*> rows;
  for (const auto& r : data) rows.push_back(r.data());
  const std::vector<int> labels = {1, 1, -1, -1, 1, -1};
  const float x[] = {0, 0.2f};
  // Unweighted: the 3 nearest are the three positives.
  EXPECT_EQ(kNearestNeighbour(x, rows, 2, 3, labels, false), 3.0f);
  // Fewer prototypes than k: only the filled slots vote.
  const std::vector<const float*> two = {rows[0], rows[2]};
  EXPECT_EQ(kNearestNeighbour(x, two, 2, 5, {1, -1}, false), 0.0f);
  // Weighted: exp(-d) / Z with single-precision sums.
  const float d0 = 0.2f, d2 = EuclideanDistance(x, rows[2], 2);
  float Z = 0;
  Z = static_cast<float>(Z + std::exp(-static_cast<double>(d0)));
  Z = static_cast<float>(Z + std::exp(-static_cast<double>(d2)));
  const float expected = static_cast<float>(0.0f + std::exp(-static_cast<double>(d0)) / Z) -
                         static_cast<float>(0.0f + std::exp(-static_cast<double>(d2)) / Z);
  EXPECT_EQ(kNearestNeighbour(x, two, 2, 2, {1, -1}, true), expected);
  EXPECT_EQ(kNearestNeighbour(x, rows, 2, 0, labels, true), 0.0f);

  Settings s;
  s.CV_folds = 3;
  s.Min_k = 1;
  s.Max_k = 2;
  testing::TempDir dir;
  OutputFile out;
  ASSERT_TRUE(out.Open(dir / "r"));
  EXPECT_EQ(CrossValidatedkNNRealParameters(rows, 2, labels, s, out), 1);
  SvmRandom rng;
  const SearchChoice choice = CrossValidatedSVMRealParameters(rows, 2, labels, s, out, rng);
  EXPECT_EQ(choice.what, SearchChoice::kSvmParameters);
  out.Close();
  const std::string report = testing::ReadFile(dir / "r");
  EXPECT_NE(report.find("Stacking k-NN best parameters (accuracy: 1.000000): K = 1\n"),
            std::string::npos);
  EXPECT_TRUE(std::regex_search(
      report, std::regex("Best parameters \\(accuracy: [-0-9.]+\\): Kernel = [02]\tC = ")))
      << report;
}

}  // namespace
}  // namespace varnik
