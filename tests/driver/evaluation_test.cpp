#include "driver/evaluation.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/error.h"
#include "recognizers/pwm.h"
#include "test_util.h"

namespace varnik {
namespace {

// A one-position weight matrix that scores A 1, T 2, G 3, C 4 and others 0,
// so that a window's letter chooses its score.
std::unique_ptr<PwmRecognizer> LetterScorer(float threshold) {
  Settings s;
  s.R_method = kPWM;
  auto R = std::make_unique<PwmRecognizer>(s);
  for (int b = 0; b < 5; ++b) R->M[b] = {static_cast<float>(b)};
  R->set_threshold(threshold);
  return R;
}

SequenceSet Windows(const std::string& letters_one_each) {
  SequenceSet set(0, 1);
  for (char c : letters_one_each) set.Append(std::string(1, c));
  return set;
}

TEST(EvaluateRecognizerTest, CountsAndMeasures) {
  const SequenceSet pos = Windows("CCGA");   // scores 4 4 3 1
  const SequenceSet neg = Windows("AATGN");  // scores 1 1 2 3 0
  const EvaluationResults r = EvaluateRecognizer(*LetterScorer(2.0f), pos, neg, 1, 0);
  EXPECT_EQ(r.TP, 3);
  EXPECT_EQ(r.FN, 1);
  EXPECT_EQ(r.TN, 4);  // the score 2 equals the threshold: not a site
  EXPECT_EQ(r.FP, 1);
  EXPECT_FLOAT_EQ(r.sensitivity, 0.75f);
  EXPECT_FLOAT_EQ(r.specificity, 0.8f);
  EXPECT_FLOAT_EQ(r.precision, 0.75f);
  EXPECT_EQ(r.bio_specificity, r.precision);
  EXPECT_FLOAT_EQ(r.F_measure, 0.75f);
  EXPECT_FLOAT_EQ(r.G_measure, std::sqrt(0.6f));
  EXPECT_FLOAT_EQ(r.error, 2.0f / 9.0f);

  // Precomputed scores give the same counts.
  const std::vector<float> sp = {4, 4, 3, 1}, sn = {1, 1, 2, 3, 0};
  const EvaluationResults q = EvaluateRecognizer(*LetterScorer(2.0f), pos, neg, 1, 0, &sp, &sn);
  EXPECT_EQ(q.TP, r.TP);
  EXPECT_EQ(q.TN, r.TN);
  EXPECT_EQ(q.error, r.error);
}

TEST(EvaluateRecognizerTest, AllSitesAndNoSites) {
  const SequenceSet pos = Windows("CG"), neg = Windows("AAT");
  const EvaluationResults all = EvaluateRecognizer(*LetterScorer(-1.0f), pos, neg, 1, 0);
  EXPECT_EQ(all.sensitivity, 1.0f);
  EXPECT_EQ(all.specificity, 0.0f);
  EXPECT_FLOAT_EQ(all.precision, 2.0f / 5.0f);
  EXPECT_FLOAT_EQ(all.bio_specificity, 2.0f / 5.0f);

  const EvaluationResults none = EvaluateRecognizer(*LetterScorer(10.0f), pos, neg, 1, 0);
  EXPECT_EQ(none.TP + none.FP, 0);
  EXPECT_EQ(none.precision, 0.0f);
  EXPECT_EQ(none.bio_specificity, 0.0f);
  EXPECT_EQ(none.F_measure, 0.0f);
  EXPECT_EQ(none.G_measure, 0.0f);
}

TEST(DispatchTest, TheRecognizerScoresAndCallsStrictlyAboveItsThreshold) {
  const auto R = LetterScorer(4.0f);
  EXPECT_EQ(R->method(), kPWM);
  EXPECT_EQ(ClassifierOutput(*R, "C", 1, 0), 4.0f);
  EXPECT_EQ(ClassifySequence(*R, "C", 1, 0), 0);  // equal to the threshold
  R->set_threshold(3.5f);
  EXPECT_EQ(ClassifySequence(*R, "C", 1, 0), 1);
  R->M[0] = {std::nanf("")};
  EXPECT_TRUE(std::isnan(ClassifierOutput(*R, "N", 1, 0)));
  EXPECT_EQ(ClassifySequence(*R, "N", 1, 0), 0);  // NaN is no site
  EXPECT_EQ(ScoreWindows(*R, Windows("ACGT"), 1, 0), (std::vector<float>{1, 4, 3, 2}));
}

std::vector<float> Range(int n) {
  std::vector<float> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[i] = static_cast<float>(i);
  return v;
}

TEST(RocTest, ThresholdIndicesFollowSinglePrecisionSteps) {
  // With scores 0 .. n-1 the threshold at index i leaves n - i positives at
  // or above it.
  const std::vector<float> neg = {-1.0f};
  std::vector<RocRow> rows = RocRows(Range(10), neg, Range(10));
  ASSERT_EQ(rows.size(), 11u);
  const int idx10[] = {8, 7, 6, 5, 5, 3, 2, 1, 0};
  for (int r = 0; r < 9; ++r) EXPECT_FLOAT_EQ(rows[r + 1][1], (10 - idx10[r]) / 10.0f) << r;
  EXPECT_EQ(rows[4], rows[5]);  // index 5 twice

  rows = RocRows(Range(100), neg, Range(100));
  const int idx100[] = {89, 79, 69, 59, 50, 39, 29, 19, 9};
  for (int r = 0; r < 9; ++r) EXPECT_FLOAT_EQ(rows[r + 1][1], (100 - idx100[r]) / 100.0f) << r;
}

TEST(RocTest, RowsCountTiesAsPositiveCalls) {
  // Positives 0..9; negatives tie with the thresholds.
  const std::vector<float> sp = Range(10);
  const std::vector<float> sn = {2.0f, 5.0f, 8.0f, 20.0f};
  const std::vector<RocRow> rows = RocRows(sp, sn, sp);
  const RocRow first = {10.0 / 14, 0, 1, 1, 0, 0, 0, 0, 1};
  for (int c = 0; c < 9; ++c) EXPECT_FLOAT_EQ(rows[0][c], first[c]);
  // First threshold row: t = sp[8] = 8; TP 2, FN 8; TN = negatives below 8 = 2, FP 2.
  const RocRow& r = rows[1];
  EXPECT_FLOAT_EQ(r[0], 10.0f / 14.0f);  // (FP + FN) / N
  EXPECT_FLOAT_EQ(r[1], 0.2f);
  EXPECT_FLOAT_EQ(r[2], 0.5f);
  EXPECT_FLOAT_EQ(r[3], 0.5f);
  EXPECT_FLOAT_EQ(r[4], std::sqrt(0.1f));
  EXPECT_FLOAT_EQ(r[5], 2 * 0.2 * 0.5 / 0.7);
  EXPECT_FLOAT_EQ(r[6], 0.5f);
  EXPECT_FLOAT_EQ(r[7], 0.5f);
  EXPECT_FLOAT_EQ(r[8], 0.8f);
  const RocRow last = {4.0 / 14, 1, 0, 0, 0, 0, 0, 1, 0};
  for (int c = 0; c < 9; ++c) EXPECT_FLOAT_EQ(rows[10][c], last[c]);
  EXPECT_THROW(RocRows({}, sn, sp), VarnikError);
  EXPECT_THROW(RocRows(sp, {}, sp), VarnikError);
}

TEST(RocTest, TableAndAucFile) {
  testing::TempDir dir;
  Settings s;
  s.Write_AUC_data = true;
  const std::string report = dir / "run1";
  {
    OutputFile out;
    ASSERT_TRUE(out.Open(report));
    WriteROCTable(out, report, Range(10), {0.5f, 9.5f}, s);
    out.Close();
  }
  const std::vector<std::string> lines = testing::Lines(testing::ReadFile(report));
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[0], "Error\tSn\tSp\tSp(Bio)\tG\tF\tPrec\tFPrate\tFNrate");
  EXPECT_EQ(lines[1], "ROC data with TESTING sequences");
  EXPECT_EQ(lines[2], "0.8333\t0.0000\t1.0000\t1.0000\t0.0000\t0.0000\t0.0000\t0.0000\t1.0000");
  // t = 8: TP 2, FN 8, TN 1, FP 1.
  EXPECT_EQ(lines[3], "0.7500\t0.2000\t0.5000\t0.6667\t0.3162\t0.3077\t0.6667\t0.5000\t0.8000");
  EXPECT_EQ(lines[12], "0.1667\t1.0000\t0.0000\t0.0000\t0.0000\t0.0000\t0.0000\t1.0000\t0.0000");

  const std::vector<std::string> auc = testing::Lines(testing::ReadFile(dir / "run1-auc"));
  ASSERT_EQ(auc.size(), 11u);
  EXPECT_EQ(auc[0], "0.0\t0.0");
  EXPECT_EQ(auc[1], "0.5000\t0.2000");
  EXPECT_EQ(auc[10], "1.0\t1.0");

  // No AUC file unless asked for; a file that cannot be created stops the run.
  s.Write_AUC_data = false;
  OutputFile out;
  ASSERT_TRUE(out.Open(dir / "run2"));
  WriteROCTable(out, dir / "run2", Range(10), {0.5f}, s);
  EXPECT_FALSE(std::filesystem::exists(dir / "run2-auc"));
  s.Write_AUC_data = true;
  try {
    WriteROCTable(out, dir / "missing/run3", Range(10), {0.5f}, s);
    FAIL();
  } catch (const VarnikError& e) {
    EXPECT_STREQ(e.what(), "Error opening AUC file");
  }
}

TEST(ReportLinesTest, TrainingAndTestingLines) {
  EvaluationResults r;
  r.error = 0.25f;
  r.sensitivity = 0.5f;
  r.specificity = 0.875f;
  r.bio_specificity = r.precision = 0.4f;
  r.TP = 2;
  r.FN = 2;
  r.TN = 7;
  r.FP = 1;
  r.G_measure = 0.661438f;
  r.F_measure = 0.444444f;
  testing::TempDir dir;
  {
    OutputFile out;
    ASSERT_TRUE(out.Open(dir / "r"));
    WriteTrainingResults(out, r, 4, 6);
    WriteTestingResults(out, r, 4);
    out.Close();
  }
  EXPECT_EQ(testing::ReadFile(dir / "r"),
            "Recognition method: 6\nTRAINING results\nError: 0.250000\n"
            "Sensitivity (TP rate): 0.500000\nSpecificity (TN rate): 0.875000\n"
            "G-measure: 0.661438\nF-measure: 0.444444\nPrecision: 0.400000\n"
            "FP rate: 0.125000\n==> FN rate: 0.500000\n"
            "TESTING results\nError: 0.250000\n"
            "Sensitivity (TP rate): 0.500000\nSpecificity (TN rate): 0.875000\n"
            "Bioinformatics specificity: 0.400000\n"
            "G-measure: 0.661438\nF-measure: 0.444444\nPrecision: 0.400000\n"
            "FP rate: 0.125000\n==> FN rate: 0.500000\n");
}

}  // namespace
}  // namespace varnik
