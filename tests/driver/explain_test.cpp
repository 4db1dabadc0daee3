#include "driver/explain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

namespace varnik {
namespace {

// Every k-mer over the letters, of length k.
std::vector<std::string> AllKmers(const std::string& letters, int k) {
  std::vector<std::string> out = {""};
  for (int i = 0; i < k; ++i) {
    std::vector<std::string> next;
    for (const std::string& s : out) {
      for (char c : letters) next.push_back(s + c);
    }
    out = next;
  }
  return out;
}

TEST(ExplainTest, WeightedDegreeWeightsAreTheCoefficientsOfTheKmersHolders) {
  svm_model model;
  model.nr_class = 2;
  model.param.kernel_type = wd;
  model.param.degree = 3;
  model.sv_letters = {"ACGTA", "ACGAA", "TCGTC", "ACCTA"};
  model.l = 4;
  model.sv_coef = {{0.5, -0.2, -0.7, 0.4}};
  const int n = 5, d = 3;
  double norm = 0;
  for (int k = 1; k <= d; ++k) norm += (d - k + 1) * (n - k + 1);
  // By enumeration: every k-mer at every start, held or not.
  std::vector<double> importance(n, 0);
  std::vector<WdKmer> held;
  for (int start = 0; start < n; ++start) {
    for (int k = 1; k <= std::min(d, n - start); ++k) {
      double high = -INFINITY, low = INFINITY;
      for (const std::string& kmer : AllKmers("ACGT", k)) {
        double w = 0;
        bool any = false;
        for (int i = 0; i < model.l; ++i) {
          if (model.sv_letters[i].compare(start, k, kmer) == 0) {
            w += model.sv_coef[0][i] * (d - k + 1) / norm;
            any = true;
          }
        }
        high = std::max(high, w);
        low = std::min(low, w);
        if (any) held.push_back({start, kmer, w});
      }
      for (int p = start; p < start + k; ++p) importance[p] += (high - low) / k;
    }
  }
  const WdExplanation e = ExplainWeightedDegree(model, 1000);
  ASSERT_EQ(e.importance.size(), static_cast<size_t>(n));
  for (int p = 0; p < n; ++p) EXPECT_NEAR(e.importance[p], importance[p], 1e-12) << p;
  ASSERT_EQ(e.top.size(), held.size());
  std::map<std::pair<int, std::string>, double> want;
  for (const WdKmer& k : held) want[{k.start, k.kmer}] = k.weight;
  for (size_t i = 0; i < e.top.size(); ++i) {
    const WdKmer& k = e.top[i];
    ASSERT_TRUE(want.count({k.start, k.kmer})) << k.start << " " << k.kmer;
    EXPECT_NEAR(k.weight, (want[{k.start, k.kmer}]), 1e-12) << k.kmer;
    if (i > 0) {
      EXPECT_GE(std::fabs(e.top[i - 1].weight), std::fabs(k.weight));
    }
  }
  // The strongest k-mer starting at each position is the first of the
  // overall list there.
  for (int p = 0; p < n; ++p) {
    const auto first =
        std::find_if(e.top.begin(), e.top.end(), [&](const WdKmer& k) { return k.start == p; });
    ASSERT_NE(first, e.top.end());
    EXPECT_EQ(e.strongest[p].kmer, first->kmer) << p;
  }
  // A short list keeps the strongest.
  const WdExplanation three = ExplainWeightedDegree(model, 3);
  ASSERT_EQ(three.top.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(three.top[i].kmer, e.top[i].kmer);
}

TEST(ExplainTest, LinearWeightsSumTheCoefficientsOfEachLetter) {
  // One-hot index 4p + code, codes A 1, T 2, G 3, C 4.
  svm_model model;
  const std::vector<svm_node> a = {{1, 1}, {7, 1}, {-1, 0}};  // A at 0, G at 1
  const std::vector<svm_node> b = {{4, 1}, {7, 1}, {-1, 0}};  // C at 0, G at 1
  const std::vector<svm_node> c = {{2, 1}, {-1, 0}};          // T at 0
  model.SV = {a.data(), b.data(), c.data()};
  model.l = 3;
  model.sv_coef = {{1.5, -0.5, -1}};
  const auto w = LinearLetterWeights(model, 2);
  ASSERT_EQ(w.size(), 2u);
  const std::array<double, 4> first = {1.5, -0.5, 0, -1}, second = {0, 0, 1.0, 0};
  EXPECT_EQ(w[0], first);
  EXPECT_EQ(w[1], second);
}

}  // namespace
}  // namespace varnik
