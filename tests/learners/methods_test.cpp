#include "learners/methods.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "core/error.h"
#include "recognizers/svm_recognizer.h"
#include "test_util.h"

namespace varnik {
namespace {

TEST(MethodRegistryTest, EntriesAgreeWithTheCodesWordsAndBits) {
  EXPECT_EQ(MethodWords(),
            (std::vector<std::string>{"SVM", "kNN", "C45", "STOP", "EasyEnsemble",
                                      "BalanceCascadeEnsemble", "PWM", "NeuralNet"}));
  std::set<int> bits, positions;
  for (const Method& m : Methods()) {
    if (m.stacking_bit == 0) continue;
    EXPECT_EQ(m.stacking_bit & (m.stacking_bit - 1), 0) << m.word;  // one bit each
    EXPECT_TRUE(bits.insert(m.stacking_bit).second) << m.word;
    EXPECT_TRUE(positions.insert(m.stacked_position).second) << m.word;
    EXPECT_EQ(MethodOfBit(m.stacking_bit), &m);
    EXPECT_NE(m.train_component, nullptr) << m.word;
  }
  // Nine components, the input vector's places 0 .. 8, and the bits of 511.
  EXPECT_EQ(positions, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  int all = 0;
  for (int b : bits) all |= b;
  EXPECT_EQ(all, 511);
  EXPECT_EQ(MethodOfBit(3), nullptr);
  try {
    MethodOfCode(9);
    ADD_FAILURE() << "code 9 has an entry";
  } catch (const VarnikError& e) {
    EXPECT_STREQ(e.what(), "Bad recognition method");
  }
}

TEST(MethodRegistryTest, WhatARunNeedsFollowsItsSettings) {
  struct Case {
    int method;
    bool stacking;
    int stacked, base;
    bool trees, keeps;
    int learner;
  } cases[] = {
      {kC45, false, 0, kC45, true, false, kC45},
      {kEasyEnsemble, false, 0, kC45, true, false, kC45},
      {kBalanceCascadeEnsemble, false, 0, kSVM, false, false, kSVM},
      {kKNN, false, 0, kC45, false, true, kKNN},
      {kSVM, false, 0, kC45, false, false, kSVM},
      {kStackingMethod, true, 4 | 128, kC45, true, false, kStackingMethod},
      {kStackingMethod, true, 64, kC45, true, true, kStackingMethod},
  };
  for (const Case& c : cases) {
    Settings s;
    s.R_method = c.method;
    s.Stacking = c.stacking;
    s.Stacking_methods = c.stacked;
    s.Base_learner = c.base;
    EXPECT_EQ(NeedsTreeEngine(s), c.trees) << c.method;
    EXPECT_EQ(KeepsTrainingWindows(s), c.keeps) << c.method;
    EXPECT_EQ(LearnerMethod(s), c.learner) << c.method;
  }
  Settings s;
  s.Stacking = true;
  s.Stacking_methods = 128 | 256;  // only the components the rule does not count
  EXPECT_FALSE(StacksCountedComponents(s));
  EXPECT_TRUE(Stacks(s, kNeuralNet));
  EXPECT_FALSE(Stacks(s, kSVM));
  s.Stacking_methods |= 2;
  EXPECT_TRUE(StacksCountedComponents(s));
}

TEST(MethodRegistryTest, EveryMethodButTheStopCodonsReadsItsPayloadAndTheSvmItsFiles) {
  // The stop-codon method never trains, so it is never saved.
  for (const Method& m : Methods()) EXPECT_EQ(m.read != nullptr, m.code != kSTOP) << m.word;
  testing::TempDir dir;
  auto model = std::make_unique<svm_model>();
  model->param.svm_type = c_svc;
  model->param.kernel_type = wd;
  model->param.degree = 2;
  model->nr_class = 2;
  model->l = 0;
  model->rho = {0.25};
  model->label = {1, 0};
  model->nSV = {0, 0};
  model->sv_coef = {{}};
  SvmRecognizer R(Settings(), std::move(model));
  R.set_length(7);
  R.set_threshold(0.5f);
  R.Save(dir / "m");
  const std::unique_ptr<Recognizer> back = LoadModel(dir / "m");
  EXPECT_EQ(back->method(), kSVM);
  EXPECT_EQ(back->length(), 7);
  EXPECT_EQ(back->threshold(), 0.5f);
}

}  // namespace
}  // namespace varnik
