// Every method's recogniser through the common interface: its method code,
// its own settings, and scores that do not depend on how (or from how many
// threads at once) it is asked.
#include "core/recognizer.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "recognizers/c45.h"
#include "recognizers/knn.h"
#include "recognizers/neural_network.h"
#include "recognizers/pwm.h"
#include "recognizers/stop_codon.h"
#include "recognizers/svm_recognizer.h"
#include "test_util.h"

namespace varnik {
namespace {

constexpr int kL = 12;

// Windows with a planted GT at positions 5-6 in the positives.
SequenceSet SignalSet(CRandom& rng, int n, bool positive) {
  SequenceSet set(0, kL);
  for (int i = 0; i < n; ++i) {
    std::string w(kL, 'A');
    for (char& c : w) c = "ACGT"[rng.UniformIndex(4)];
    if (positive && i % 5 != 0) w.replace(5, 2, "GT");
    set.Append(w);
  }
  return set;
}

class RecognizerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CRandom rng(31);
    pos_ = SignalSet(rng, 30, true);
    neg_ = SignalSet(rng, 50, false);
    queries_ = SignalSet(rng, 40, false);
    for (int i = 0; i < 10; ++i) queries_.Append(pos_[i]);
    ASSERT_TRUE(out_.Open(dir_ / "report"));
  }

  // One trained recogniser per method, each with its own settings.
  std::vector<std::unique_ptr<Recognizer>> TrainEveryMethod() {
    std::vector<std::unique_ptr<Recognizer>> all;
    Settings s;
    s.R_method = kPWM;
    all.push_back(GetPositionWeightMatrix(pos_, neg_, kL, s, out_));
    s.R_method = kKNN;
    s.K = 5;
    all.push_back(TrainkNN(pos_, neg_, kL, s, out_));
    s.R_method = kC45;
    engine_ = std::make_unique<TreeEngine>();
    ReadWindowNames(*engine_, kL);
    CRandom rng(3);
    all.push_back(TrainC45Recognizer(*engine_, pos_.Pointers(), neg_.Pointers(), kL, s, rng, out_));
    s.R_method = kSVM;
    SvmRandom svm_rng;
    for (int kernel : {2, 5}) {
      s.Kernel = kernel;
      s.Degree = 3;
      all.push_back(TrainSVMRecognizer(pos_.Pointers(), neg_.Pointers(), kL, s, out_, svm_rng));
    }
    s.R_method = kNeuralNet;
    s.Eta = 0.05f;
    s.N_epochs = 200;
    all.push_back(TrainNeuralNetwork(pos_, neg_, kL, 6, s, rng));
    s.R_method = kSTOP;
    auto stop = std::make_unique<StopCodonRecognizer>(s);
    stop->scores = {0.5f, 0.25f, -1.0f};
    all.push_back(std::move(stop));
    return all;
  }

  testing::TempDir dir_;
  OutputFile out_;
  SequenceSet pos_, neg_, queries_;
  std::unique_ptr<TreeEngine> engine_;
};

TEST_F(RecognizerTest, MethodCodesAndOwnSettings) {
  const auto all = TrainEveryMethod();
  const std::vector<int> methods = {kPWM, kKNN, kC45, kSVM, kSVM, kNeuralNet, kSTOP};
  ASSERT_EQ(all.size(), methods.size());
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i]->method(), methods[i]) << i;
    EXPECT_EQ(all[i]->settings().R_method, methods[i]) << i;
  }
  // Each SVM kept the kernel it was trained with.
  EXPECT_EQ(all[3]->settings().Kernel, 2);
  EXPECT_EQ(all[4]->settings().Kernel, 5);
  EXPECT_EQ(static_cast<const SvmRecognizer&>(*all[4]).svm->param.kernel_type, 5);
}

TEST_F(RecognizerTest, ScoresAreTheSameWithOrWithoutScratchAndFromManyThreads) {
  const auto all = TrainEveryMethod();
  for (const auto& R : all) {
    // A fresh scratch for every window is the reference.
    std::vector<float> expected;
    for (int i = 0; i < queries_.size(); ++i) expected.push_back(R->Score(queries_[i], kL, 0));
    Scorer scorer(*R);
    for (int i = 0; i < queries_.size(); ++i) {
      ASSERT_EQ(scorer(queries_[i], kL), expected[i]) << R->method() << " " << i;
      ASSERT_EQ(scorer.Classify(queries_[i], kL), expected[i] > R->threshold() ? 1 : 0);
    }
    // Four threads score every window at once, each with its own scorer.
    std::vector<std::vector<float>> got(4);
    std::vector<std::thread> threads;
    for (auto& g : got) {
      threads.emplace_back([&R, &g, this] {
        Scorer own(*R);
        for (int round = 0; round < 3; ++round) {
          for (int i = 0; i < queries_.size(); ++i) g.push_back(own(queries_[i], kL));
        }
      });
    }
    for (std::thread& t : threads) t.join();
    for (const auto& g : got) {
      ASSERT_EQ(g.size(), 3 * expected.size());
      for (size_t i = 0; i < g.size(); ++i) {
        ASSERT_EQ(g[i], expected[i % expected.size()]) << R->method() << " " << i;
      }
    }
  }
}

TEST_F(RecognizerTest, LaterChangesToTheRunSettingsDoNotReachATrainedRecogniser) {
  Settings s;
  s.R_method = kKNN;
  s.K = 7;
  s.KNN_weight_by_distance = true;
  const auto R = TrainkNN(pos_, neg_, kL, s, out_);
  std::vector<float> before;
  for (int i = 0; i < queries_.size(); ++i) before.push_back(R->Score(queries_[i], kL));
  s.KNN_weight_by_distance = false;
  s.K = 1;
  s.R_method = kPWM;
  for (int i = 0; i < queries_.size(); ++i) EXPECT_EQ(R->Score(queries_[i], kL), before[i]);
  // Weighted scores lie in [-1, 1]; some query is not a whole number.
  bool fractional = false;
  for (float v : before) fractional |= v != static_cast<float>(static_cast<int>(v));
  EXPECT_TRUE(fractional);
}

}  // namespace
}  // namespace varnik
