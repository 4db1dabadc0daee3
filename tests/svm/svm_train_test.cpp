#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

#include "svm/internal/solver.h"
#include "svm/reference_kernels.h"
#include "svm/svm.h"
#include "svm/svm_test_util.h"

namespace varnik {
namespace {

using testing::DenseNodes;
using testing::OwnedProblem;
using testing::TwoClouds;

svm_parameter Csvc(int kernel, double C, double gamma = 0.5) {
  svm_parameter p;
  p.svm_type = c_svc;
  p.kernel_type = kernel;
  p.C = C;
  p.gamma = gamma;
  p.eps = 1e-5;
  return p;
}

// The dual variables of a two-class C-SVC model on its training problem:
// t_i = +1 for the first label, -1 for the other; alpha_i >= 0.
struct Dual {
  std::vector<double> alpha, t;
};

Dual DualOf(const svm_model& m, const svm_problem& prob) {
  Dual d;
  d.alpha.assign(static_cast<size_t>(prob.l), 0.0);
  d.t.resize(static_cast<size_t>(prob.l));
  for (int i = 0; i < prob.l; ++i) d.t[i] = static_cast<int>(prob.y[i]) == m.label[0] ? 1 : -1;
  for (int k = 0; k < m.l; ++k) {
    const int i =
        static_cast<int>(std::find(prob.x.begin(), prob.x.end(), m.SV[k]) - prob.x.begin());
    d.alpha[i] = m.sv_coef[0][k] * d.t[i];
  }
  return d;
}

double Decision(const svm_model& m, const svm_node* x) {
  double dec = 0;
  svm_predict_values(m, x, &dec);
  return dec;
}

// Checks the optimality conditions of a C-SVC solution within tol.
void ExpectKkt(const svm_model& m, const svm_problem& prob, double C_first, double C_second,
               double tol) {
  const Dual d = DualOf(m, prob);
  double balance = 0;
  for (int i = 0; i < prob.l; ++i) {
    const double C = d.t[i] > 0 ? C_first : C_second;
    const double margin = d.t[i] * Decision(m, prob.x[i]);
    ASSERT_GE(d.alpha[i], 0.0);
    ASSERT_LE(d.alpha[i], C * (1 + 1e-12));
    if (d.alpha[i] == 0) {
      EXPECT_GE(margin, 1 - tol) << i;
    } else if (d.alpha[i] < C * (1 - 1e-9)) {
      EXPECT_NEAR(margin, 1, tol) << i;
    } else {
      EXPECT_LE(margin, 1 + tol) << i;
    }
    balance += d.alpha[i] * d.t[i];
  }
  EXPECT_NEAR(balance, 0, 1e-9 * prob.l * std::max(C_first, C_second));
}

double KernelValue(const svm_parameter& p, const svm_node* a, const svm_node* b) {
  return k_function(a, b, p);
}

// 1/2 a'Qa - e'a of the model's dual solution.
double DualObjective(const svm_model& m, const svm_problem& prob) {
  const Dual d = DualOf(m, prob);
  double obj = 0;
  for (int i = 0; i < prob.l; ++i) {
    for (int j = 0; j < prob.l; ++j) {
      obj += 0.5 * d.alpha[i] * d.alpha[j] * d.t[i] * d.t[j] *
             KernelValue(m.param, prob.x[i], prob.x[j]);
    }
    obj -= d.alpha[i];
  }
  return obj;
}

// Solves the small dual exactly: every variable at 0, at C or free; the free
// ones from the linear optimality system. The best feasible pattern wins.
double BruteForceDual(const svm_problem& prob, const svm_parameter& p, const std::vector<double>& t,
                      double C) {
  const int l = prob.l;
  std::vector<std::vector<double>> Q(static_cast<size_t>(l),
                                     std::vector<double>(static_cast<size_t>(l)));
  for (int i = 0; i < l; ++i) {
    for (int j = 0; j < l; ++j) Q[i][j] = t[i] * t[j] * KernelValue(p, prob.x[i], prob.x[j]);
  }
  double best = std::numeric_limits<double>::infinity();
  std::vector<int> state(static_cast<size_t>(l), 0);  // 0 lower, 1 upper, 2 free
  std::function<void(int)> visit = [&](int pos) {
    if (pos < l) {
      for (int s = 0; s < 3; ++s) {
        state[pos] = s;
        visit(pos + 1);
      }
      return;
    }
    std::vector<int> F;
    std::vector<double> a(static_cast<size_t>(l), 0.0);
    for (int i = 0; i < l; ++i) {
      if (state[i] == 1) a[i] = C;
      if (state[i] == 2) F.push_back(i);
    }
    const int n = static_cast<int>(F.size());
    // [Q_FF t_F; t_F' 0] [a_F; b] = [1 - Q_FB a_B; -t_B' a_B]
    std::vector<std::vector<double>> M(static_cast<size_t>(n + 1),
                                       std::vector<double>(static_cast<size_t>(n + 2), 0.0));
    for (int r = 0; r < n; ++r) {
      for (int c = 0; c < n; ++c) M[r][c] = Q[F[r]][F[c]];
      M[r][n] = t[F[r]];
      double rhs = 1;
      for (int j = 0; j < l; ++j) {
        if (state[j] == 1) rhs -= Q[F[r]][j] * a[j];
      }
      M[r][n + 1] = rhs;
    }
    double rhs = 0;
    for (int j = 0; j < l; ++j) {
      if (state[j] == 1) rhs -= t[j] * a[j];
    }
    for (int c = 0; c < n; ++c) M[n][c] = t[F[c]];
    M[n][n + 1] = rhs;
    // Gaussian elimination with partial pivoting.
    for (int c = 0; c <= n; ++c) {
      int piv = c;
      for (int r = c + 1; r <= n; ++r) {
        if (std::fabs(M[r][c]) > std::fabs(M[piv][c])) piv = r;
      }
      if (std::fabs(M[piv][c]) < 1e-12) return;  // singular: another pattern covers it
      std::swap(M[c], M[piv]);
      for (int r = 0; r <= n; ++r) {
        if (r == c) continue;
        const double f = M[r][c] / M[c][c];
        for (int k = c; k <= n + 1; ++k) M[r][k] -= f * M[c][k];
      }
    }
    for (int r = 0; r < n; ++r) {
      const double v = M[r][n + 1] / M[r][r];
      if (v < -1e-12 || v > C + 1e-12) return;
      a[F[r]] = v;
    }
    double balance = 0;
    for (int i = 0; i < l; ++i) balance += t[i] * a[i];
    if (std::fabs(balance) > 1e-9) return;
    double obj = 0;
    for (int i = 0; i < l; ++i) {
      for (int j = 0; j < l; ++j) obj += 0.5 * a[i] * a[j] * Q[i][j];
      obj -= a[i];
    }
    best = std::min(best, obj);
  };
  visit(0);
  return best;
}

TEST(SvmSolverTest, OptimalityConditionsOnVariedProblems) {
  for (unsigned seed : {1u, 2u, 3u}) {
    CRandom rng(seed);
    for (double separation : {2.0, 0.3}) {
      for (double C : {0.05, 1.0, 50.0}) {
        OwnedProblem p = TwoClouds(rng, 12, 9, separation);
        for (int kernel : {linear, rbf}) {
          SvmRandom svm_rng;
          svm_parameter param = Csvc(kernel, C);
          ASSERT_EQ(svm_check_parameter(p.prob, param), nullptr);
          auto m = svm_train(p.prob, param, svm_rng);
          ExpectKkt(*m, p.prob, C, C, 2e-4);
        }
      }
    }
  }
}

TEST(SvmSolverTest, LabelOrderOnlyFlipsTheSign) {
  CRandom rng(5);
  OwnedProblem a = TwoClouds(rng, 10, 10, 0.5);
  OwnedProblem b;  // the same vectors, negatives first
  for (int i = 10; i < 20; ++i) b.Add(a.rows[i], a.prob.y[i]);
  for (int i = 0; i < 10; ++i) b.Add(a.rows[i], a.prob.y[i]);
  SvmRandom r1, r2;
  auto ma = svm_train(a.prob, Csvc(rbf, 1.0), r1);
  auto mb = svm_train(b.prob, Csvc(rbf, 1.0), r2);
  EXPECT_EQ(ma->label, (std::vector<int>{1, -1}));
  EXPECT_EQ(mb->label, (std::vector<int>{-1, 1}));
  for (int i = 0; i < 20; ++i) {
    EXPECT_NEAR(Decision(*ma, a.prob.x[i]), -Decision(*mb, a.prob.x[i]), 1e-3);
    EXPECT_EQ(svm_predict(*ma, a.prob.x[i]), svm_predict(*mb, a.prob.x[i]));
  }
  // Positives first: the decision value is positive for the first class.
  EXPECT_GT(Decision(*ma, DenseNodes({3.0, 0.0}).data()), 0);
  EXPECT_EQ(svm_predict(*ma, DenseNodes({3.0, 0.0}).data()), 1);
}

TEST(SvmSolverTest, OppositeLabelsOnIdenticalVectorsStayFinite) {
  OwnedProblem p;
  p.Add(DenseNodes({1, 1}), 1);
  p.Add(DenseNodes({1, 1}), -1);
  p.Add(DenseNodes({2, 2}), 1);
  p.Add(DenseNodes({-1, -2}), -1);
  p.Add(DenseNodes({-1, -2}), 1);
  SvmRandom rng;
  auto m = svm_train(p.prob, Csvc(linear, 2.0), rng);
  for (const auto& c : m->sv_coef[0]) EXPECT_TRUE(std::isfinite(c));
  EXPECT_TRUE(std::isfinite(m->rho[0]));
  ExpectKkt(*m, p.prob, 2.0, 2.0, 2e-4);
}

TEST(SvmSolverTest, ShrinkingDoesNotChangeTheSolution) {
  CRandom rng(9);
  OwnedProblem p = TwoClouds(rng, 60, 50, 0.2);
  for (double C : {0.1, 10.0}) {
    svm_parameter with = Csvc(rbf, C), without = Csvc(rbf, C);
    without.shrinking = 0;
    SvmRandom r1, r2;
    auto a = svm_train(p.prob, with, r1);
    auto b = svm_train(p.prob, without, r2);
    EXPECT_NEAR(DualObjective(*a, p.prob), DualObjective(*b, p.prob),
                1e-5 * std::fabs(DualObjective(*b, p.prob)));
    for (int i = 0; i < p.prob.l; ++i) {
      EXPECT_NEAR(Decision(*a, p.prob.x[i]), Decision(*b, p.prob.x[i]), 1e-3);
    }
  }
}

TEST(SvmSolverTest, DualObjectiveEqualsABruteForceSolution) {
  for (unsigned seed : {11u, 12u, 13u, 14u}) {
    CRandom rng(seed);
    OwnedProblem p = TwoClouds(rng, 4, 3, seed % 2 == 0 ? 0.3 : 1.0);
    for (double C : {0.3, 5.0}) {
      svm_parameter param = Csvc(rbf, C, 0.7);
      param.eps = 1e-7;
      SvmRandom svm_rng;
      auto m = svm_train(p.prob, param, svm_rng);
      std::vector<double> t(static_cast<size_t>(p.prob.l));
      for (int i = 0; i < p.prob.l; ++i) t[i] = p.prob.y[i] > 0 ? 1 : -1;
      const double exact = BruteForceDual(p.prob, param, t, C);
      ASSERT_TRUE(std::isfinite(exact));
      EXPECT_NEAR(DualObjective(*m, p.prob), exact, 1e-6 * std::fabs(exact)) << seed << " " << C;
    }
  }
}

TEST(SvmFormulationsTest, NuSvcMatchesTheCSvcOfItsScale) {
  CRandom rng(17);
  OwnedProblem p = TwoClouds(rng, 25, 20, 1.0);
  svm_parameter param = Csvc(rbf, 1.0);
  param.svm_type = nu_svc;
  param.nu = 0.4;
  param.eps = 1e-9;  // the tolerance is scaled by 1 / r with the solution
  ASSERT_EQ(svm_check_parameter(p.prob, param), nullptr);
  SvmRandom r;
  auto m = svm_train(p.prob, param, r);
  // The nu property: margin errors <= nu <= support vectors (as fractions).
  double max_coef = 0;
  for (double c : m->sv_coef[0]) max_coef = std::max(max_coef, std::fabs(c));
  int bounded = 0;
  for (double c : m->sv_coef[0]) bounded += std::fabs(c) > max_coef * (1 - 1e-9);
  EXPECT_LE(static_cast<double>(bounded) / p.prob.l, 0.4 + 1e-9);
  EXPECT_GE(static_cast<double>(m->l) / p.prob.l, 0.4 - 1e-9);
  // Its scaled solution is the C-SVC solution with C = 1 / r = the bound.
  svm_parameter equivalent = Csvc(rbf, max_coef);
  equivalent.eps = 1e-9;
  SvmRandom r2;
  auto c = svm_train(p.prob, equivalent, r2);
  for (int i = 0; i < p.prob.l; ++i) {
    EXPECT_NEAR(Decision(*m, p.prob.x[i]), Decision(*c, p.prob.x[i]), 1e-4) << i;
  }
}

TEST(SvmFormulationsTest, OneClass) {
  CRandom rng(23);
  OwnedProblem p = TwoClouds(rng, 40, 0, 0.0);
  svm_parameter param = Csvc(rbf, 1.0, 1.0);
  param.svm_type = one_class;
  param.nu = 0.2;
  SvmRandom r;
  auto m = svm_train(p.prob, param, r);
  EXPECT_EQ(m->nr_class, 2);
  EXPECT_TRUE(m->label.empty());
  double sum = 0;
  for (double c : m->sv_coef[0]) sum += c;
  EXPECT_NEAR(sum, 0.2 * 40, 1e-9);
  int outside = 0;
  for (int i = 0; i < 40; ++i) outside += Decision(*m, p.prob.x[i]) < -1e-3;
  EXPECT_LE(outside, 8);
  EXPECT_GE(m->l, 8);
  EXPECT_EQ(svm_predict(*m, DenseNodes({0, 0}).data()), 1);
  EXPECT_EQ(svm_predict(*m, DenseNodes({9, 9}).data()), -1);
}

TEST(SvmFormulationsTest, Regressions) {
  OwnedProblem p;
  for (int i = 0; i < 12; ++i) {
    const double x = i / 4.0;
    p.Add(DenseNodes({x}), 2 * x + 1);
  }
  svm_parameter eps_svr = Csvc(linear, 100.0);
  eps_svr.svm_type = epsilon_svr;
  eps_svr.p = 0.1;
  SvmRandom r;
  auto m = svm_train(p.prob, eps_svr, r);
  double sum = 0;
  for (double c : m->sv_coef[0]) sum += c;
  EXPECT_NEAR(sum, 0, 1e-9);
  for (int i = 0; i < 12; ++i)
    EXPECT_LE(std::fabs(svm_predict(*m, p.prob.x[i]) - p.prob.y[i]), 0.1 + 1e-3);
  // The flattest line inside the tube: slope (6.5 - 1 - 2 * 0.1) / 2.75
  // through (0, 1.1).
  EXPECT_NEAR(svm_predict(*m, DenseNodes({10.0}).data()), 1.1 + 10 * 5.3 / 2.75, 1e-3);

  svm_parameter nu = eps_svr;
  nu.svm_type = nu_svr;
  nu.nu = 0.5;
  SvmRandom r2;
  auto n = svm_train(p.prob, nu, r2);
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(svm_predict(*n, p.prob.x[i]), p.prob.y[i], 0.05);
}

TEST(SvmProbabilityTest, EstimatesSumToOneAndFollowTheDecisionValue) {
  CRandom rng(31);
  OwnedProblem p = TwoClouds(rng, 30, 30, 0.4);
  svm_parameter param = Csvc(rbf, 1.0);
  param.probability = 1;
  SvmRandom r;
  auto m = svm_train(p.prob, param, r);
  ASSERT_EQ(m->probA.size(), 1u);
  EXPECT_EQ(svm_check_probability_model(*m), 1);
  EXPECT_LT(m->probA[0], 0);  // larger decision value, larger probability of the first class
  double last_dec = -1e9, last_prob = -1;
  for (double x = -3; x <= 3; x += 0.25) {
    const auto v = DenseNodes({x, 0});
    double prob[2];
    const double label = svm_predict_probability(*m, v.data(), prob);
    EXPECT_NEAR(prob[0] + prob[1], 1.0, 1e-12);
    EXPECT_EQ(label, prob[0] >= prob[1] ? 1 : -1);
    const double dec = Decision(*m, v.data());
    if (dec > last_dec) {
      EXPECT_GE(prob[0], last_prob);
      last_dec = dec;
      last_prob = prob[0];
    }
  }
  // Three classes: pairwise coupling.
  OwnedProblem q;
  for (int i = 0; i < 45; ++i) {
    const int c = i % 3;
    q.Add(DenseNodes({c * 2.0 + rng.UniformNumber(), rng.UniformNumber()}), c + 5);
  }
  SvmRandom r3;
  auto m3 = svm_train(q.prob, param, r3);
  EXPECT_EQ(m3->label, (std::vector<int>{5, 6, 7}));
  for (int i = 0; i < 45; ++i) {
    double prob[3];
    const double label = svm_predict_probability(*m3, q.prob.x[i], prob);
    EXPECT_NEAR(prob[0] + prob[1] + prob[2], 1.0, 1e-9);
    EXPECT_EQ(label, 5 + (std::max_element(prob, prob + 3) - prob));
  }
}

TEST(SvmPredictTest, VoteTiesGoToTheFirstClass) {
  svm_model m;
  m.param = Csvc(linear, 1.0);
  m.nr_class = 3;
  m.label = {5, 7, 9};
  m.nSV = {1, 1, 1};
  m.l = 3;
  const std::vector<svm_node> zero = {{-1, 0}};
  m.SV = {zero.data(), zero.data(), zero.data()};
  m.sv_coef = {{0, 0, 0}, {0, 0, 0}};
  // Decision values -rho: (0,1) > 0 votes 5, (0,2) < 0 votes 9, (1,2) > 0 votes 7.
  m.rho = {-1, 1, -1};
  double dec[3];
  EXPECT_EQ(svm_predict_values(m, zero.data(), dec), 5);
  EXPECT_EQ(dec[0], 1);
  EXPECT_EQ(dec[1], -1);
}

TEST(SvmTrainTest, WeightsAndUnknownLabels) {
  CRandom rng(3);
  OwnedProblem p = TwoClouds(rng, 10, 10, 0.2);
  svm_parameter param = Csvc(linear, 1.0);
  param.nr_weight = 1;
  param.weight_label = {3};
  param.weight = {10.0};
  SvmRandom r1, r2;
  ::testing::internal::CaptureStderr();
  auto a = svm_train(p.prob, param, r1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "warning: class label 3 specified in weight is not found\n");
  auto b = svm_train(p.prob, Csvc(linear, 1.0), r2);
  EXPECT_EQ(a->sv_coef, b->sv_coef);
  // A weight on a real label changes that class's bound.
  param.weight_label = {-1};
  param.weight = {0.01};
  SvmRandom r3;
  auto c = svm_train(p.prob, param, r3);
  ExpectKkt(*c, p.prob, 1.0, 0.01, 2e-3);
}

TEST(SvmCheckTest, Messages) {
  CRandom rng(1);
  OwnedProblem p = TwoClouds(rng, 10, 2, 1.0);
  struct Case {
    std::function<void(svm_parameter&)> change;
    const char* message;
  } cases[] = {
      {[](svm_parameter& q) { q.svm_type = 5; }, "unknown svm type"},
      {[](svm_parameter& q) { q.kernel_type = 7; }, "unknown kernel type"},
      {[](svm_parameter& q) { q.gamma = -1; }, "gamma < 0"},
      {[](svm_parameter& q) { q.degree = -1; }, "degree of polynomial kernel < 0"},
      {[](svm_parameter& q) {
         q.kernel_type = wd;
         q.degree = 0;
       },
       "degree of string kernel < 1"},
      {[](svm_parameter& q) {
         q.kernel_type = wds;
         q.degree = 0;
       },
       "degree of string kernel < 1"},
      {[](svm_parameter& q) { q.cache_size = 0; }, "cache_size <= 0"},
      {[](svm_parameter& q) { q.eps = 0; }, "eps <= 0"},
      {[](svm_parameter& q) { q.C = 0; }, "C <= 0"},
      {[](svm_parameter& q) {
         q.svm_type = nu_svr;
         q.nu = 1.5;
       },
       "nu <= 0 or nu > 1"},
      {[](svm_parameter& q) {
         q.svm_type = epsilon_svr;
         q.p = -1;
       },
       "p < 0"},
      {[](svm_parameter& q) { q.shrinking = 2; }, "shrinking != 0 and shrinking != 1"},
      {[](svm_parameter& q) { q.probability = 2; }, "probability != 0 and probability != 1"},
      {[](svm_parameter& q) {
         q.svm_type = one_class;
         q.probability = 1;
       },
       "one-class SVM probability output not supported yet"},
      {[](svm_parameter& q) {
         q.svm_type = nu_svc;
         q.nu = 0.9;
       },
       "specified nu is infeasible"},
  };
  for (const Case& c : cases) {
    svm_parameter q = Csvc(linear, 1.0);
    c.change(q);
    const char* got = svm_check_parameter(p.prob, q);
    ASSERT_NE(got, nullptr) << c.message;
    EXPECT_STREQ(got, c.message);
  }
  svm_parameter ok = Csvc(linear, 1.0);
  ok.svm_type = nu_svc;
  ok.nu = 0.3;  // 0.3 * 12 / 2 = 1.8 <= 2
  EXPECT_EQ(svm_check_parameter(p.prob, ok), nullptr);
  // The C test does not apply to nu-SVC or one-class.
  ok.C = 0;
  EXPECT_EQ(svm_check_parameter(p.prob, ok), nullptr);
}

TEST(SvmCrossValidationTest, StratifiedFoldLayout) {
  OwnedProblem p;
  const int labels[] = {1, 1, 2, 1, 2, 1, 1, 2, 1, 3};
  for (int i = 0; i < 10; ++i) p.Add(DenseNodes({static_cast<double>(i)}), labels[i]);
  SvmRandom rng, expected_rng;
  std::vector<int> perm, fold_start;
  svm_fold_layout(p.prob, Csvc(linear, 1), 3, rng, perm, fold_start);
  // Classes in order of appearance: 1 (6 members), 2 (3), 3 (1); each class
  // shuffled with rand() and dealt out f*count/3 .. (f+1)*count/3 - 1.
  std::vector<std::vector<int>> members = {{0, 1, 3, 5, 6, 8}, {2, 4, 7}, {9}};
  for (auto& m : members) {
    for (int i = 0; i < static_cast<int>(m.size()); ++i) {
      const int j = i + expected_rng.Next() % (static_cast<int>(m.size()) - i);
      std::swap(m[i], m[j]);
    }
  }
  std::vector<int> expected;
  std::vector<int> expected_start = {0};
  for (int f = 0; f < 3; ++f) {
    for (const auto& m : members) {
      const int n = static_cast<int>(m.size());
      for (int k = f * n / 3; k < (f + 1) * n / 3; ++k) expected.push_back(m[k]);
    }
    expected_start.push_back(static_cast<int>(expected.size()));
  }
  EXPECT_EQ(perm, expected);
  EXPECT_EQ(fold_start, expected_start);
  EXPECT_EQ(fold_start, (std::vector<int>{0, 3, 6, 10}));
  EXPECT_EQ(rng.Next(), expected_rng.Next());  // the same number of draws

  // As many folds as vectors: all positions shuffled together, one per fold.
  SvmRandom r2, e2;
  svm_fold_layout(p.prob, Csvc(linear, 1), 10, r2, perm, fold_start);
  std::vector<int> all = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  for (int i = 0; i < 10; ++i) std::swap(all[i], all[i + e2.Next() % (10 - i)]);
  EXPECT_EQ(perm, all);
  EXPECT_EQ(fold_start, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST(SvmCrossValidationTest, LeaveOneOutPredictsWithTheOthers) {
  CRandom rng(41);
  OwnedProblem p = TwoClouds(rng, 6, 6, 0.3);
  const svm_parameter param = Csvc(rbf, 1.0);
  std::vector<double> target(12);
  SvmRandom r;
  svm_cross_validation(p.prob, param, 12, target.data(), r);
  for (int i = 0; i < 12; ++i) {
    OwnedProblem rest;
    for (int j = 0; j < 12; ++j) {
      if (j != i) rest.Add(p.rows[j], p.prob.y[j]);
    }
    SvmRandom r2;
    auto m = svm_train(rest.prob, param, r2);
    EXPECT_EQ(target[i], svm_predict(*m, p.prob.x[i])) << i;
  }
  // The same generator state gives the same predictions.
  std::vector<double> again(12);
  SvmRandom r3;
  svm_cross_validation(p.prob, param, 12, again.data(), r3);
  EXPECT_EQ(again, target);
}

TEST(SvmCacheTest, TheBudgetChangesNoResult) {
  // A tiny cache (two columns), the default and a budget beyond the machine's
  // memory (capped) all give the same model.
  CRandom rng(12);
  OwnedProblem p = TwoClouds(rng, 40, 40, 0.2);
  std::vector<std::vector<double>> coefs;
  for (double megabytes : {1e-9, 100.0, 1e9}) {
    svm_parameter param = Csvc(rbf, 2.0);
    param.cache_size = megabytes;
    SvmRandom r;
    auto m = svm_train(p.prob, param, r);
    coefs.push_back(m->sv_coef[0]);
    coefs.back().push_back(m->rho[0]);
  }
  EXPECT_EQ(coefs[0], coefs[1]);
  EXPECT_EQ(coefs[1], coefs[2]);
}

TEST(SvmCacheTest, TheThreadsChangeNoResult) {
  // Kernel columns cut into pieces over three threads (small pieces, so the
  // small problems are cut too) give the model of one thread, for the kernels
  // on one-hot codes, on letters, and the general way.
  CRandom rng(31);
  OwnedProblem letters, dense = TwoClouds(rng, 150, 150, 0.3);
  for (int i = 0; i < 300; ++i) {
    std::string w = testing::RandomLetters(rng, 70, 4);
    if (i % 2 == 0) w.replace(30, 6, "GTAAGT");
    letters.Add(testing::WindowNodes(w), i % 2 == 0 ? 1 : -1);
  }
  OwnedProblem one_hot;
  for (int i = 0; i < 300; ++i) {
    std::vector<svm_node> row;
    for (int p = 0; p < 20; ++p) row.push_back({4 * p + 1 + static_cast<int>(rng.Next() % 4), 1.0});
    row.push_back({-1, 0});
    one_hot.Add(row, row[3].index % 4 == 1 ? 1 : -1);
  }
  struct Case {
    OwnedProblem* p;
    int kernel;
  };
  for (const Case& c : {Case{&one_hot, rbf}, Case{&one_hot, polynomial}, Case{&letters, wd},
                        Case{&letters, wds}, Case{&dense, rbf}}) {
    std::vector<std::vector<double>> coefs;
    std::vector<long long> evaluations;
    for (int threads : {1, 3}) {
      svm_parameter param = Csvc(c.kernel, 1.0);
      param.degree = c.kernel == polynomial ? 2 : 6;
      param.gamma = c.kernel == wds ? 0.5 : 0.05;
      svm_run run;
      run.threads = threads;
      run.column_piece = 16;
      SvmRandom r;
      auto m = svm_train(c.p->prob, param, r, &run);
      coefs.push_back(m->sv_coef[0]);
      coefs.back().push_back(m->rho[0]);
      const auto& x = c.p->prob.x;
      for (int i = 0; i < m->l; ++i) {
        coefs.back().push_back(
            static_cast<double>(std::find(x.begin(), x.end(), m->SV[i]) - x.begin()));
      }
      evaluations.push_back(run.kernel_evaluations);
    }
    EXPECT_EQ(coefs[0], coefs[1]) << c.kernel;
    EXPECT_EQ(evaluations[0], evaluations[1]) << c.kernel;
  }
}

TEST(SvmCacheTest, RebuiltGradientsEqualTheColumnsSums) {
  // Problems that shrink and are unshrunk with many variables free: the
  // gradients of the variables left out are summed again from entries of Q
  // computed past the cache. The letters' fast way (the value taken from
  // either window) and the plain definitions (the column's own way) must give
  // the same model, on one thread and on three.
  CRandom rng(37);
  OwnedProblem letters;
  for (int i = 0; i < 500; ++i) {
    std::string w = testing::RandomLetters(rng, 40, 4);
    if (i % 3 == 0) w.replace(18, 2, "GT");
    letters.Add(testing::WindowNodes(w), i % 3 == 0 && rng.Next() % 5 != 0 ? 1 : -1);
  }
  {
    const int kernel = wd;
    std::vector<std::vector<double>> coefs;
    for (bool plain : {false, true}) {
      for (int threads : {1, 3}) {
        svm_parameter param = Csvc(kernel, 1.0, 0.5);
        param.degree = 8;
        svm_run run;
        run.threads = threads;
        if (plain) run.wd_kernel = testing::ReferenceWd, run.wds_kernel = testing::ReferenceWds;
        SvmRandom r;
        auto m = svm_train(letters.prob, param, r, &run);
        coefs.push_back(m->sv_coef[0]);
        coefs.back().push_back(m->rho[0]);
      }
    }
    for (size_t k = 1; k < coefs.size(); ++k) EXPECT_EQ(coefs[0], coefs[k]) << kernel << " " << k;
  }
}

TEST(SvmReleaseTest, ReleaseFunctions) {
  auto m = std::make_unique<svm_model>();
  m->rho = {1.0};
  m->param.C = 3;
  svm_free_model_content(*m);
  EXPECT_TRUE(m->rho.empty());
  EXPECT_EQ(m->param.C, 3);
  ::testing::internal::CaptureStderr();
  svm_destroy_model(m);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("svm_destroy_model is deprecated"),
            std::string::npos);
  EXPECT_EQ(m, nullptr);
  svm_parameter param;
  param.nr_weight = 1;
  param.weight_label = {1};
  param.weight = {2.0};
  svm_destroy_param(param);
  EXPECT_TRUE(param.weight.empty());
  EXPECT_EQ(param.nr_weight, 0);
}

TEST(SvmCacheTest, HoldsTwoColumnsAtLeastAndEvictsTheLeastRecentlyUsed) {
  Cache cache(10, 1);  // far below the head array: still two columns of 10
  float* data;
  EXPECT_EQ(cache.get_data(0, &data, 10), 0);
  for (int k = 0; k < 10; ++k) data[k] = static_cast<float>(k);
  EXPECT_EQ(cache.get_data(1, &data, 10), 0);
  EXPECT_EQ(cache.get_data(0, &data, 10), 10);  // still there
  EXPECT_EQ(data[7], 7.0f);
  EXPECT_EQ(cache.get_data(2, &data, 10), 0);  // evicts column 1, the least recent
  EXPECT_EQ(cache.get_data(0, &data, 10), 10);
  EXPECT_EQ(cache.get_data(1, &data, 10), 0);
  // Shorter requests are served from what is held.
  EXPECT_EQ(cache.get_data(1, &data, 4), 4);

  Cache big(4, 1 << 20);
  big.get_data(0, &data, 4);
  for (int k = 0; k < 4; ++k) data[k] = static_cast<float>(10 + k);
  big.get_data(1, &data, 2);
  for (int k = 0; k < 2; ++k) data[k] = static_cast<float>(20 + k);
  big.swap_index(1, 3);  // column 0 holds both: entries swapped; column 1 holds only 1: cut there
  EXPECT_EQ(big.get_data(0, &data, 4), 4);
  EXPECT_EQ(data[1], 13.0f);
  EXPECT_EQ(data[3], 11.0f);
  EXPECT_EQ(big.get_data(3, &data, 2), 1);
  EXPECT_EQ(data[0], 20.0f);
}

TEST(SvmCacheTest, ColumnsFollowTheSwaps) {
  // Entries named by the two variables, columns asked for at random lengths
  // between random swaps (a budget of about forty columns, so some are given
  // up), then a log long enough to be followed by every column at once:
  // every entry a column holds, or lends through peek, is the one of the
  // variables now at its places.
  constexpr int l = 300;
  std::vector<int> at(l);
  for (int p = 0; p < l; ++p) at[p] = p;
  const auto entry = [&](int column, int k) { return static_cast<float>(at[column] * l + at[k]); };
  Cache cache(l, (40LL * l + l * 8) * 4);
  CRandom rng(41);
  float* data;
  const auto ask = [&](int column, int len) {
    const int held = cache.get_data(column, &data, len);
    for (int k = 0; k < held; ++k) ASSERT_EQ(data[k], entry(column, k)) << column << " " << k;
    for (int k = held; k < len; ++k) data[k] = entry(column, k);
  };
  for (int step = 0; step < 20000; ++step) {
    const int r = static_cast<int>(rng.Next() % 10);
    const int a = static_cast<int>(rng.Next() % l), b = static_cast<int>(rng.Next() % l);
    if (r < 4) {
      cache.swap_index(a, b);
      std::swap(at[a], at[b]);
    } else if (r < 9) {
      ASSERT_NO_FATAL_FAILURE(ask(a, 1 + b));
    } else if (const float* column = cache.peek(a, b)) {
      ASSERT_EQ(column[b], entry(a, b));
    }
  }
  for (int column = 0; column < 20; ++column) ASSERT_NO_FATAL_FAILURE(ask(column, l));
  for (int k = 0; k < (1 << 20); ++k) {
    // Some columns asked for shortly before the end are close enough to be
    // followed, not dropped.
    if (k == (1 << 20) - 100) {
      for (int column = 0; column < 20; ++column) ASSERT_NO_FATAL_FAILURE(ask(column, l));
    }
    const int a = static_cast<int>(rng.Next() % l), b = static_cast<int>(rng.Next() % l);
    cache.swap_index(a, b);
    std::swap(at[a], at[b]);
  }
  cache.apply_swaps();
  int followed = 0;  // the twenty columns, wherever the swaps took them
  for (int column = 0; column < l; ++column) followed += cache.peek(column, l - 1) != nullptr;
  EXPECT_EQ(followed, 20);
  for (int column = 0; column < l; ++column) ASSERT_NO_FATAL_FAILURE(ask(column, l));
}

TEST(SvmCacheTest, LargeColumnsKeepTheirNumbersAndTheBudget) {
  // Column memory through small and page-backed sizes, grown and cut: the
  // first numbers stay.
  ColumnMemory m;
  size_t kept = 0;
  for (size_t n : {10, 70000, 200000, 100000, 300000, 5}) {
    m.Fit(n, std::min(kept, n));
    ASSERT_GE(m.capacity(), n);
    for (size_t k = 0; k < std::min(kept, n); ++k) ASSERT_EQ(m.data()[k], static_cast<float>(k));
    for (size_t k = 0; k < n; ++k) m.data()[k] = static_cast<float>(k);
    kept = n;
  }
  // A cache of columns of 100,000 numbers with room for three: new columns
  // take the memory of the least recent ones, growing columns keep what
  // they hold, and what the columns take stays within the budget.
  constexpr int l = 100000;
  const long long budget = (3LL * l + l * 8) * 4;
  Cache cache(l, budget);
  float* data;
  for (int round = 0; round < 3; ++round) {
    for (int column = 0; column < 6; ++column) {
      const int len = column % 2 == 0 ? l : l / 3;
      const int held = cache.get_data(column, &data, len);
      for (int k = 0; k < held; ++k) ASSERT_EQ(data[k], static_cast<float>(column + k)) << column;
      for (int k = held; k < len; ++k) data[k] = static_cast<float>(column + k);
      ASSERT_LE(cache.bytes_used(), budget - l * 8 * 4);
    }
  }
  cache.get_data(5, &data, l / 3);
  EXPECT_EQ(cache.get_data(5, &data, l), l / 3);  // grows, its numbers kept
  EXPECT_EQ(data[l / 3 - 1], static_cast<float>(5 + l / 3 - 1));

  // Small columns from the cache's arena: blocks given up are taken again
  // by columns of their size, and numbers survive growth out of them.
  Cache small(1000, 1 << 18);  // room for about a hundred: columns are given up
  for (int round = 0; round < 3; ++round) {
    for (int column = 0; column < 1000; column += 7) {
      const int len = 100 + (column * 37 + round * 11) % 900;
      const int held = small.get_data(column, &data, len);
      for (int k = 0; k < held; ++k) ASSERT_EQ(data[k], static_cast<float>(column - k)) << column;
      for (int k = held; k < len; ++k) data[k] = static_cast<float>(column - k);
      ASSERT_LE(small.bytes_used(), (1 << 18) - 1000 * 8 * 4);
    }
  }
}

}  // namespace
}  // namespace varnik
