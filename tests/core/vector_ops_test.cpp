#include "core/vector_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "core/random.h"

namespace varnik {
namespace {

// The processor's build of the row sums against plain loops, bit for bit,
// for widths around the vector sizes and values with NaN, infinities and
// signed zeros among them.
TEST(VectorOpsTest, RowSumsEqualThePlainLoopsBitForBit) {
  CRandom rng(11);
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            -0.0f,
                            0.0f,
                            1e-45f,
                            3e38f};
  auto value = [&] {
    const int pick = rng.UniformIndex(40);
    return pick < 7 ? specials[pick] : static_cast<float>(rng.UniformNumber() * 200 - 100);
  };
  for (int h : {1, 3, 4, 7, 8, 9, 15, 16, 17, 31, 63, 64, 65, 72, 100, 130}) {
    const int n_base = 12;
    std::vector<float> base(static_cast<size_t>(n_base * h)), src(static_cast<size_t>(h));
    for (float& x : base) x = value();
    for (float& x : src) x = value();
    const std::vector<int> rows = {3, 0, 11, 3, 7, 5};
    std::vector<float> a(src), b(src);
    AddRowsInto(a.data(), base.data(), rows.data(), static_cast<int>(rows.size()), h);
    AddRowsIntoPlain(b.data(), base.data(), rows.data(), static_cast<int>(rows.size()), h);
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0) << h;
    std::vector<float> c(base), d(base);
    AddIntoRows(c.data(), rows.data(), static_cast<int>(rows.size()), h, src.data());
    AddIntoRowsPlain(d.data(), rows.data(), static_cast<int>(rows.size()), h, src.data());
    EXPECT_EQ(std::memcmp(c.data(), d.data(), c.size() * sizeof(float)), 0) << h;
    // And the plain loops are the scalar sums.
    std::vector<float> e(src);
    for (int r : rows) {
      for (int j = 0; j < h; ++j) e[j] += base[static_cast<size_t>(r * h + j)];
    }
    EXPECT_EQ(std::memcmp(e.data(), b.data(), e.size() * sizeof(float)), 0) << h;
    // The momentum step over the same values.
    std::vector<float> w1(base), w2(base), m1(base), m2(base), c1(base), c2(base);
    std::reverse(m1.begin(), m1.end());
    std::reverse(m2.begin(), m2.end());
    MomentumUpdate(w1.data(), m1.data(), c1.data(), 0.9f, static_cast<int>(w1.size()));
    MomentumUpdatePlain(w2.data(), m2.data(), c2.data(), 0.9f, static_cast<int>(w2.size()));
    EXPECT_EQ(std::memcmp(w1.data(), w2.data(), w1.size() * sizeof(float)), 0) << h;
    EXPECT_EQ(std::memcmp(m1.data(), m2.data(), m1.size() * sizeof(float)), 0) << h;
    EXPECT_EQ(std::memcmp(c1.data(), c2.data(), c1.size() * sizeof(float)), 0) << h;
  }
}

// The units' tangents four at a time against the C library's, bit for bit:
// values over the whole range of sums, near 0, near the bounds at +-45 and
// where the tangent rounds to 1, special values, and several A and B.
TEST(VectorOpsTest, TangentsEqualTheLibrarysBitForBit) {
  CRandom rng(5);
  std::vector<float> s;
  const float specials[] = {0.0f,
                            -0.0f,
                            1e-45f,
                            -1e-45f,
                            1e-30f,
                            45.0f,
                            -45.0f,
                            45.000004f,
                            -45.000004f,
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(),
                            1.0f / 1024,
                            3e38f};
  for (float x : specials) s.push_back(x);
  for (int i = 0; i < 200000; ++i) {
    const double u = rng.UniformNumber();
    const double scale = std::ldexp(1.0, rng.UniformIndex(20) - 14);  // 2^-14 .. 2^5
    s.push_back(static_cast<float>((2 * u - 1) * scale * (rng.UniformIndex(8) == 0 ? 20 : 1)));
  }
  struct AB {
    float A, B;
  };
  for (const AB ab : {AB{1.7159f, 0.6666f}, AB{1.0f, 1.0f}, AB{2.5f, 0.01f}, AB{-1.0f, 3.0f},
                      AB{1.0f, 1e30f}, AB{0.0f, 1.0f}}) {
    for (int n : {static_cast<int>(s.size()), 7}) {
      std::vector<float> fast(static_cast<size_t>(n)), plain(static_cast<size_t>(n));
      ScaledTanhs(s.data(), fast.data(), n, ab.A, ab.B);
      ScaledTanhsPlain(s.data(), plain.data(), n, ab.A, ab.B);
      EXPECT_EQ(std::memcmp(fast.data(), plain.data(), fast.size() * sizeof(float)), 0)
          << ab.A << " " << ab.B << " " << n;
    }
  }
  EXPECT_EQ(ScaledTanh(0.5f, 2.0f, 1.0f), static_cast<float>(2.0 * std::tanh(0.5)));
  EXPECT_EQ(ScaledTanh(46.0f, 1.5f, 1.0f), 1.5f);
}

}  // namespace
}  // namespace varnik
