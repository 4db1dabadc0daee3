#include "learners/ensemble.h"

#include <gtest/gtest.h>

#include <cmath>

#include "test_util.h"

namespace varnik {
namespace {

// Windows of 10 letters; positives carry GT at 4-5 when signal is set.
std::vector<std::string> Windows(CRandom& rng, int n, bool signal) {
  std::vector<std::string> v;
  for (int i = 0; i < n; ++i) {
    std::string w(10, 'A');
    for (char& c : w) c = "ACGT"[rng.UniformIndex(4)];
    if (signal) w.replace(4, 2, "GT");
    v.push_back(w);
  }
  return v;
}

class EnsembleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(out_.Open(dir_ / "report"));
    ReadWindowNames(engine_, 10);
  }
  std::string Report() {
    out_.Flush();
    return testing::ReadFile(out_.written_path());
  }
  EnsembleContext Context() { return {&engine_, &rng_, &svm_rng_, &out_}; }

  testing::TempDir dir_;
  OutputFile out_;
  TreeEngine engine_;
  CRandom rng_{12};
  SvmRandom svm_rng_;
};

TEST(RouletteTest, FirstCumulativeWeightAtOrAboveTheDraw) {
  const std::vector<float> c = {1.0f, 1.0f, 3.0f, 6.0f};
  CRandom rng(4), draws(4);
  for (int t = 0; t < 200; ++t) {
    const float x = static_cast<float>(draws.UniformNumber() * 6.0f + 0.0);
    const int expected = x <= 1.0f ? 0 : (x <= 3.0f ? 2 : 3);  // index 1 has no weight
    ASSERT_EQ(RouletteSelection(c, 4, rng), expected) << x;
  }
}

TEST_F(EnsembleTest, PerfectAndUselessBaseClassifiers) {
  CRandom data(1);
  testing::WindowLists w;
  w.pos = Windows(data, 20, true);
  w.neg = Windows(data, 60, false);
  for (std::string& n : w.neg) n.replace(4, 2, "CC");  // no negative has the GT
  Settings s;
  s.R_method = kEasyEnsemble;
  s.Ensemble_T = 2;
  s.Easy_s_i = 3;
  s.Verbose = 2;
  auto R = TrainEasyEnsemble(w.P(), w.N(), 10, s, Context());
  ASSERT_EQ(R->multiensemble.n_ensembles, 2);
  for (const Ensemble& E : R->multiensemble.ensemble) {
    ASSERT_EQ(E.n_classifiers, 3);
    for (float a : E.alpha) EXPECT_EQ(a, 10.0f);  // every step separates, from equal weights
  }
  EXPECT_NE(Report().find("Classifier 3/3 of ensemble 2/2 error: 0.000000\t size: "),
            std::string::npos);
  // Positives and negatives alike: every output is 0, wrong in both classes.
  testing::WindowLists same;
  same.pos = Windows(data, 10, true);
  same.neg = same.pos;
  auto U = TrainEasyEnsemble(same.P(), same.N(), 10, s, Context());
  for (const Ensemble& E : U->multiensemble.ensemble) {
    for (float a : E.alpha) EXPECT_EQ(a, 0.0f);
  }
}

// Members grown side by side give the one-thread ensembles, report lines and
// generator state, with one trial or several (whose shuffles draw numbers
// too), and with fewer negatives than positives.
TEST(EasyEnsembleThreadsTest, SideBySideEqualsOneAfterAnother) {
  struct Case {
    int pos, neg;
    short trials;
  };
  for (const Case c : {Case{15, 60, 1}, Case{15, 60, 3}, Case{30, 12, 2}}) {
    std::string text[2];
    std::vector<float> scores[2];
    CRandom after[2];
    for (int k = 0; k < 2; ++k) {
      testing::TempDir dir;
      OutputFile out;
      ASSERT_TRUE(out.Open(dir / "report"));
      TreeEngine engine;
      ReadWindowNames(engine, 10);
      CRandom rng(12), data(3);
      SvmRandom svm_rng;
      testing::WindowLists w;
      w.pos = Windows(data, c.pos, true);
      w.neg = Windows(data, c.neg, false);
      for (int i = 0; i < c.neg; i += 3) w.neg[i].replace(4, 2, "GT");  // some hard negatives
      Settings s;
      s.R_method = kEasyEnsemble;
      s.Ensemble_T = 5;
      s.Easy_s_i = 3;
      s.TRIALS = c.trials;
      s.Verbose = 3;
      s.threads = k == 0 ? 1 : 3;
      auto R = TrainEasyEnsemble(w.P(), w.N(), 10, s, {&engine, &rng, &svm_rng, &out});
      WriteEnsembleListing(*R, out);
      out.Close();
      text[k] = testing::ReadFile(dir / "report");
      for (const std::string& x : w.neg) scores[k].push_back(R->Score(x.c_str(), 10));
      after[k] = rng;
    }
    SCOPED_TRACE(c.trials);
    EXPECT_NE(text[0].find("Negative instances boosting weights"), std::string::npos);
    EXPECT_EQ(text[0], text[1]);
    EXPECT_EQ(scores[0], scores[1]);
    EXPECT_TRUE(after[0] == after[1]);
  }
}

TEST_F(EnsembleTest, ScoresAndThresholds) {
  CRandom data(2);
  testing::WindowLists w;
  w.pos = Windows(data, 30, true);
  for (int i = 0; i < 30; i += 3) w.pos[i][4] = 'C';  // some positives look negative
  w.neg = Windows(data, 90, false);
  Settings s;
  s.R_method = kEasyEnsemble;
  s.Ensemble_T = 3;
  s.Easy_s_i = 4;
  auto R = TrainEasyEnsemble(w.P(), w.N(), 10, s, Context());
  SetMultiEnsembleThreshold(*R, w.P(), 10, out_);
  // Each ensemble's threshold is its own vote on the positives (the sum of
  // alpha times output) at index 5 of 30 (0.8 in single precision), the
  // model's the mean output's; the model's score is the mean of the
  // ensembles' outputs.
  EnsembleRecognizer::Scratch scratch;
  std::vector<float> means;
  for (const std::string& p : w.pos) {
    float sum = 0;
    for (const Ensemble& E : R->multiensemble.ensemble) {
      sum += R->EnsembleOutput(E, p.c_str(), 10, scratch);
    }
    means.push_back(sum / 3.0f);
    EXPECT_EQ(R->Score(p.c_str(), 10), means.back());
  }
  std::sort(means.begin(), means.end());
  EXPECT_EQ(R->threshold(), means[5]);
  char line[64];
  std::snprintf(line, sizeof line, "Ensemble threshold: %lf\n", static_cast<double>(means[5]));
  EXPECT_NE(Report().find(line), std::string::npos);
  for (const Ensemble& E : R->multiensemble.ensemble) {
    std::vector<float> votes;
    for (const std::string& p : w.pos) {
      float vote = 0;
      for (int t = 0; t < E.n_classifiers; ++t) {
        vote += R->BaseOutput(E, t, p.c_str(), 10, scratch) * E.alpha[t];
      }
      votes.push_back(vote);
    }
    std::sort(votes.begin(), votes.end());
    EXPECT_EQ(E.threshold, votes[5]);
  }
}

TEST_F(EnsembleTest, BalanceCascadeRatioPoolAndBounds) {
  CRandom data(3);
  testing::WindowLists w;
  w.pos = Windows(data, 100, true);
  w.neg = Windows(data, 1000, false);
  Settings s;
  s.R_method = kBalanceCascadeEnsemble;
  s.Ensemble_T = 3;
  s.Easy_s_i = 2;
  auto R = TrainBalanceCascadeEnsemble(w.P(), w.N(), 10, s, Context());
  EXPECT_EQ(R->multiensemble.n_ensembles, 3);
  EXPECT_EQ(Report(), "Desired FP ratio: 0.316228\n");  // written at Verbose 0 too
  // Unusual shapes stay inside their arrays and say so: one ensemble, more
  // positives than negatives, with trees and with SVMs.
  struct Case {
    int T, n_pos, n_neg, base;
  } cases[] = {{1, 20, 60, kC45}, {3, 40, 12, kC45}, {2, 40, 12, kSVM}, {1, 30, 5, kSVM}};
  for (const Case& c : cases) {
    testing::WindowLists x;
    x.pos = Windows(data, c.n_pos, true);
    x.neg = Windows(data, c.n_neg, false);
    s.Ensemble_T = c.T;
    s.Base_learner = c.base;
    s.CV_parameters = false;
    ::testing::internal::CaptureStderr();
    auto cascade = TrainBalanceCascadeEnsemble(x.P(), x.N(), 10, s, Context());
    auto easy = TrainEasyEnsemble(x.P(), x.N(), 10, s, Context());
    const std::string warned = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(warned.find("bounded"), std::string::npos) << c.T << " " << c.n_pos;
    EXPECT_EQ(cascade->multiensemble.n_ensembles, c.T);
    EXPECT_EQ(warned.find("more positive") != std::string::npos, c.n_pos > c.n_neg);
    for (const std::string& p : x.pos) {
      EXPECT_TRUE(std::isfinite(cascade->Score(p.c_str(), 10)));
      EXPECT_TRUE(std::isfinite(easy->Score(p.c_str(), 10)));
    }
  }
}

}  // namespace
}  // namespace varnik
