#include "learners/feature_selection.h"

#include <gtest/gtest.h>

#include <regex>

#include "core/error.h"
#include "test_util.h"

namespace varnik {
namespace {

SequenceSet Set(const std::vector<std::string>& windows) {
  SequenceSet set(0, static_cast<int>(windows[0].size()));
  for (const std::string& w : windows) set.Append(w);
  return set;
}

class FeatureSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(out_.Open(dir_ / "report")); }
  std::string Report() {
    out_.Flush();
    return testing::ReadFile(out_.written_path());
  }
  testing::TempDir dir_;
  OutputFile out_;
  SvmRandom svm_rng_;
};

TEST_F(FeatureSelectionTest, RfeRanksInBatchesAndPassesEqualWeightsInFeatureOrder) {
  // 25 features; 0 .. 4 are always 0 (weight 0: out first, in feature order).
  CRandom rng(6);
  std::vector<std::vector<float>> data;
  std::vector<int> labels;
  for (int i = 0; i < 40; ++i) {
    std::vector<float> row(25, 0.0f);
    for (int j = 5; j < 25; ++j) {
      row[j] = static_cast<float>(rng.UniformNumber()) + (i < 20 ? 0.05f * j : 0.0f);
    }
    data.push_back(row);
    labels.push_back(i < 20 ? 0 : 1);
  }
  std::vector<const float*> rows;
  for (const auto& r : data) rows.push_back(r.data());
  Settings s;
  s.Kernel = 0;
  s.Verbose = 1;
  const std::vector<FeatureInfo> f = RFE(rows, labels, 25, s, out_, svm_rng_);
  ASSERT_EQ(f.size(), 25u);
  std::vector<int> seen(25, 0);
  for (int j = 0; j < 25; ++j) {
    EXPECT_EQ(f[j].feature, j);
    ++seen[f[j].ranking];
  }
  EXPECT_EQ(seen, std::vector<int>(25, 1));
  for (int j = 0; j < 5; ++j) EXPECT_EQ(f[j].ranking, j);
  // Three steps; the step number is the count removed before it plus one.
  const std::string report = Report();
  const std::vector<std::string> lines = testing::Lines(report);
  ASSERT_EQ(lines.size(), 25u);
  for (int i = 0; i < 25; ++i) {
    const int step = i < 10 ? 1 : (i < 20 ? 11 : 21);
    EXPECT_TRUE(std::regex_match(
        lines[i], std::regex("Instance out in step +" + std::to_string(step) + ": \\d+")))
        << lines[i];
  }
  EXPECT_EQ(lines[0], "Instance out in step   1: 1");
  // A batch of 0 (refused by the parameter table) still removes one feature a
  // step and ends.
  s.RFE_subset_size = 0;
  const std::vector<FeatureInfo> zero = RFE(rows, labels, 25, s, out_, svm_rng_);
  s.RFE_subset_size = 1;
  const std::vector<FeatureInfo> one = RFE(rows, labels, 25, s, out_, svm_rng_);
  for (int j = 0; j < 25; ++j) EXPECT_EQ(zero[j].ranking, one[j].ranking) << j;
}

TEST(GeneticAlgorithmTest, CrossoverDistanceAndSelection) {
  Individual a = {1, 1, 0, 0, 1, 1, 0}, b = {1, 0, 1, 0, 1, 0, 1}, ca, cb;
  // They differ at 1, 2, 5, 6: kept, exchanged, kept, exchanged.
  HuxCrossover(a, b, ca, cb);
  EXPECT_EQ(ca, (Individual{1, 1, 1, 0, 1, 1, 1}));
  EXPECT_EQ(cb, (Individual{1, 0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(HammingDistanceInteger(a, b), 4);
  EXPECT_EQ(OrderedSelection({0.5f, 0.9f, 0.2f, 0.9f}, 0, 4), 1);  // the first on ties
  EXPECT_EQ(OrderedSelection({0.5f, 0.9f, 0.2f, 0.9f}, 2, 4), 3);
  CRandom rng(3);
  Individual x(50, 0);
  EXPECT_FALSE(RandomMutation(x, 0.0f, rng));
  EXPECT_TRUE(RandomMutation(x, 1.0f, rng));
  EXPECT_EQ(x, Individual(50, 1));
}

TEST_F(FeatureSelectionTest, HillClimbingAcceptsTiesAndTheIncestThresholdFalls) {
  // Every position separates the classes: G is 1 for any non-empty selection.
  const SequenceSet pos = Set(std::vector<std::string>(12, "AAAAAAAA"));
  const SequenceSet neg = Set(std::vector<std::string>(12, "CCCCCCCC"));
  Settings s;
  s.R_method = kSVM;
  s.CV_folds = 3;
  s.GAFS_alpha = 1.0f;
  SelectionEvaluator evaluator(pos, neg, 8, s, svm_rng_);
  Individual x(8, 1);
  float G = 0, reduction = 0;
  const float fitness = evaluator.LSMutation(x, &G, &reduction);
  // Each flip to 0 ties (G stays 1) and is kept, until the last would leave
  // no position.
  EXPECT_EQ(x, (Individual{0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(fitness, 1.0f);
  EXPECT_EQ(reduction, 1.0f - 1.0f / 8.0f);
  // Identical individuals never mate while the threshold (8 / 4 = 2) is
  // above their distance 0: generations 1 and 2 only lower it, generation 3
  // mates and reports.
  s.GAFS_popsize = 4;
  s.GAFS_generations = 3;
  s.GAFS_set_probability = 1.0f;
  s.GAFS_mutation = 0.0f;
  s.GAFS_lsmutation = 0.0f;
  s.Verbose = 1;
  CRandom rng(1);
  GAFeatureSelection(pos, neg, 8, s, rng, svm_rng_, out_);
  const std::vector<std::string> lines = testing::Lines(Report());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Generation:  3. Best fitness: 1.0000\tG: 1.0000\t", 0), 0u) << lines[0];
  // An odd population (refused by the parameter table) runs as the even one
  // below it.
  CRandom again(1), odd(1);
  const std::vector<int> even = GAFeatureSelection(pos, neg, 8, s, again, svm_rng_, out_);
  s.GAFS_popsize = 5;
  EXPECT_EQ(GAFeatureSelection(pos, neg, 8, s, odd, svm_rng_, out_), even);
}

TEST_F(FeatureSelectionTest, CrossValidatedFractionsAndTheirTieRule) {
  const SequenceSet pos = Set(std::vector<std::string>(10, "AAAAAAAAAA"));
  const SequenceSet neg = Set(std::vector<std::string>(10, "CCCCCCCCCC"));
  const std::vector<int> ranking = {3, 1, 4, 0, 5, 9, 2, 6, 8, 7};
  Settings s;
  s.R_method = kSVM;
  s.CV_folds = 2;
  s.CV_parameters = false;
  s.Verbose = 2;
  const FractionChoice c =
      CrossValidateFeatureSelection(0.1f, pos, neg, 10, ranking, s, out_, svm_rng_);
  EXPECT_EQ(c.fraction, 0.5f + 0.1f + 0.1f + 0.1f + 0.1f);  // every G is 1: the last wins
  EXPECT_EQ(Report(),
            "Percentage = 0.500000\tG: 1.000000\nPercentage = 0.600000\tG: 1.000000\n"
            "Percentage = 0.700000\tG: 1.000000\nPercentage = 0.800000\tG: 1.000000\n"
            "Percentage = 0.900000\tG: 1.000000\n"
            "Best parameters (accuracy: 1.000000): Kernel = 0\tC = 1.000000\tGamma: 1.000000\n");
  // Nothing to try, or a learner the search does not handle: 0.
  s.FS_min_percent = 1.5f;
  EXPECT_EQ(CrossValidateFeatureSelection(0.1f, pos, neg, 10, ranking, s, out_, svm_rng_).fraction,
            0.0f);
  s.FS_min_percent = 0.5f;
  s.R_method = kKNN;
  EXPECT_EQ(CrossValidateFeatureSelection(0.1f, pos, neg, 10, ranking, s, out_, svm_rng_).fraction,
            0.0f);
  // The kept positions, in ranking order.
  SequenceSet w = Set({"ACGTACGTAC"});
  EXPECT_EQ(KeepPositions(w, {3, 1, 4}), 3);
  EXPECT_STREQ(w[0], "TCA");
}

}  // namespace
}  // namespace varnik
