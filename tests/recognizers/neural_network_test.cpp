#include "recognizers/neural_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/numeric.h"
#include "recognizers/reference_network.h"
#include "sequence/encoding.h"

namespace varnik {
namespace {

SequenceSet Set(const std::vector<std::string>& windows, int L) {
  SequenceSet set(0, L);
  for (const std::string& w : windows) set.Append(w);
  return set;
}

uint32_t Bits(float v) {
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

class NeuralNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CRandom rng(77);
    const char* letters = "ACGTACGTNRY-";
    for (int i = 0; i < 23; ++i) {
      std::string w(9, 'A');
      for (char& c : w) c = letters[rng.UniformIndex(i < 10 ? 12 : 6)];
      if (i < 10) w[4] = 'G';
      (i < 10 ? pos_ : neg_).push_back(w);
    }
    settings_.N_epochs = 400;
    settings_.Epoch_size = 5;
    settings_.Eta = 0.05f;
    settings_.Alpha = 0.5f;
    settings_.Htan_A = 1.7159f;
    settings_.Htan_B = 0.6666f;
  }
  std::vector<std::string> pos_, neg_;
  Settings settings_;
};

TEST_F(NeuralNetworkTest, BitIdenticalToThePlainComputation) {
  const SequenceSet pos = Set(pos_, 9), neg = Set(neg_, 9);
  for (int H : {0, 1, 7}) {
    CRandom rng(2024);
    const auto trained = TrainNeuralNetwork(pos, neg, 9, H, settings_, rng);
    const NeuralNetRecognizer& R = *trained;
    testing::ReferenceNet ref;
    CRandom ref_rng(2024);
    ref.Train(pos, neg, 9, H, settings_, ref_rng);
    ASSERT_EQ(R.nn_hidden, H);
    ASSERT_EQ(R.nn_inputs, 36);
    for (int j = 0; j < H; ++j) {
      for (int k = 0; k <= 36; ++k) {
        ASSERT_EQ(Bits(R.nn_ih[static_cast<size_t>(k) * H + j]), Bits(ref.ih[j][k]))
            << j << " " << k;
      }
    }
    for (int j = 0; j <= H; ++j) ASSERT_EQ(Bits(R.nn_ho[j]), Bits(ref.ho[j]));
    // Outputs, and the threshold at index 1 of the ten positive outputs.
    std::vector<float> x(36), h, pos_out;
    for (const std::vector<std::string>* set : {&pos_, &neg_}) {
      for (const std::string& w : *set) {
        ConvertToScalarSequence(w.c_str(), 9, x.data());
        const float expected = ref.Output(x.data(), h);
        EXPECT_EQ(Bits(NeuralNetworkOutput(R, w.c_str(), 9)), Bits(expected));
        if (set == &pos_) pos_out.push_back(expected);
      }
    }
    std::sort(pos_out.begin(), pos_out.end());
    EXPECT_EQ(R.threshold(), pos_out[1]);
    // Both generators drew the same numbers.
    EXPECT_EQ(rng.Next(), ref_rng.Next());
  }
}

TEST_F(NeuralNetworkTest, LearnsAndRepeatsWithTheSameSeed) {
  const SequenceSet pos = Set(pos_, 9), neg = Set(neg_, 9);
  CRandom r1(9), r2(9);
  settings_.N_epochs = 3000;
  const auto trained_a = TrainNeuralNetwork(pos, neg, 9, 4, settings_, r1);
  const auto trained_b = TrainNeuralNetwork(pos, neg, 9, 4, settings_, r2);
  const NeuralNetRecognizer &a = *trained_a, &b = *trained_b;
  EXPECT_EQ(a.nn_ih, b.nn_ih);
  EXPECT_EQ(a.nn_ho, b.nn_ho);
  // The planted G separates the classes after training.
  float lowest_pos = 10, highest_neg = -10;
  for (const std::string& w : pos_)
    lowest_pos = std::min(lowest_pos, NeuralNetworkOutput(a, w.c_str(), 9));
  for (const std::string& w : neg_)
    highest_neg = std::max(highest_neg, NeuralNetworkOutput(a, w.c_str(), 9));
  EXPECT_GT(lowest_pos, highest_neg);
}

TEST_F(NeuralNetworkTest, NoLearningRateKeepsTheInitialWeights) {
  const SequenceSet pos = Set(pos_, 9), neg = Set(neg_, 9);
  settings_.Eta = 0.0f;
  CRandom rng(4);
  const auto trained = TrainNeuralNetwork(pos, neg, 9, 3, settings_, rng);
  const NeuralNetRecognizer& R = *trained;
  CRandom draws(4);
  for (int j = 0; j < 3; ++j) {
    for (int k = 0; k <= 36; ++k) {
      const float w = static_cast<float>((draws.Next() - 1) / 2147483647.0 * 0.2 - 0.1);
      EXPECT_EQ(R.nn_ih[static_cast<size_t>(k) * 3 + j], w);
    }
  }
  for (int j = 0; j <= 3; ++j) {
    EXPECT_EQ(R.nn_ho[j], static_cast<float>((draws.Next() - 1) / 2147483647.0 * 0.2 - 0.1));
  }
  // The skipped passes still drew their rows, as the plain training does.
  testing::ReferenceNet ref;
  CRandom ref_rng(4);
  ref.Train(pos, neg, 9, 3, settings_, ref_rng);
  for (int j = 0; j <= 3; ++j) EXPECT_EQ(R.nn_ho[j], ref.ho[j]);
  EXPECT_EQ(rng.Next(), ref_rng.Next());
  for (const std::string& w : pos_) {
    std::vector<float> x(36), h;
    ConvertToScalarSequence(w.c_str(), 9, x.data());
    EXPECT_EQ(NeuralNetworkOutput(R, w.c_str(), 9), ref.Output(x.data(), h));
  }
}

TEST(HyperbolicTangentTest, ClampedBeyond45) {
  EXPECT_EQ(HyperbolicTangent(45.5f, 1.7f, 0.5f), 1.7f);
  EXPECT_EQ(HyperbolicTangent(-46.0f, 1.7f, 0.5f), -1.7f);
  // 45 itself goes through tanh.
  EXPECT_EQ(HyperbolicTangent(45.0f, 1.0f, 0.01f),
            static_cast<float>(std::tanh(static_cast<double>(0.01f * 45.0f))));
  EXPECT_EQ(HyperbolicTangent(0.0f, 1.0f, 1.0f), 0.0f);
  EXPECT_EQ(HyperbolicTangent(1.0f, 2.0f, 0.3333f),
            static_cast<float>(2.0 * std::tanh(static_cast<double>(0.3333f * 1.0f))));
}

TEST(NeuralNetworkOutputTest, NoHiddenUnitsGivesTheOutputBias) {
  NeuralNetRecognizer R{Settings()};
  R.nn_hidden = 0;
  R.nn_inputs = 8;
  R.nn_ih.assign(9 * 0, 0.0f);
  R.nn_ho = {0.25f};
  R.nn_A = 1.0f;
  R.nn_B = 1.0f;
  EXPECT_EQ(NeuralNetworkOutput(R, "ACGT", 2), HyperbolicTangent(0.25f, 1.0f, 1.0f));
}

}  // namespace
}  // namespace varnik
