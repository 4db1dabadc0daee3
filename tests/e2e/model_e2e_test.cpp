// A model file written by a training run (--model) and used by score gives
// the training run's own scores and calls, for every method: the recorded
// runs' settings, trained on the bundled donor windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "test_util.h"

namespace varnik {
namespace {

struct Scored {
  std::vector<double> scores;
  int calls = 0;
};

// score's lines: name, score, call.
Scored ScoreLines(const std::string& text) {
  Scored s;
  for (const std::string& line : testing::Lines(text)) {
    const size_t a = line.find('\t'), b = line.rfind('\t');
    s.scores.push_back(std::strtod(line.c_str() + a + 1, nullptr));
    s.calls += line.substr(b + 1) == "1";
  }
  return s;
}

// An outputs file's scores: the first number of a line, or the stacked score
// (the number before the label) of stacking's lines.
std::vector<double> OutputsScores(const std::string& text, bool stacked) {
  std::vector<double> v;
  for (const std::string& line : testing::Lines(text)) {
    std::vector<double> numbers;
    std::istringstream in(line);
    double x;
    while (in >> x) numbers.push_back(x);
    v.push_back(stacked ? numbers[numbers.size() - 2] : numbers[0]);
  }
  return v;
}

// The outputs file has four decimals, score six.
void ExpectSameScores(std::vector<double> mine, std::vector<double> theirs, const char* what) {
  ASSERT_EQ(mine.size(), theirs.size()) << what;
  for (size_t i = 0; i < mine.size(); ++i) {
    EXPECT_NEAR(mine[i], theirs[i], 5.01e-5) << what << " line " << i + 1;
  }
}

// A rate of the report's last results section of the name (stacking's
// component sections come first), times n: a count of windows.
int CountFromReport(const std::string& report, const std::string& section, const char* rate,
                    int n) {
  const size_t at = report.rfind(section);
  const std::regex line(std::string(rate) + ": ([0-9.]+)");
  std::smatch m;
  const std::string rest = report.substr(at);
  if (at == std::string::npos || !std::regex_search(rest, m, line)) return -1;
  return static_cast<int>(std::lround(std::strtod(m[1].str().c_str(), nullptr) * n));
}

class ModelFileRunTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ModelFileRunTest, ScoresAndCallsEqualTheTrainingRuns) {
  const std::string name = GetParam();
  const std::filesystem::path golden =
      std::filesystem::path(VARNIK_SOURCE_DIR) / "tests/e2e/golden" / name;
  testing::TempDir dir;
  for (const char* f : {"donor_train_pos", "donor_train_neg", "donor_test_pos", "donor_test_neg"}) {
    std::filesystem::copy_file(testing::ExamplesDir() + "/" + f, dir / f);
  }
  std::filesystem::copy_file(golden / "params", dir / "params");
  if (std::filesystem::exists(golden / "mask")) {
    std::filesystem::copy_file(golden / "mask", dir / "mask");
  }
  const std::string params = testing::ReadFile(golden / "params");
  const bool stacked = std::regex_search(params, std::regex("Stacking: *[Tt]"));
  // The outputs file lists the training windows as read unless the imbalance
  // step changed them.
  const bool as_read = !stacked && params.find("SMOTE") == std::string::npos &&
                       params.find("UNDERSAMPLING") == std::string::npos;
  const std::string gz = name == "c45_trials" ? ".gz" : "";
  const auto run =
      testing::RunVarnikIn(dir.path(), "--threads 2 --model m" + gz +
                                           " donor_train_ donor_test_ params run save-outputs");
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string report = testing::ReadFile(dir / "run");
  auto score = [&](const char* file) {
    const auto r = testing::RunVarnikIn(dir.path(), "score m" + gz + " " + file);
    EXPECT_EQ(r.status, 0) << file;
    return ScoreLines(r.out);
  };
  const Scored test_pos = score("donor_test_pos"), test_neg = score("donor_test_neg");
  // The test outputs file holds each class's scores in ascending order
  // (stacking's: in the order read).
  const std::vector<double> test_outputs =
      OutputsScores(testing::ReadFile(dir / "donor_test_run"), stacked);
  std::vector<double> mine = test_pos.scores, negatives = test_neg.scores;
  if (!stacked) {
    std::sort(mine.begin(), mine.end());
    std::sort(negatives.begin(), negatives.end());
  }
  mine.insert(mine.end(), negatives.begin(), negatives.end());
  ExpectSameScores(mine, test_outputs, "test windows");
  const int P = static_cast<int>(test_pos.scores.size()),
            N = static_cast<int>(test_neg.scores.size());
  EXPECT_EQ(test_pos.calls,
            CountFromReport(report, "TESTING results", "Sensitivity \\(TP rate\\)", P));
  EXPECT_EQ(test_neg.calls, CountFromReport(report, "TESTING results", "FP rate", N));
  if (as_read) {
    const Scored train_pos = score("donor_train_pos"), train_neg = score("donor_train_neg");
    std::vector<double> train = train_pos.scores;
    train.insert(train.end(), train_neg.scores.begin(), train_neg.scores.end());
    ExpectSameScores(train, OutputsScores(testing::ReadFile(dir / "donor_train_run"), false),
                     "training windows");
    if (report.find("TRAINING results") != std::string::npos) {
      EXPECT_EQ(train_pos.calls,
                CountFromReport(report, "TRAINING results", "Sensitivity \\(TP rate\\)",
                                static_cast<int>(train_pos.scores.size())));
    }
  }
}

// scan through a model file: each record of the windows file is one window
// at position 0, scored as score scores it (masked and narrowed windows too).
TEST(ModelFileScanTest, ScanScoresEachWholeRecordAsScoreDoes) {
  for (const char* name : {"pwm_mask", "rfe_fixed", "protein_svm"}) {
    SCOPED_TRACE(name);
    const std::filesystem::path golden =
        std::filesystem::path(VARNIK_SOURCE_DIR) / "tests/e2e/golden" / name;
    testing::TempDir dir;
    for (const char* f : {"donor_train_pos", "donor_train_neg", "donor_test_pos"}) {
      std::filesystem::copy_file(testing::ExamplesDir() + "/" + f, dir / f);
    }
    std::filesystem::copy_file(golden / "params", dir / "params");
    if (std::filesystem::exists(golden / "mask")) {
      std::filesystem::copy_file(golden / "mask", dir / "mask");
    }
    ASSERT_EQ(testing::RunVarnikIn(dir.path(), "--model m donor_train_ NIL params run").status, 1);
    const auto scored = testing::RunVarnikIn(dir.path(), "score m donor_test_pos");
    const auto scanned =
        testing::RunVarnikIn(dir.path(), "scan --min-score -1e30 m donor_test_pos");
    ASSERT_EQ(scanned.status, 0);
    const std::vector<std::string> a = testing::Lines(scored.out), b = testing::Lines(scanned.out);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
      // name score call, against name 0 end . score +
      const std::string score =
          a[i].substr(a[i].find('\t') + 1, a[i].rfind('\t') - a[i].find('\t') - 1);
      EXPECT_NE(b[i].find("\t0\t"), std::string::npos) << b[i];
      EXPECT_NE(b[i].find("\t" + score + "\t+"), std::string::npos) << a[i] << " / " << b[i];
    }
  }
}

// Windows that all hold GT at 5-6 give the model that core; scan then scores
// only the windows holding it, on both strands, with the scores of a scan of
// every window.
TEST(ModelFileScanTest, TheCoreOfTheTrainingWindowsChoosesTheCandidates) {
  testing::TempDir dir;
  unsigned state = 7;
  auto base = [&state] {
    state = state * 1103515245u + 12345u;
    return "ACGT"[(state >> 16) % 4];
  };
  auto windows = [&](const char* motif) {
    std::string text;
    for (int i = 0; i < 60; ++i) {
      std::string w;
      for (int j = 0; j < 14; ++j) w += base();
      w.replace(5, 2, "GT");
      if (motif != nullptr) w.replace(8, 3, motif);
      text += ">w" + std::to_string(i) + "\n" + w + "\n";
    }
    return text;
  };
  testing::WriteFile(dir / "tr_pos", windows("AAG"));
  testing::WriteFile(dir / "tr_neg", windows(nullptr));
  testing::WriteFile(dir / "p", "Recognition_method: PWM\n");
  std::string genome = ">chr\n";
  for (int i = 0; i < 3000; ++i) genome += base();
  testing::WriteFile(dir / "genome.fa", genome + "\n");
  ASSERT_EQ(testing::RunVarnikIn(dir.path(), "--model m tr_ NIL p run").status, 1);
  EXPECT_NE(testing::ReadFile(dir / "m").find("\ncore 2 5 G 6 T\n"), std::string::npos);
  const std::string scan = "scan --strands both --min-score -1e30 ";
  const auto some = testing::RunVarnikSplit(dir.path(), scan + "m genome.fa");
  const auto all = testing::RunVarnikSplit(dir.path(), scan + "--all-windows m genome.fa");
  ASSERT_EQ(some.status, 0);
  ASSERT_EQ(all.status, 0);
  const std::vector<std::string> a = testing::Lines(all.out), s = testing::Lines(some.out);
  EXPECT_EQ(a.size(), 2u * (3000 - 14 + 1));
  // The candidates: every line of the full scan whose window holds GT at 5-6
  // (on the minus strand, of the reverse complement: AC at 7-8 of the plus
  // strand's letters).
  std::vector<std::string> expected;
  const std::string letters = genome.substr(5);
  for (const std::string& line : a) {
    const long long start = std::stoll(line.substr(line.find('\t') + 1));
    const bool plus = line.back() == '+';
    const std::string core = letters.substr(static_cast<size_t>(start) + (plus ? 5 : 7), 2);
    if (core == (plus ? "GT" : "AC")) expected.push_back(line);
  }
  EXPECT_GT(expected.size(), 100u);
  EXPECT_EQ(s, expected);
  EXPECT_NE(some.err.find("2987 positions on each strand, " + std::to_string(expected.size()) +
                          " windows scored (those holding the model's core)"),
            std::string::npos)
      << some.err;
  // "-" reads standard input, plain or compressed, to the same lines.
  for (const char* feed : {"cat genome.fa", "gzip -c genome.fa"}) {
    const auto piped = testing::RunCommand("cd '" + dir.path() + "' && " + feed + " | '" +
                                           VARNIK_BINARY + "' " + scan + "m - 2>/dev/null");
    EXPECT_EQ(piped.status, 0) << feed;
    EXPECT_EQ(piped.out, some.out) << feed;
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, ModelFileRunTest,
                         ::testing::Values("pwm", "pwm_mask", "knn", "c45_trials", "c45_unpruned",
                                           "nn", "svm_kernel0", "svm_kernel6", "protein_svm",
                                           "easy_c45", "cascade_svm", "stacking_knn",
                                           "stacking_svm", "rfe_fixed", "ga_small", "smote_pwm",
                                           "smote_knn_masked"));

}  // namespace
}  // namespace varnik
