// Whole runs against their recorded results: every case folder under golden/
// holds a parameters file, the command-line arguments and the files the run
// must create (report, outputs files, AUC file, saved model), with its
// standard output and exit status. The clock times of reports are masked.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <tuple>

#include "test_util.h"

namespace varnik {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RunVarnikIn;
using testing::TempDir;

const fs::path kGolden = fs::path(VARNIK_SOURCE_DIR) / "tests/e2e/golden";
const std::set<std::string> kInputs = {"params", "args", "mask"};
const std::set<std::string> kWindows = {"donor_train_pos", "donor_train_neg", "donor_test_pos",
                                        "donor_test_neg"};

std::vector<std::string> Cases() {
  std::vector<std::string> cases;
  for (const auto& entry : fs::directory_iterator(kGolden)) {
    if (entry.is_directory()) cases.push_back(entry.path().filename().string());
  }
  std::sort(cases.begin(), cases.end());
  return cases;
}

std::string Masked(const std::string& text) {
  return std::regex_replace(text, std::regex("time: [0-9:]+"), "time: T");
}

std::set<std::string> FileNames(const fs::path& dir, const std::set<std::string>& skip) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (!skip.count(name)) names.insert(name);
  }
  return names;
}

// A case, and the number of threads it runs on (several with progress lines
// on standard error): every result is the same.
using GoldenCase = std::tuple<std::string, int>;

class GoldenRunTest : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenRunTest, MatchesTheRecordedRun) {
  const fs::path expected = kGolden / std::get<0>(GetParam());
  TempDir dir;
  for (const std::string& w : kWindows) {
    fs::copy_file(fs::path(testing::ExamplesDir()) / w, dir / w);
  }
  for (const std::string& f : kInputs) {
    if (fs::exists(expected / f)) fs::copy_file(expected / f, dir / f);
  }
  std::string args = ReadFile(expected / "args");
  args.erase(args.find_last_not_of("\n") + 1);
  const auto r =
      RunVarnikIn(dir.path(), "--threads " + std::to_string(std::get<1>(GetParam())) +
                                  (std::get<1>(GetParam()) > 1 ? " --progress " : " ") + args);
  EXPECT_EQ(std::to_string(r.status) + "\n", ReadFile(expected / "status"));
  EXPECT_EQ(r.out, ReadFile(expected / "stdout"));

  std::set<std::string> skip = kInputs;
  skip.insert(kWindows.begin(), kWindows.end());
  std::set<std::string> want = FileNames(expected, skip);
  want.erase("status");
  want.erase("stdout");
  EXPECT_EQ(FileNames(dir.path(), skip), want);
  for (const std::string& name : want) {
    // Compared whole: a difference shows as the two texts.
    EXPECT_EQ(Masked(ReadFile(dir / name)), ReadFile(expected / name)) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, GoldenRunTest,
                         ::testing::Combine(::testing::ValuesIn(Cases()), ::testing::Values(1, 3)),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) {
                           return std::get<0>(info.param) + "_threads" +
                                  std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace varnik
