#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "svm/internal/kernel.h"
#include "svm/reference_kernels.h"
#include "svm/svm_test_util.h"

namespace varnik {
namespace {

using testing::WindowNodes;

double Wd(const std::string& a, const std::string& b, int d) {
  return WeightedDegreeKernel(WindowNodes(a).data(), WindowNodes(b).data(), d);
}
double Wds(const std::string& a, const std::string& b, int d, double sigma) {
  return WeightedDegreeKernelWithShifts(WindowNodes(a).data(), WindowNodes(b).data(), d, sigma);
}

TEST(StringKernelTest, HandComputedValues) {
  EXPECT_EQ(Wd("ACGTAC", "ACGTAC", 22), 1.0);
  EXPECT_EQ(Wds("ACGTAC", "ACGTAC", 22, 0.5), 1.0);
  // d = 1: the fraction of agreeing positions.
  EXPECT_EQ(Wd("ACGTAC", "ACCTAA", 1), 4.0 / 6.0);
  // d = 2 on 4 letters, matches at 0, 1, 3: 1-mers 3, 2-mers 1 (at 0).
  // (2 * 3 + 1 * 1) / (2 * 4 + 1 * 3) = 7 / 11.
  EXPECT_EQ(Wd("ACGT", "ACCT", 2), 7.0 / 11.0);
  // wds with no shift allowed equals wd.
  EXPECT_DOUBLE_EQ(Wds("ACGTTGCA", "ACCTTGAA", 3, 0.0), Wd("ACGTTGCA", "ACCTTGAA", 3));
  // Shifts: u = CA, v = AC, d = 1, sigma = 1. Position 0: no shift, no match.
  // Position 1 (S = 1): s = 0: A vs C, no; s = 1 is past the end (s <= n - i - 1 = 0).
  // So W(u, v) = 0.
  EXPECT_EQ(Wds("CA", "AC", 1, 1.0), 0.0);
  // u = ACA, v = CAC, d = 1, sigma = 1: position 1 may shift by 1:
  // A: u[2] = A vs v[1] = A -> 1; B: u[1] = C vs v[2] = C -> 1; adds 2 / 4.
  // Position 2: s = 0 only (s <= n - i - 1 = 0): A vs C no. W(u, v) = 0.5.
  // W(u, u): position 0: 1; 1: s0 1 + s1 (u[2]=A vs u[1]=C, u[1]=C vs u[2]=A) 0; 2: 1 -> 3.
  // W(v, v) likewise 3. Value 0.5 / 3.
  EXPECT_DOUBLE_EQ(Wds("ACA", "CAC", 1, 1.0), 0.5 / 3.0);
}

TEST(StringKernelTest, DegreeAboveTheWindowLengthCountsOnlyKmersThatFit) {
  // With d = 22 on 4 letters the plain sum over k = 1 .. d would include negative
  // terms; only k = 1 .. 4 count, so identical prefixes stay below 1.
  const double v = Wd("ACGT", "ACGA", 22);
  EXPECT_LT(v, 1.0);
  // k-mers: 1: 3 matches (beta 22), 2: 2 (21), 3: 1 (20), 4: 0.
  // denominator: 22*4 + 21*3 + 20*2 + 19*1 = 210.
  EXPECT_DOUBLE_EQ(v, (22.0 * 3 + 21.0 * 2 + 20.0 * 1) / 210.0);
  // A huge degree costs no more than the window's length (weights for the
  // lengths that count only), with the same formula.
  const double D = 2000000000.0;
  EXPECT_DOUBLE_EQ(
      Wd("ACGT", "ACGA", 2000000000),
      (D * 3 + (D - 1) * 2 + (D - 2) * 1) / (D * 4 + (D - 1) * 3 + (D - 2) * 2 + (D - 3)));
  const WdWeights huge(2000000000, 8);
  EXPECT_EQ(huge.beta_prefix(8), 8 * 2000000000LL - 28);
  EXPECT_EQ(huge.beta_prefix(100), huge.beta_prefix(8));
  const double far = Wds("ACGTTGCA", "ACCTTGAA", 2000000000, 0.5);
  EXPECT_GT(far, 0.0);
  EXPECT_LT(far, 1.0);
  CRandom rng(8);
  for (int t = 0; t < 50; ++t) {
    const std::string a = testing::RandomLetters(rng, 6), b = testing::RandomLetters(rng, 6);
    const double w = Wd(a, b, 22);
    EXPECT_GE(w, 0.0);
    EXPECT_LE(w, 1.0);
    const double s = Wds(a, b, 22, 0.7);
    EXPECT_GE(s, 0.0);
    EXPECT_LE(s, 1.0 + 1e-12);
  }
}

TEST(StringKernelTest, FastKernelsEqualTheDefinitions) {
  CRandom rng(21);
  for (int n : {1, 2, 5, 17, 60, 141}) {
    for (int d : {1, 3, 8, 22, 200}) {
      for (int t = 0; t < 4; ++t) {
        // Few letters make long runs of matches.
        const std::string a = testing::RandomLetters(rng, n, t % 2 == 0 ? 2 : 5);
        std::string b = testing::RandomLetters(rng, n, t % 2 == 0 ? 2 : 5);
        if (t == 3) b = a, b[n / 2] = b[n / 2] == 'A' ? 'C' : 'A';
        const auto x = WindowNodes(a), y = WindowNodes(b);
        ASSERT_EQ(WeightedDegreeKernel(x.data(), y.data(), d),
                  testing::ReferenceWd(x.data(), y.data(), d))
            << n << " " << d;
        if (n <= 60) {
          for (double sigma : {0.0, 0.3, 0.5, 1.0, 2.5}) {
            const double ref = testing::ReferenceWds(x.data(), y.data(), d, sigma);
            const double fast = WeightedDegreeKernelWithShifts(x.data(), y.data(), d, sigma);
            ASSERT_NEAR(fast, ref, 1e-12 * std::fabs(ref) + 1e-300)
                << n << " " << d << " " << sigma;
          }
        }
      }
    }
  }
}

TEST(StringKernelTest, LetterPathsEqualTheDefinitions) {
  // The training and prediction paths work on letters as match bits, a word
  // per 64 letters, runs crossing the words' ends (and the stack room of
  // 1,024 letters); both must give the definitions' values.
  CRandom rng(33);
  for (int n : {1, 7, 16, 33, 63, 64, 65, 90, 127, 128, 129, 191, 200, 300, 1100}) {
    for (int t = 0; t < 3; ++t) {
      const std::string a = testing::RandomLetters(rng, n, t == 0 ? 2 : 4);
      const std::string b = testing::RandomLetters(rng, n, t == 0 ? 2 : 4);
      const auto x = WindowNodes(a), y = WindowNodes(b);
      const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
      const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
      for (int d : {1, 5, 22}) {
        const WdWeights w(d, n);
        EXPECT_EQ(WdKernelLetters(pa, pb, n, w), testing::ReferenceWd(x.data(), y.data(), d));
        EXPECT_EQ(WdKernelLettersPortable(pa, pb, n, w), WdKernelLetters(pa, pb, n, w));
        EXPECT_EQ(WdKernelLetters(pa, pa, n, w), 1.0);
        for (double sigma : {0.0, 0.4, 1.0, 3.0}) {
          if (n > 300 && sigma != 0.4) continue;  // the definition is slow this long
          const double ref = testing::ReferenceWdsSum(x.data(), y.data(), d, sigma);
          EXPECT_NEAR(WdsSum(pa, pb, n, d, sigma, w), ref, 1e-12 * ref)
              << n << " " << d << " " << sigma;
        }
      }
    }
  }
}

TEST(StringKernelTest, RowsEightAtATimeEqualTheValuesOneByOne) {
  // Rows of windows held one after another, each row its own mix: few
  // letters (runs past d and across words), equal windows, a letter changed
  // at a word's end; counts that leave a few values over after the eights.
  if (!WdKernelRowIsWide(64)) GTEST_SKIP() << "this processor takes the one-by-one way";
  CRandom rng(35);
  for (int n : {1, 5, 42, 63, 64, 65, 100, 128, 141, 192, 193, 255, 256, 257}) {
    const int count = 8 * 5 + n % 8;
    const std::string a = testing::RandomLetters(rng, n, 3);
    std::string rows;
    for (int k = 0; k < count; ++k) {
      std::string b = testing::RandomLetters(rng, n, 1 + k % 4);
      if (k % 7 == 3) b = a;
      if (k % 7 == 5) b = a, b[std::min(n - 1, 63)] = 'T';
      rows += b;
    }
    std::vector<const unsigned char*> b(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k) {
      b[k] = reinterpret_cast<const unsigned char*>(rows.data()) + static_cast<size_t>(k) * n;
    }
    const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
    for (int d : {1, 3, 4, 5, 20, 300}) {
      const WdWeights w(d, n);
      std::vector<double> wide(static_cast<size_t>(count)), narrow(wide.size());
      WdKernelRow(pa, b.data(), count, n, w, wide.data());
      WdKernelRowNarrow(pa, b.data(), count, n, w, narrow.data());
      for (int k = 0; k < count; ++k) {
        ASSERT_EQ(wide[k], narrow[k]) << n << " " << d << " " << k;
        ASSERT_EQ(narrow[k], WdKernelLetters(pa, b[k], n, w)) << n << " " << d << " " << k;
      }
    }
  }
}

TEST(StringKernelTest, ShiftLimitGrowsWithThePosition) {
  // sigma = 0.5: position 4 may shift by 2, position 3 by 1 only.
  // u has its C at 6, v at 4: only a shift of 2 at position 4 lines them up.
  const std::string u = "AAAAAACAA", v = "AAAACAAAA";
  const auto x = WindowNodes(u), y = WindowNodes(v);
  EXPECT_DOUBLE_EQ(WeightedDegreeKernelWithShifts(x.data(), y.data(), 1, 0.5),
                   testing::ReferenceWds(x.data(), y.data(), 1, 0.5));
  EXPECT_GT(testing::ReferenceWdsSum(x.data(), y.data(), 1, 0.5),
            testing::ReferenceWdsSum(x.data(), y.data(), 1, 0.4));
}

TEST(ClassicKernelTest, ValuesAndKFunction) {
  const auto a = testing::DenseNodes({1, 2, 0, 3});
  const auto b = testing::DenseNodes({0, 1, 4, 1});
  svm_parameter p;
  p.kernel_type = linear;
  EXPECT_EQ(k_function(a.data(), b.data(), p), 5.0);
  EXPECT_EQ(dot(a.data(), b.data()), 5.0);
  p.kernel_type = polynomial;
  p.gamma = 0.5;
  p.coef0 = 1;
  p.degree = 3;
  EXPECT_DOUBLE_EQ(k_function(a.data(), b.data(), p), std::pow(3.5, 3));
  p.degree = 0;
  EXPECT_EQ(k_function(a.data(), b.data(), p), 1.0);
  p.kernel_type = rbf;
  p.gamma = 0.1;
  // |a - b|^2 = 1 + 1 + 16 + 4 = 22.
  EXPECT_DOUBLE_EQ(k_function(a.data(), b.data(), p), std::exp(-2.2));
  p.kernel_type = sigmoid;
  p.gamma = 0.1;
  p.coef0 = -0.2;
  EXPECT_DOUBLE_EQ(k_function(a.data(), b.data(), p), std::tanh(0.3));
  p.kernel_type = 7;
  EXPECT_EQ(k_function(a.data(), b.data(), p), 0.0);
  // Precomputed: x's entry at y's serial number.
  const std::vector<svm_node> row = {{0, 2}, {1, 0.5}, {2, 0.25}, {-1, 0}};
  const std::vector<svm_node> serial = {{0, 2}, {-1, 0}};
  p.kernel_type = precomputed;
  EXPECT_EQ(k_function(row.data(), serial.data(), p), 0.25);
}

// The kernel inside a training problem gives the values k_function gives.
class KernelProbe : public Kernel {
 public:
  using Kernel::Kernel;
  double value(int i, int j) { return kernel(i, j); }
  const float* get_Q(int, int) override { return nullptr; }
  const double* get_QD() const override { return nullptr; }
};

TEST(ClassicKernelTest, TrainingKernelMatchesKFunction) {
  CRandom rng(4);
  std::vector<std::vector<svm_node>> rows;
  std::vector<std::string> windows;
  for (int i = 0; i < 6; ++i) {
    windows.push_back(testing::RandomLetters(rng, 12, 3));
    rows.push_back(testing::WindowNodes(windows.back()));
  }
  std::vector<const svm_node*> x;
  for (const auto& r : rows) x.push_back(r.data());
  for (int type : {linear, polynomial, rbf, sigmoid, wd, wds}) {
    svm_parameter p;
    p.kernel_type = type;
    p.gamma = type == wds ? 0.5 : 0.001;
    p.coef0 = 0.1;
    p.degree = type == polynomial ? 2 : 5;
    KernelProbe k(6, x.data(), p, nullptr);
    for (int i = 0; i < 6; ++i) {
      for (int j = 0; j < 6; ++j) {
        const double expected = k_function(x[i], x[j], p);
        if (type == rbf) {
          EXPECT_NEAR(k.value(i, j), expected, 1e-12) << type;
        } else {
          EXPECT_DOUBLE_EQ(k.value(i, j), expected) << type;
        }
      }
    }
    // Swapping rows swaps their values.
    k.swap_index(0, 3);
    EXPECT_DOUBLE_EQ(k.value(0, 1), k_function(x[3], x[1], p));
  }
}

TEST(ClassicKernelTest, OneHotWindowsTakeTheShortcutWithTheSameValues) {
  CRandom rng(14);
  std::vector<std::vector<svm_node>> rows;
  for (int i = 0; i < 8; ++i) {
    const std::string w = testing::RandomLetters(rng, 23, 5);  // with N: no node
    std::vector<svm_node> v;
    for (int p = 0; p < 23; ++p) {
      const char* slot = std::strchr("ATGC", w[p]);
      if (slot != nullptr) v.push_back({4 * p + static_cast<int>(slot - "ATGC") + 1, 1.0});
    }
    v.push_back({-1, 0.0});
    rows.push_back(v);
  }
  std::string codes;
  ASSERT_TRUE(EncodeOneHot(rows[0].data(), codes));
  // Not one-hot: a value other than 1, or two nodes in one block of four.
  const std::vector<svm_node> twice = {{1, 1.0}, {2, 1.0}, {-1, 0}};
  const std::vector<svm_node> real = {{1, 0.5}, {-1, 0}};
  EXPECT_FALSE(EncodeOneHot(twice.data(), codes));
  EXPECT_FALSE(EncodeOneHot(real.data(), codes));
  std::vector<const svm_node*> x;
  for (const auto& r : rows) x.push_back(r.data());
  for (int type : {linear, polynomial, rbf, sigmoid}) {
    svm_parameter p;
    p.kernel_type = type;
    p.gamma = 0.037;
    p.coef0 = 0.3;
    p.degree = 3;
    KernelProbe k(8, x.data(), p, nullptr);
    for (int i = 0; i < 8; ++i) {
      for (int j = 0; j < 8; ++j) EXPECT_EQ(k.value(i, j), k_function(x[i], x[j], p)) << type;
    }
  }
}

}  // namespace
}  // namespace varnik
