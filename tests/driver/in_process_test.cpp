// The calls the Python module makes: a training run in the calling process
// gives the command line's model file and figures, refuses bad parameter
// lines instead of warning, and the scores of read windows and of scanned
// pieces are those of the program.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "core/error.h"
#include "driver/run.h"
#include "driver/score.h"
#include "sequence/fasta.h"
#include "test_util.h"

namespace varnik {
namespace {

class InProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string ex = testing::ExamplesDir();
    for (const char* f :
         {"donor_train_pos", "donor_train_neg", "donor_test_pos", "donor_test_neg"}) {
      testing::WriteFile(dir_ / f, testing::ReadFile(ex + "/" + f));
    }
  }
  // Trains in process with the parameters' text; the model goes to `model`.
  TrainingOutcome Train(const std::string& params, const std::string& model) {
    testing::WriteFile(dir_ / "params", params);
    return TrainInProcess(
        {"varnik", dir_ / "donor_train_", dir_ / "donor_test_", dir_ / "params", dir_ / "report"},
        2, dir_ / model, 0);
  }
  testing::TempDir dir_;
};

TEST_F(InProcessTest, TrainingGivesTheCommandLinesModelAndFigures) {
  for (const char* method : {"PWM", "kNN\nCross-validate parameters: false", "C45"}) {
    SCOPED_TRACE(method);
    const std::string params = std::string("Recognition_method: ") + method + "\nSeed: 5\n";
    const TrainingOutcome outcome = Train(params, "in.model");
    ASSERT_TRUE(outcome.tested);
    const testing::CommandResult cli = testing::RunVarnikIn(
        dir_.path(), "--threads 1 --model cli.model donor_train_ donor_test_ params cli.report",
        true);
    ASSERT_EQ(cli.status, 0) << cli.out;
    EXPECT_EQ(testing::ReadFile(dir_ / "in.model"), testing::ReadFile(dir_ / "cli.model"));
    // The closing line's figures, as the program printed them.
    char auc[32];
    std::snprintf(auc, sizeof auc, "test AUC %.4f", outcome.auc.auc);
    EXPECT_NE(cli.out.find(auc), std::string::npos) << cli.out;
    EXPECT_EQ(outcome.roc.size(), 11u);
    EXPECT_GE(outcome.ap, 0.0);
    EXPECT_LE(outcome.ap, 1.0);
  }
  // A line the program only warns about ends the run in process.
  EXPECT_THROW(Train("Recognition_method: PWM\nNo_such_key: 3\n", "bad.model"), VarnikError);
  EXPECT_THROW(Train("Recognition_method: PWM\nSeed: many\n", "bad.model"), VarnikError);
}

TEST_F(InProcessTest, ReadWindowsAndScannedPiecesScoreAsTheProgram) {
  Train("Recognition_method: PWM\nSeed: 5\n", "pwm.model");
  const SavedScorer scorer(dir_ / "pwm.model", 2, false);
  // Windows given as text, as the module gives them.
  const std::vector<std::string> letters =
      testing::Lines(testing::ReadFile(dir_ / "donor_test_pos"));
  std::string text;
  std::vector<std::string> windows;
  for (size_t i = 1; i < letters.size() && windows.size() < 40; i += 2) {
    windows.push_back(letters[i]);
    text += ">w" + std::to_string(windows.size()) + "\n" + letters[i] + "\n";
  }
  SequenceSet set;
  std::vector<std::string> names;
  const int read = ReadFastaText(&text, "windows", scorer.settings(), set, &names);
  const std::vector<float> scores = ScoreWindowsOf(scorer, set, read, "the windows", 2, false);
  testing::WriteFile(dir_ / "some.fa", text);
  const testing::CommandResult cli = testing::RunVarnikIn(dir_.path(), "score pwm.model some.fa");
  ASSERT_EQ(cli.status, 0);
  const std::vector<std::string> lines = testing::Lines(cli.out);
  ASSERT_EQ(lines.size(), scores.size());
  for (size_t i = 0; i < scores.size(); ++i) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "\t%.6f\t", static_cast<double>(scores[i]));
    EXPECT_NE(lines[i].find(expected), std::string::npos) << lines[i];
  }
  // The windows joined into one sequence: a scan's piece scores each window
  // where it starts, and its reverse complement on the minus strand.
  std::string joined;
  for (const std::string& w : windows) joined += w;
  PieceScanner pieces(scorer, true, true, 2, 0.0);
  std::vector<float> plus, minus;
  pieces.Score(joined, plus, minus);
  const int W = pieces.window_letters();
  ASSERT_EQ(plus.size(), joined.size() - W + 1);
  auto reverse_complement = [](std::string s) {
    std::string r(s.rbegin(), s.rend());
    for (char& c : r) c = c == 'A' ? 'T' : c == 'C' ? 'G' : c == 'G' ? 'C' : c == 'T' ? 'A' : c;
    return r;
  };
  std::string probes;
  for (size_t p = 0; p + W <= joined.size(); p += 37) {
    probes +=
        ">p\n" + joined.substr(p, W) + "\n>m\n" + reverse_complement(joined.substr(p, W)) + "\n";
  }
  SequenceSet probe_set;
  const int probe_read = ReadFastaText(&probes, "probes", scorer.settings(), probe_set, nullptr);
  const std::vector<float> probe_scores =
      ScoreWindowsOf(scorer, probe_set, probe_read, "the probes", 1, false);
  for (size_t p = 0, k = 0; p + W <= joined.size(); p += 37, k += 2) {
    EXPECT_EQ(plus[p], probe_scores[k]) << p;
    EXPECT_EQ(minus[p], probe_scores[k + 1]) << p;
  }
}

}  // namespace
}  // namespace varnik
