#include "learners/stacking.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/error.h"
#include "recognizers/c45.h"
#include "test_util.h"

namespace varnik {
namespace {

SequenceSet Windows(CRandom& rng, int n, bool signal) {
  SequenceSet set(0, 10);
  for (int i = 0; i < n; ++i) {
    std::string w(10, 'A');
    for (char& c : w) c = "ACGT"[rng.UniformIndex(4)];
    if (signal && i % 4 != 0) w.replace(4, 2, "GT");
    set.Append(w);
  }
  return set;
}

class StackingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(out_.Open(dir_ / "report"));
    ReadWindowNames(engine_, 10);
    CRandom data(4);
    pos_ = Windows(data, 24, true);
    neg_ = Windows(data, 24, false);
  }
  std::unique_ptr<StackedRecognizer> Train(const Settings& s) {
    return TrainStackerAndItsClassifiers(pos_, neg_, 10, s, {&engine_, &rng_, &svm_rng_, &out_});
  }
  testing::TempDir dir_;
  OutputFile out_;
  TreeEngine engine_;
  CRandom rng_{7};
  SvmRandom svm_rng_;
  SequenceSet pos_, neg_;
};

TEST_F(StackingTest, InputOrderAndLastingSettings) {
  struct Case {
    int methods;
    std::vector<int> bits, codes;
  } cases[] = {{6, {2, 4}, {kC45, kSVM}},
               {80, {64, 16}, {kKNN, kEasyEnsemble}},
               {8 + 2 + 128, {2, 8, 128}, {kC45, kSVM, kPWM}}};
  for (const Case& c : cases) {
    Settings s;
    s.Stacking = true;
    s.R_method = kStackingMethod;
    s.Stacking_methods = c.methods;
    s.CV_parameters = false;
    s.Ensemble_T = 2;
    s.Easy_s_i = 2;
    s.Degree = 4;
    const auto R = Train(s);
    ASSERT_EQ(R->components.size(), c.bits.size()) << c.methods;
    for (size_t i = 0; i < c.bits.size(); ++i) {
      EXPECT_EQ(R->components[i].bit, c.bits[i]);
      EXPECT_EQ(R->components[i].recognizer->method(), c.codes[i]);
    }
    EXPECT_EQ(R->method(), kStackingMethod);
    EXPECT_EQ(R->settings().Kernel, (c.methods & 8) ? 5 : 0);  // the string kernel stays
    EXPECT_EQ(R->scale_a.size(), c.bits.size());
  }
}

TEST_F(StackingTest, KnnStackerWithoutTheSearchTakesK) {
  Settings s;
  s.Stacking = true;
  s.R_method = kStackingMethod;
  s.Stacking_methods = 4;
  s.Stacker = kKNN;
  s.CV_parameters = false;
  s.KNN_weight_by_distance = false;
  s.K = 1;
  const auto R = Train(s);
  // One neighbour: a training row finds itself (or its equal), so a
  // positive whose row no negative shares scores +1.
  int ones = 0;
  for (int j = 0; j < pos_.size(); ++j) ones += R->Score(pos_[j], 10) == 1.0f;
  EXPECT_GE(ones, pos_.size() / 2);
  s.K = 3;
  const auto R3 = Train(s);
  bool three = false;
  for (int j = 0; j < pos_.size(); ++j) three |= std::fabs(R3->Score(pos_[j], 10)) == 3.0f;
  EXPECT_TRUE(three);
}

TEST_F(StackingTest, UnequalClassesStopAfterTheComponents) {
  Settings s;
  s.Stacking = true;
  s.R_method = kStackingMethod;
  s.Stacking_methods = 2;
  neg_.Append("ACGTACGTAC");
  try {
    Train(s);
    FAIL();
  } catch (const VarnikError& e) {
    EXPECT_STREQ(e.what(), "Stacking must be used with undersampling");
  }
  out_.Flush();
  EXPECT_EQ(testing::ReadFile(out_.written_path()).rfind("Tree nodes: ", 0), 0u);
}

}  // namespace
}  // namespace varnik
