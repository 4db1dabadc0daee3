#include "core/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/error.h"
#include "core/numeric.h"
#include "svm/svm.h"

namespace varnik {
namespace {

TEST(CRandomTest, RepeatsTheCLibrarySequenceForManySeeds) {
  for (unsigned seed :
       {0u, 1u, 2u, 42u, 12345u, 2147483647u, 4294967295u, static_cast<unsigned>(-1733210000)}) {
    srandom(seed);
    CRandom rng(seed);
    for (int i = 0; i < 2000; ++i) {
      ASSERT_EQ(rng.Next(), random()) << "seed " << seed << " draw " << i;
    }
  }
}

TEST(CRandomTest, DefaultStateIsSeedOneAndReseedingRestarts) {
  srandom(1);
  CRandom rng;
  std::vector<long> first;
  for (int i = 0; i < 50; ++i) {
    first.push_back(rng.Next());
    EXPECT_EQ(first.back(), random());
  }
  rng.Seed(1);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(rng.Next(), first[i]);
}

TEST(CRandomTest, TheSvmShufflesDrawLikeAnUnseededRand) {
  // The C library's rand() draws from the same generator as random(), and
  // without a seed it starts as if seeded with 1.
  srandom(1);
  SvmRandom engine;
  for (int i = 0; i < 100; ++i) EXPECT_EQ(engine.Next(), rand());
}

TEST(CRandomTest, UniformFormulasStayInRange) {
  CRandom rng(7);
  for (int i = 0; i < 10000; ++i) {
    const int k = rng.UniformIndex(13);
    ASSERT_GE(k, 0);
    ASSERT_LT(k, 13);
    const double u = rng.UniformNumber();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
  }
  // The index is (int)((r - 1) / 2147483647 * n) of the same draw.
  CRandom a(99), b(99);
  for (int i = 0; i < 100; ++i) {
    const int r = b.Next();
    EXPECT_EQ(a.UniformIndex(1000), static_cast<int>((r - 1.0) / 2147483647.0 * 1000));
  }
}

TEST(NumericTest, RandomisedVectorIsAReproduciblePermutation) {
  CRandom a(5), b(5);
  std::vector<int> v, w;
  GetRandomisedVector(v, 100, a);
  GetRandomisedVector(w, 100, b);
  EXPECT_EQ(v, w);
  std::vector<int> sorted = v;
  std::sort(sorted.begin(), sorted.end());
  for (int i = 0; i < 100; ++i) EXPECT_EQ(sorted[i], i);
  // Each i is exchanged with the draw's index in turn.
  CRandom c(5);
  std::vector<int> expected(100);
  for (int i = 0; i < 100; ++i) expected[i] = i;
  for (int i = 0; i < 100; ++i) std::swap(expected[i], expected[c.UniformIndex(100)]);
  EXPECT_EQ(v, expected);
  GetRandomisedVector(v, 0, a);
  EXPECT_TRUE(v.empty());
}

TEST(NumericTest, DistanceAndComparisons) {
  const float a[] = {1.0f, 2.0f, 3.0f};
  const float b[] = {4.0f, 6.0f, 3.0f};
  EXPECT_FLOAT_EQ(EuclideanDistance(a, b, 3), 5.0f);
  EXPECT_EQ(EuclideanDistance(a, b, 0), 0.0f);
  EXPECT_EQ(EuclideanDistance(a, b, -2), 0.0f);
  EXPECT_LT(CompareDouble(0.25f, 0.5f), 0);
  EXPECT_GT(CompareDouble(0.5f, 0.25f), 0);
  EXPECT_EQ(CompareDouble(0.5f, 0.5f), 0);
  EXPECT_LT(CompareInteger(-3, 2), 0);
  EXPECT_GT(CompareInteger(2000000000, -2000000000), 0);  // no overflow
  EXPECT_EQ(CompareInteger(4, 4), 0);
}

TEST(NumericTest, ThresholdIndexUsesSinglePrecisionSettingAndIsClamped) {
  // 0.8 in single precision makes 10 * (1 - 0.8) slightly below 2.
  EXPECT_EQ(SensitivityIndex(10, 0.8f), 1);
  EXPECT_EQ(SensitivityIndex(100, 0.8f), 19);
  EXPECT_EQ(SensitivityIndex(10, 0.5f), 5);
  EXPECT_EQ(SensitivityIndex(10, 0.0f), 9);  // 10 would be past the end
  EXPECT_EQ(SensitivityIndex(10, -0.5f), 9);
  EXPECT_EQ(SensitivityIndex(10, 1.0f), 0);
  EXPECT_EQ(SensitivityIndex(10, 1.5f), 0);
  EXPECT_EQ(SensitivityIndex(1, 0.8f), 0);
  EXPECT_EQ(ClampedIndex(0.0 / 0.0, 5), 0);
  EXPECT_EQ(ClampedIndex(3.99, 5), 3);
}

TEST(ErrorTest, LineCarriesTheTextOfTheCode) {
  try {
    OnErrorExit(kReadFailed, "LoadReal");
    FAIL() << "OnErrorExit returned";
  } catch (const VarnikError& e) {
    EXPECT_EQ(e.code(), 4);
    EXPECT_EQ(e.Line(), "Read failed: LoadReal");
  }
  EXPECT_STREQ(ErrorText(0), "No error");
  EXPECT_STREQ(ErrorText(1), "Unspecified error");
  EXPECT_STREQ(ErrorText(2), "Cannot open file");
  EXPECT_STREQ(ErrorText(3), "Cannot allocate memory");
}

}  // namespace
}  // namespace varnik
