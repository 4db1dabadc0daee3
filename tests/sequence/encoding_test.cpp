#include "sequence/encoding.h"

#include <gtest/gtest.h>

namespace varnik {
namespace {

SequenceSet Set(const std::vector<std::string>& windows, int L) {
  SequenceSet set(0, L);
  for (const std::string& w : windows) set.Append(w);
  return set;
}

TEST(EncodingTest, OneHotAndLetterIndex) {
  const SequenceSet pos = Set({"ACG"}, 3), neg = Set({"N-R"}, 3);
  ScalarData onehot = ConvertToScalarData(pos, neg, 3, 0);
  EXPECT_EQ(onehot.ndata, 2);
  EXPECT_EQ(onehot.dim, 12);
  EXPECT_EQ(std::vector<float>(onehot.row(0), onehot.row(0) + 12),
            (std::vector<float>{1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0}));
  EXPECT_EQ(std::vector<float>(onehot.row(1), onehot.row(1) + 12), std::vector<float>(12, 0.0f));
  EXPECT_EQ(onehot.labels, (std::vector<int32_t>{0, 1}));

  for (int kernel : {5, 6}) {
    ScalarData index = ConvertToScalarData(pos, neg, 3, kernel);
    EXPECT_EQ(index.dim, 3);
    EXPECT_EQ(std::vector<float>(index.row(0), index.row(0) + 3), (std::vector<float>{1, 4, 3}));
    EXPECT_EQ(std::vector<float>(index.row(1), index.row(1) + 3), (std::vector<float>{-1, 0, -1}));
  }
  const SequenceSet ns = Set({"NNNN", "TTTT"}, 4), none = Set({}, 4);
  ScalarData n = ConvertToScalarData(ns, none, 4, 6);
  EXPECT_EQ(std::vector<float>(n.row(0), n.row(0) + 4), std::vector<float>(4, -1.0f));
  EXPECT_EQ(std::vector<float>(n.row(1), n.row(1) + 4), std::vector<float>(4, 2.0f));

  ScalarData empty = ConvertToScalarData(none, none, 4, 0);
  EXPECT_EQ(empty.ndata, 0);
  EXPECT_TRUE(empty.values.empty());
  ScalarData zero_length = ConvertToScalarData(Set({""}, 0), Set({""}, 0), 0, 0);
  EXPECT_EQ(zero_length.dim, 0);
  EXPECT_EQ(zero_length.labels, (std::vector<int32_t>{0, 1}));
}

TEST(EncodingTest, HotIndicesAreTheOnesOfTheOneHotEncoding) {
  const std::string w = "ATGCNRYKMSWBDHVX-ACGT";
  const int L = static_cast<int>(w.size());
  std::vector<float> dense(4 * w.size());
  ConvertToScalarSequence(w.c_str(), L, dense.data());
  std::vector<int32_t> hot(w.size());
  const int n = OneHotIndices(w.c_str(), L, hot.data());
  std::vector<int32_t> ones;
  for (size_t k = 0; k < dense.size(); ++k) {
    if (dense[k] != 0.0f) {
      EXPECT_EQ(dense[k], 1.0f);
      ones.push_back(static_cast<int32_t>(k));
    }
  }
  EXPECT_EQ(std::vector<int32_t>(hot.begin(), hot.begin() + n), ones);
  EXPECT_EQ(n, 8);
}

TEST(EncodingTest, ScaleData) {
  ScalarData d;
  d.ndata = 2;
  d.dim = 3;
  d.values = {2, 5, -1, 6, 5, 3};
  const ScaleCoefficients c = ScaleData(d, -1.0f, 1.0f, true);
  EXPECT_EQ(c.a, (std::vector<float>{0.5f, 1.0f, 0.5f}));
  EXPECT_EQ(c.b, (std::vector<float>{-2.0f, 0.0f, -0.5f}));
  EXPECT_EQ(d.values, (std::vector<float>{-1, 5, -1, 1, 5, 1}));

  ScalarData e;
  e.ndata = 2;
  e.dim = 1;
  e.values = {2, 6};
  const ScaleCoefficients off = ScaleData(e, -1.0f, 1.0f, false);
  EXPECT_EQ(off.a, std::vector<float>{1.0f});
  EXPECT_EQ(off.b, std::vector<float>{0.0f});
  EXPECT_EQ(e.values, (std::vector<float>{2, 6}));
}

}  // namespace
}  // namespace varnik
