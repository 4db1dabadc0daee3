// Scoring windows with the trained recogniser, the evaluation measures, and
// the report lines, ROC table and AUC point file of a run.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/output_file.h"
#include "core/recognizer.h"
#include "core/sequence_set.h"
#include "core/settings.h"

namespace varnik {

struct EvaluationResults {
  float error = 0;
  float sensitivity = 0;
  float specificity = 0;
  float bio_specificity = 0;
  float TP = 0;
  float TN = 0;
  float FP = 0;
  float FN = 0;
  float precision = 0;
  float F_measure = 0;
  float G_measure = 0;
};

// The recogniser's score of one window (larger means closer to a site).
float ClassifierOutput(const Recognizer& R, const char* window, int L, int offset);
// 1 when the score is strictly greater than R's threshold, else 0 (NaN gives 0).
int ClassifySequence(const Recognizer& R, const char* window, int L, int offset);

// The scores of every window of the set, in order, scored on up to threads
// threads.
std::vector<float> ScoreWindows(const Recognizer& R, const SequenceSet& windows, int L, int offset,
                                int threads = 1);

// The measures of the four counts.
EvaluationResults ResultsFromCounts(int TP, int FN, int TN, int FP);

// Counts and measures of R on the two sets. With precomputed scores (one per
// window, any order) the windows are not scored again.
EvaluationResults EvaluateRecognizer(const Recognizer& R, const SequenceSet& positives,
                                     const SequenceSet& negatives, int L, int offset,
                                     const std::vector<float>* positive_scores = nullptr,
                                     const std::vector<float>* negative_scores = nullptr,
                                     int threads = 1);

// Report lines after the training evaluation (from "Recognition method").
void WriteTrainingResults(OutputFile& out, const EvaluationResults& r, int n_pos, int method);
// Test lines from "TESTING results" to "==> FN rate".
void WriteTestingResults(OutputFile& out, const EvaluationResults& r, int n_pos);

// One row of the ROC table: Error, Sn, Sp, Sp(Bio), G, F, Prec, FPrate, FNrate.
using RocRow = std::array<double, 9>;

// The eleven ROC rows from ascending test scores; the nine threshold rows take
// their thresholds from threshold_scores (ascending), which is sp itself for
// the run's own table.
std::vector<RocRow> RocRows(const std::vector<float>& sp, const std::vector<float>& sn,
                            const std::vector<float>& threshold_scores);

inline constexpr const char* kRocHeader = "Error\tSn\tSp\tSp(Bio)\tG\tF\tPrec\tFPrate\tFNrate\n";

// The ROC table of the run's test evaluation: the header, the AUC point file
// (when Write_AUC_data is set; named report_path + "-auc"), the line "ROC data
// with TESTING sequences" and the eleven rows.
// Returns the rows.
std::vector<RocRow> WriteROCTable(OutputFile& out, const std::string& report_path,
                                  const std::vector<float>& sp, const std::vector<float>& sn,
                                  const Settings& settings);

// The test report of every component of a stacked recogniser, in input
// order, each under its title: its test scores judged by the stacked
// threshold, and ROC rows whose thresholds come from its scores of the
// training positives.
class StackedRecognizer;
void WriteStackingComponentsResults(OutputFile& out, const StackedRecognizer& R,
                                    const SequenceSet& test_positives,
                                    const SequenceSet& test_negatives, int L,
                                    const SequenceSet& training_positives);

}  // namespace varnik
