#include "recognizers/svm_recognizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "core/error.h"
#include "core/sequence_set.h"
#include "svm/svm_test_util.h"
#include "test_util.h"

namespace varnik {
namespace {

std::vector<int> Indexes(const std::vector<svm_node>& v) {
  std::vector<int> out;
  for (const svm_node& n : v) out.push_back(n.index);
  return out;
}

TEST(SvmRecognizerTest, WindowEncodings) {
  std::vector<svm_node> v;
  WindowToNodes("ATGC", 4, rbf, v);
  EXPECT_EQ(Indexes(v), (std::vector<int>{1, 6, 11, 16, -1}));
  for (size_t i = 0; i + 1 < v.size(); ++i) EXPECT_EQ(v[i].value, 1.0);
  // Ambiguity codes and the gap give no node.
  WindowToNodes("ANR-C", 5, linear, v);
  EXPECT_EQ(Indexes(v), (std::vector<int>{1, 20, -1}));
  WindowToNodes("NNNN", 4, linear, v);
  EXPECT_EQ(Indexes(v), (std::vector<int>{-1}));
  for (int kernel : {wd, wds}) {
    WindowToNodes("AC-N", 4, kernel, v);
    EXPECT_EQ(Indexes(v), (std::vector<int>{0, 1, 2, 3, -1}));
    EXPECT_EQ(v[0].value, 65);
    EXPECT_EQ(v[2].value, '-');
  }
}

struct WindowSets {
  SequenceSet pos, neg;
  std::vector<const char*> P() const { return pos.Pointers(); }
  std::vector<const char*> N() const { return neg.Pointers(); }
};

WindowSets MakeWindows(int n_pos, int n_neg, int length, unsigned seed) {
  CRandom rng(seed);
  WindowSets w{SequenceSet(0, length), SequenceSet(0, length)};
  for (int i = 0; i < n_pos + n_neg; ++i) {
    std::string s = testing::RandomLetters(rng, length, 4);
    if (i < n_pos) {
      s[length / 2] = 'G';
      s[length / 2 + 1] = 'T';
      w.pos.Append(s);
    } else {
      w.neg.Append(s);
    }
  }
  return w;
}

TEST(SvmRecognizerTest, ThresholdAtTheDesiredSensitivity) {
  const WindowSets w = MakeWindows(10, 30, 20, 3);
  for (float sensitivity : {0.8f, 1.0f, 0.5f, 0.0f, 1.5f}) {
    Settings s;
    s.Kernel = rbf;
    s.Sensitivity = sensitivity;
    testing::TempDir dir;
    OutputFile out;
    ASSERT_TRUE(out.Open(dir / "r"));
    float threshold = -99;
    SvmRandom rng;
    auto m = TrainSVMClassifier(w.P(), w.N(), 20, s, &out, &threshold, rng);
    out.Close();
    std::vector<float> outputs;
    for (const char* p : w.P()) outputs.push_back(SVMOutput(*m, p, 20));
    std::sort(outputs.begin(), outputs.end());
    ASSERT_LT(outputs[1], outputs[2]);
    // 0.8 in single precision: position 1 of 10 (not 2); 1.0: the lowest;
    // 0 or less: 0; above 1: clamped to the lowest.
    const float expected = sensitivity == 0.8f   ? outputs[1]
                           : sensitivity == 0.5f ? outputs[5]
                           : sensitivity == 0.0f ? 0.0f
                                                 : outputs[0];
    EXPECT_EQ(threshold, expected) << sensitivity;
    char line[64];
    std::snprintf(line, sizeof line, "SVM threshold: %lf\n", static_cast<double>(expected));
    EXPECT_EQ(testing::ReadFile(dir / "r"), line);
    EXPECT_EQ(m->label, (std::vector<int>{1, 0}));  // positives first
  }
}

TEST(SvmRecognizerTest, GammaRuleAndKernelChecks) {
  const WindowSets w = MakeWindows(8, 8, 50, 4);
  Settings s;
  s.Gamma = 0;
  s.Kernel = rbf;
  SvmRandom rng;
  auto m = TrainSVMClassifier(w.P(), w.N(), 50, s, nullptr, nullptr, rng);
  EXPECT_EQ(m->param.gamma, 0.02);
  s.Kernel = wds;
  s.Degree = 3;
  m = TrainSVMClassifier(w.P(), w.N(), 50, s, nullptr, nullptr, rng);
  EXPECT_EQ(m->param.gamma, 0.02);  // sigma
  EXPECT_EQ(m->param.degree, 3);
  s.Kernel = precomputed;
  EXPECT_THROW(TrainSVMClassifier(w.P(), w.N(), 50, s, nullptr, nullptr, rng), VarnikError);
  s.Kernel = wd;
  s.Degree = 0;
  try {
    TrainSVMClassifier(w.P(), w.N(), 50, s, nullptr, nullptr, rng);
    FAIL();
  } catch (const VarnikError& e) {
    EXPECT_STREQ(e.what(), "degree of string kernel < 1");
  }
  s.Kernel = rbf;
  s.C = 0;
  try {
    TrainSVMClassifier(w.P(), w.N(), 50, s, nullptr, nullptr, rng);
    FAIL();
  } catch (const VarnikError& e) {
    EXPECT_EQ(e.code(), 1);
    EXPECT_STREQ(e.what(), "C <= 0");
  }
}

TEST(SvmRecognizerTest, LinearWeightsGiveTheDecisionValues) {
  const WindowSets w = MakeWindows(15, 15, 12, 5);
  Settings s;
  s.Kernel = linear;
  SvmRandom rng;
  auto m = TrainSVMClassifier(w.P(), w.N(), 12, s, nullptr, nullptr, rng);
  const int dim = 4 * 12 + 5;
  const auto W = GetSVMW(*m, dim);
  ASSERT_EQ(W.size(), 1u);
  for (const std::vector<const char*>& set : {w.P(), w.N()}) {
    for (const char* win : set) {
      std::vector<svm_node> v;
      WindowToNodes(win, 12, linear, v);
      double dot = 0;
      for (const svm_node& n : v) {
        if (n.index >= 0) dot += W[0][n.index] * n.value;
      }
      EXPECT_NEAR(dot - m->rho[0], SVMOutput(*m, win, 12), 1e-4);
    }
  }
  // An all-ambiguity window is the empty vector: its output is -rho.
  EXPECT_FLOAT_EQ(SVMOutput(*m, "NNNNNNNNNNNN", 12), static_cast<float>(-m->rho[0]));
}

TEST(SvmRealInputsTest, MaskAndSmallValues) {
  Settings s;
  s.Kernel = linear;
  s.Gamma = 0;
  SvmRandom rng;
  // Rows of 40 features, 10 in use.
  std::vector<float> rows;
  std::vector<int> labels;
  CRandom r(7);
  for (int i = 0; i < 20; ++i) {
    for (int j = 0; j < 40; ++j)
      rows.push_back(static_cast<float>(r.UniformNumber() + (i < 10 && j == 3 ? 2 : 0)));
    labels.push_back(i < 10 ? 1 : -1);
  }
  std::vector<const float*> row_ptrs;
  for (int i = 0; i < 20; ++i) row_ptrs.push_back(rows.data() + 40 * i);
  std::vector<int> mask(40, 0);
  EXPECT_EQ(TrainSVMClassifierRealInputs(row_ptrs, mask.data(), labels.data(), 40, s, rng),
            nullptr);
  for (int j = 0; j < 10; ++j) mask[j] = 1;
  s.Kernel = rbf;
  auto m = TrainSVMClassifierRealInputs(row_ptrs, mask.data(), labels.data(), 40, s, rng);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->param.gamma, 0.025);  // 1 / 40, masked features counted
  EXPECT_EQ(m->label, (std::vector<int>{1, -1}));
  for (int i = 0; i < m->l; ++i) {
    for (const svm_node* n = m->SV[i]; n->index != -1; ++n) EXPECT_LT(n->index, 10);
  }
  EXPECT_GT(SVMRealOutput(*m, rows.data(), 40), 0);  // label 1's side
  // Trained with the negatives first, positive still means label 1.
  std::vector<const float*> reversed(row_ptrs.rbegin(), row_ptrs.rend());
  std::vector<int> reversed_labels(labels.rbegin(), labels.rend());
  auto back =
      TrainSVMClassifierRealInputs(reversed, mask.data(), reversed_labels.data(), 40, s, rng);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->label, (std::vector<int>{-1, 1}));
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(SVMRealOutput(*back, row_ptrs[i], 40) > 0, labels[i] == 1) << i;
    EXPECT_EQ(SVMRealOutput(*back, row_ptrs[i], 40) > 0, SVMRealOutput(*m, row_ptrs[i], 40) > 0);
  }
  EXPECT_EQ(TrainSVMClassifierRealInputs(row_ptrs, mask.data(), labels.data(), 0, s, rng), nullptr);
  // Values within 0.001 of zero give no node.
  s.Kernel = linear;
  std::vector<float> tiny = {0.0011f, -0.0011f, 0.0009f, 0.0f, 1.0f, 1.0f, 1.0f, 1.0f};
  std::vector<int> all(4, 1), two_labels = {1, -1};
  auto t = TrainSVMClassifierRealInputs({tiny.data(), tiny.data() + 4}, all.data(),
                                        two_labels.data(), 4, s, rng);
  ASSERT_NE(t, nullptr);
  std::vector<int> first;
  for (const svm_node* n = t->SV[0]; n->index != -1; ++n) first.push_back(n->index);
  EXPECT_EQ(first, (std::vector<int>{0, 1}));
  // Letter-index rows for the string kernels keep every position, a 0 (the
  // index of a gap) included: dropping it would shift every later letter.
  s.Kernel = wd;
  std::vector<float> letters = {1, 0, 2, 3, 0, 0, 1, 2};
  auto l = TrainSVMClassifierRealInputs({letters.data(), letters.data() + 4}, all.data(),
                                        two_labels.data(), 4, s, rng);
  ASSERT_NE(l, nullptr);
  for (int i = 0; i < l->l; ++i) {
    int n = 0;
    while (l->SV[i][n].index != -1) ++n;
    EXPECT_EQ(n, 4);
  }
}

}  // namespace
}  // namespace varnik
