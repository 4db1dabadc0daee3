#include "driver/mask.h"

#include <gtest/gtest.h>

#include "core/error.h"
#include "test_util.h"

namespace varnik {
namespace {

std::vector<int> ReadMask(const std::string& text, int L) {
  testing::TempDir dir;
  testing::WriteFile(dir / "mask", text);
  return ReadMaskFile(dir / "mask", L);
}

std::string MaskError(const std::string& text, int L) {
  try {
    ReadMask(text, L);
  } catch (const VarnikError& e) {
    EXPECT_EQ(e.code(), 1);
    return e.what();
  }
  return "no error";
}

TEST(MaskTest, KeepsFlaggedPositionsInOrder) {
  const std::vector<int> flags = ReadMask("1\n0\n1\n1\n", 4);
  SequenceSet set(0, 4);
  set.Append("ACGT");
  set.Append("TTGA");
  EXPECT_EQ(ApplyMask(set, 4, flags), 3);
  EXPECT_STREQ(set[0], "AGT");
  EXPECT_STREQ(set[1], "TGA");
}

TEST(MaskTest, LineRules) {
  // Extra lines are ignored; blanks before the number are allowed; a line
  // without digits counts as 0; the last line needs no line end.
  EXPECT_EQ(ReadMask("  2\nx\n0\n1\n1\n1\n", 4), (std::vector<int>{1, 0, 0, 1}));
  EXPECT_EQ(ReadMask("1\n0\n1", 3), (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(MaskError("1\n0\n", 3), "Unexpected finish of mask file");
  EXPECT_EQ(MaskError("", 1), "Unexpected finish of mask file");
  EXPECT_EQ(MaskError("0\n0\nzero\n", 3), "All bases masked out");
  try {
    ReadMaskFile("/nonexistent/mask", 3);
    FAIL();
  } catch (const VarnikError& e) {
    EXPECT_STREQ(e.what(), "Cannot open mask file");
  }
}

TEST(MaskTest, NilIsCaseSensitiveOnThreeLetters) {
  EXPECT_TRUE(MaskFileIsNil("nil"));
  EXPECT_TRUE(MaskFileIsNil("nilpotent"));
  EXPECT_FALSE(MaskFileIsNil("NIL"));
  EXPECT_FALSE(MaskFileIsNil("ni"));
}

}  // namespace
}  // namespace varnik
