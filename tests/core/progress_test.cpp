#include "core/progress.h"

#include <gtest/gtest.h>

#include <regex>

namespace varnik {
namespace {

TEST(ProgressTest, LinesOnlyWhenEnabled) {
  using std::chrono::milliseconds;
  struct Case {
    bool enabled;
    long long total;
    const char* expected;  // the lines, times left out
  };
  const std::string known =
      "varnik: work: 1 of 4 (25%), N s, about N s left\n"
      "varnik: work: 2 of 4 (50%), N s, about N s left; step 1\n"
      "varnik: work: 3 of 4 (75%), N s, about N s left\n"
      "varnik: work: 4 of 4 (100%), N s, about N s left; step 1\n"
      "varnik: work: 4 done in N s\n";
  const std::string unknown =
      "varnik: work: 1 so far, N s\nvarnik: work: 2 so far, N s; step 1\n"
      "varnik: work: 3 so far, N s\nvarnik: work: 4 so far, N s; step 1\nvarnik: work: 4 done in N "
      "s\n";
  for (const Case& c :
       {Case{true, 4, known.c_str()}, Case{true, 0, unknown.c_str()}, Case{false, 4, ""}}) {
    ::testing::internal::CaptureStderr();
    {
      Progress p(c.enabled, "work", c.total, milliseconds(-1));
      for (int i = 0; i < 4; ++i) {
        if (i % 2 == 0) {
          p.Advance();
        } else {
          // Where the work stands, asked for only when a line is printed.
          int asked = 0;
          p.Advance(1, [&asked] { return "step " + std::to_string(++asked); });
          EXPECT_EQ(asked, c.enabled ? 1 : 0);
        }
      }
    }
    std::string lines = ::testing::internal::GetCapturedStderr();
    // Seconds vary.
    const std::string words = std::regex_replace(lines, std::regex("[0-9]+ s\\b"), "N s");
    EXPECT_EQ(words, c.expected) << lines;
  }
}

}  // namespace
}  // namespace varnik
