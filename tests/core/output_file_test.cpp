#include "core/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

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

// A file appears whole when it is closed, and not before; a file that is not
// closed leaves the earlier one of its name, unless it keeps what was
// written (the report of a failed run).
TEST(OutputFileTest, WrittenWholeOrNotAtAll) {
  testing::TempDir dir;
  testing::WriteFile(dir / "r", "earlier\n");
  chmod((dir / "r").c_str(), 0640);
  auto files = [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  {
    OutputFile f;
    ASSERT_TRUE(f.Open(dir / "r"));
    f.Printf("new\n");
    f.Flush();
    EXPECT_EQ(testing::ReadFile(dir / "r"), "earlier\n");
    EXPECT_EQ(testing::ReadFile(f.written_path()), "new\n");
    EXPECT_FALSE(f.direct());
  }  // not closed: thrown away
  EXPECT_EQ(testing::ReadFile(dir / "r"), "earlier\n");
  EXPECT_EQ(files(), std::vector<std::string>{"r"});
  {
    OutputFile f;
    ASSERT_TRUE(f.Open(dir / "r"));
    f.set_keep_on_error(true);
    f.Printf("so far\n");
  }
  EXPECT_EQ(testing::ReadFile(dir / "r"), "so far\n");
  OutputFile f;
  ASSERT_TRUE(f.Open(dir / "r"));
  f.Printf("closed\n");
  f.Close();
  EXPECT_EQ(testing::ReadFile(dir / "r"), "closed\n");
  EXPECT_EQ(files(), std::vector<std::string>{"r"});
  struct stat st {};
  ASSERT_EQ(stat((dir / "r").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file's mode
  // A link is followed: the file it names is replaced, the link stays.
  std::filesystem::create_symlink(dir / "r", dir / "link");
  ASSERT_TRUE(f.Open(dir / "link"));
  f.Printf("through the link\n");
  f.Close();
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
  EXPECT_EQ(testing::ReadFile(dir / "r"), "through the link\n");
  // A name at the system's limit still gets its temporary file.
  const std::string longest(255, 'n');
  ASSERT_TRUE(f.Open(dir / longest));
  f.Printf("long\n");
  f.Close();
  EXPECT_EQ(testing::ReadFile(dir / longest), "long\n");
  // Not a regular file: written directly.
  ASSERT_TRUE(f.Open("/dev/null"));
  EXPECT_TRUE(f.direct());
  f.Printf("gone\n");
  f.Close();
}

}  // namespace
}  // namespace varnik
