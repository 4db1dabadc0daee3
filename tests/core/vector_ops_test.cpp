#include "core/vector_ops.h"

#include <gtest/gtest.h>

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
  for (int h : {1, 3, 4, 7, 8, 9, 15, 16, 17, 31, 100}) {
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
  }
}

}  // namespace
}  // namespace varnik
