#include "core/output_file.h"

#include <gtest/gtest.h>

#include "core/error.h"
#include "test_util.h"

namespace varnik {
namespace {

TEST(OutputFileTest, WritesFormattedText) {
  testing::TempDir dir;
  OutputFile f;
  ASSERT_TRUE(f.Open(dir / "out"));
  f.Printf("%7.4lf %d\n", 0.25, 1);
  f.Close();
  EXPECT_EQ(testing::ReadFile(dir / "out"), " 0.2500 1\n");
}

TEST(OutputFileTest, AFullDiskIsReportedAtTheLatestOnClose) {
  OutputFile f;
  ASSERT_TRUE(f.Open("/dev/full"));
  try {
    for (int i = 0; i < 10; ++i) f.Printf("line %d\n", i);
    f.Close();
    FAIL() << "a write to a full device went unnoticed";
  } catch (const VarnikError& e) {
    EXPECT_EQ(e.code(), 1);
    EXPECT_NE(std::string(e.what()).find("/dev/full"), std::string::npos);
  }
}

TEST(OutputFileTest, CannotCreateInMissingDirectory) {
  OutputFile f;
  EXPECT_FALSE(f.Open("/nonexistent-dir/x/report"));
  EXPECT_FALSE(f.is_open());
}

}  // namespace
}  // namespace varnik
