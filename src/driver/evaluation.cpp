#include "driver/evaluation.h"

#include <algorithm>
#include <cmath>

#include "core/error.h"
#include "core/numeric.h"
#include "core/parallel.h"
#include "core/progress.h"
#include "learners/methods.h"
#include "learners/stacking.h"

namespace varnik {

float ClassifierOutput(const Recognizer& R, const char* window, int L, int offset) {
  return R.Score(window, L, offset);
}

int ClassifySequence(const Recognizer& R, const char* window, int L, int offset) {
  return ClassifierOutput(R, window, L, offset) > R.threshold() ? 1 : 0;
}

std::vector<float> ScoreWindows(const Recognizer& R, const SequenceSet& windows, int L, int offset,
                                int threads) {
  const int n = windows.size();
  std::vector<float> scores(static_cast<size_t>(n));
  // Contiguous pieces, a scorer each: every score lands in its own place.
  Progress progress(R.settings().progress && n >= 1024, "scoring windows", n);
  ParallelPieces(n, threads, 64, [&](int begin, int end) {
    const std::unique_ptr<ScoreScratch> scratch = R.NewScratch();
    constexpr int kBatch = 256;
    const char* batch[kBatch];
    for (int i = begin; i < end; i += kBatch) {
      const int m = std::min(kBatch, end - i);
      for (int j = 0; j < m; ++j) batch[j] = windows[i + j];
      R.ScoreMany(batch, m, L, offset, scores.data() + i, scratch.get());
      if (m == kBatch) progress.Advance(kBatch);
    }
  });
  return scores;
}

EvaluationResults ResultsFromCounts(int TP, int FN, int TN, int FP) {
  EvaluationResults r;
  r.TP = static_cast<float>(TP);
  r.FN = static_cast<float>(FN);
  r.TN = static_cast<float>(TN);
  r.FP = static_cast<float>(FP);
  r.sensitivity = r.TP / (r.TP + r.FN);
  r.specificity = r.TN / (r.TN + r.FP);
  r.bio_specificity = r.TP + r.FP > 0 ? r.TP / (r.TP + r.FP) : 0.0f;
  r.precision = r.bio_specificity;
  r.F_measure = r.precision + r.sensitivity > 0
                    ? 2 * r.sensitivity * r.precision / (r.precision + r.sensitivity)
                    : 0.0f;
  r.G_measure = static_cast<float>(std::pow(r.sensitivity * r.specificity, 0.5));
  r.error = 1 - static_cast<float>(TP + TN) / static_cast<float>(TP + FN + TN + FP);
  return r;
}

EvaluationResults EvaluateRecognizer(const Recognizer& R, const SequenceSet& positives,
                                     const SequenceSet& negatives, int L, int offset,
                                     const std::vector<float>* positive_scores,
                                     const std::vector<float>* negative_scores, int threads) {
  const std::vector<float> sp = positive_scores != nullptr
                                    ? *positive_scores
                                    : ScoreWindows(R, positives, L, offset, threads);
  const std::vector<float> sn = negative_scores != nullptr
                                    ? *negative_scores
                                    : ScoreWindows(R, negatives, L, offset, threads);
  int TP = 0, TN = 0;
  for (float v : sp) TP += v > R.threshold();  // a NaN score is no site
  // A negative counts when the recogniser does not call it a site (a NaN
  // score included) or, with the scores given, when its score is at most
  // the threshold.
  for (float v : sn) TN += negative_scores != nullptr ? v <= R.threshold() : !(v > R.threshold());
  return ResultsFromCounts(TP, positives.size() - TP, TN, negatives.size() - TN);
}

void WriteTrainingResults(OutputFile& out, const EvaluationResults& r, int n_pos, int method) {
  out.Printf("Recognition method: %d\n", method);
  out.Printf("TRAINING results\nError: %lf\n", static_cast<double>(r.error));
  out.Printf("Sensitivity (TP rate): %lf\nSpecificity (TN rate): %lf\n",
             static_cast<double>(r.sensitivity), static_cast<double>(r.specificity));
  out.Printf("G-measure: %lf\nF-measure: %lf\nPrecision: %lf\n", static_cast<double>(r.G_measure),
             static_cast<double>(r.F_measure), static_cast<double>(r.precision));
  out.Printf("FP rate: %lf\n", static_cast<double>(r.FP / (r.FP + r.TN)));
  out.Printf("==> FN rate: %lf\n", static_cast<double>(r.FN / static_cast<float>(n_pos)));
}

void WriteTestingResults(OutputFile& out, const EvaluationResults& r, int n_pos) {
  out.Printf("TESTING results\nError: %lf\n", static_cast<double>(r.error));
  out.Printf("Sensitivity (TP rate): %lf\nSpecificity (TN rate): %lf\n",
             static_cast<double>(r.sensitivity), static_cast<double>(r.specificity));
  out.Printf("Bioinformatics specificity: %lf\n", static_cast<double>(r.bio_specificity));
  out.Printf("G-measure: %lf\nF-measure: %lf\nPrecision: %lf\n", static_cast<double>(r.G_measure),
             static_cast<double>(r.F_measure), static_cast<double>(r.precision));
  out.Printf("FP rate: %lf\n", static_cast<double>(r.FP / (r.FP + r.TN)));
  out.Printf("==> FN rate: %lf\n", static_cast<double>(r.FN / static_cast<float>(n_pos)));
}

std::vector<RocRow> RocRows(const std::vector<float>& sp, const std::vector<float>& sn,
                            const std::vector<float>& threshold_scores) {
  const int n_pos = static_cast<int>(sp.size());
  const int n_neg = static_cast<int>(sn.size());
  const int N = n_pos + n_neg;
  const int n_thr = static_cast<int>(threshold_scores.size());
  if (n_pos == 0 || n_neg == 0 || n_thr == 0) {
    OnErrorExit(kUnspecifiedError,
                "The ROC table needs at least one positive and one negative window");
  }
  std::vector<RocRow> rows;
  rows.push_back({static_cast<float>(n_pos) / static_cast<float>(N), 0, 1, 1, 0, 0, 0, 0, 1});
  float d = 0.1f;
  for (int row = 0; row < 9; ++row) {
    const float t = threshold_scores[ClampedIndex(n_thr * (1.0 - static_cast<double>(d)), n_thr)];
    // Positives scoring at least t, negatives scoring below t.
    const int TP = n_pos - static_cast<int>(std::lower_bound(sp.begin(), sp.end(), t) - sp.begin());
    const int TN = static_cast<int>(std::lower_bound(sn.begin(), sn.end(), t) - sn.begin());
    const int FN = n_pos - TP;
    const int FP = n_neg - TN;
    const float Sn = static_cast<float>(TP) / static_cast<float>(TP + FN);
    const float Sp = static_cast<float>(TN) / static_cast<float>(TN + FP);
    const float Prec = TP + FP > 0 ? static_cast<float>(TP) / static_cast<float>(TP + FP) : 0.0f;
    const double F = Prec + Sn > 0 ? 2.0 * Sn * Prec / (static_cast<double>(Prec) + Sn) : 0.0;
    const double G = std::sqrt(static_cast<double>(Sn * Sp));
    rows.push_back({static_cast<float>(FP + FN) / static_cast<float>(N), Sn, Sp, Prec, G, F, Prec,
                    static_cast<float>(FP) / static_cast<float>(n_neg),
                    static_cast<float>(FN) / static_cast<float>(n_pos)});
    d = static_cast<float>(d + 0.1);
  }
  rows.push_back({static_cast<float>(n_neg) / static_cast<float>(N), 1, 0, 0, 0, 0, 0, 1, 0});
  return rows;
}

std::vector<RocRow> WriteROCTable(OutputFile& out, const std::string& report_path,
                                  const std::vector<float>& sp, const std::vector<float>& sn,
                                  const Settings& settings) {
  out.Printf("%s", kRocHeader);
  const std::vector<RocRow> rows = RocRows(sp, sn, sp);
  // A report that is no regular file (/dev/null, a pipe) has no folder to
  // put the AUC file in.
  if (settings.Write_AUC_data && !out.direct()) {
    OutputFile auc;
    if (!auc.Open(report_path + "-auc")) {
      Diagnose("cannot create " + report_path + "-auc: " + SystemReason());
      OnErrorExit(kUnspecifiedError, "Error opening AUC file");
    }
    auc.Printf("0.0\t0.0\n");
    for (int row = 1; row <= 9; ++row) {
      // 1 - Sp and Sn, in single precision.
      const float one_minus_sp = 1.0f - static_cast<float>(rows[row][2]);
      auc.Printf("%6.4lf\t%6.4lf\n", static_cast<double>(one_minus_sp), rows[row][1]);
    }
    auc.Printf("1.0\t1.0\n");
    auc.Close();
  }
  out.Printf("ROC data with TESTING sequences\n");
  for (const RocRow& r : rows) {
    out.Printf("%6.4lf\t%6.4lf\t%6.4lf\t%6.4lf\t%6.4lf\t%6.4lf\t%6.4lf\t%6.4lf\t%6.4lf\n", r[0],
               r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8]);
  }
  return rows;
}

namespace {

const char* ComponentTitle(int bit) {
  const Method* m = MethodOfBit(bit);
  return m != nullptr ? m->component_title : "";
}

}  // namespace

void WriteStackingComponentsResults(OutputFile& out, const StackedRecognizer& R,
                                    const SequenceSet& test_positives,
                                    const SequenceSet& test_negatives, int L,
                                    const SequenceSet& training_positives) {
  for (const StackingComponent& c : R.components) {
    out.Printf("%s", ComponentTitle(c.bit));
    const Recognizer& component = *c.recognizer;
    const int threads = R.settings().threads;
    std::vector<float> train = ScoreWindows(component, training_positives, L, 0, threads);
    std::vector<float> sp = ScoreWindows(component, test_positives, L, 0, threads);
    std::vector<float> sn = ScoreWindows(component, test_negatives, L, 0, threads);
    EvaluationResults r;
    {
      // The component's scores against the stacked recogniser's threshold.
      int TP = 0, TN = 0;
      for (float v : sp) TP += v > R.threshold();
      for (float v : sn) TN += v <= R.threshold();
      r = ResultsFromCounts(TP, static_cast<int>(sp.size()) - TP, TN,
                            static_cast<int>(sn.size()) - TN);
    }
    WriteTestingResults(out, r, test_positives.size());
    out.Printf("%s", kRocHeader);
    std::sort(train.begin(), train.end());
    std::sort(sp.begin(), sp.end());
    std::sort(sn.begin(), sn.end());
    for (const RocRow& row : RocRows(sp, sn, train)) {
      out.Printf("%6.4lf\t%6.4lf\t%6.4lf\t%6.4lf\t%6.4lf\t%6.4lf\t%6.4lf\t%6.4lf\t%6.4lf\n", row[0],
                 row[1], row[2], row[3], row[4], row[5], row[6], row[7], row[8]);
    }
  }
}

}  // namespace varnik
