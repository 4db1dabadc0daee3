// End-to-end checks: the built program run in a temporary directory.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "core/random.h"
#include "driver/saved_model.h"
#include "e2e/site_windows.h"
#include "recognizers/knn.h"
#include "sequence/fasta.h"

namespace varnik {
namespace {

using testing::Lines;
using testing::ReadFile;
using testing::RunVarnikIn;
using testing::TempDir;
using testing::WithoutTimes;
using testing::WriteFile;

// Small windows with a clear signal: positives carry GT at positions 3-4.
void WriteSmallSet(const TempDir& dir, const std::string& prefix, int n_pos, int n_neg) {
  std::string pos, neg;
  const char* filler[] = {"ACGTTGCA", "TTGACCAG", "CAGTACGT", "GGCATTAC", "ATCGATCG"};
  for (int i = 0; i < n_pos; ++i) {
    std::string w = filler[i % 5];
    w[3] = 'G';
    w[4] = 'T';
    pos += ">p" + std::to_string(i) + "\n" + w + "\n";
  }
  for (int i = 0; i < n_neg; ++i) {
    std::string w = filler[(i + 2) % 5];
    w[3] = 'C';
    neg += ">n" + std::to_string(i) + "\n" + w + "\n";
  }
  WriteFile(dir / (prefix + "pos"), pos);
  WriteFile(dir / (prefix + "neg"), neg);
}

TEST(EndToEndTest, UsageLineWithTooFewArguments) {
  TempDir dir;
  const auto r = RunVarnikIn(dir.path(), "a b c");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "varnik train-file[pos/neg] {test-file[pos/neg]|NIL} parameters output "
            "[save-outputs/save-model]\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// Runs one of the bundled experiments in dir; checks that the report is
// complete and returns its text and the test G-measure.
std::string RunBundledExperiment(const TempDir& dir, const std::string& params, double* g) {
  const std::string ex = testing::ExamplesDir();
  const auto r = RunVarnikIn(dir.path(), "'" + ex + "/donor_train_' '" + ex + "/donor_test_' '" +
                                             ex + "/" + params + "' run1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Training of the model finished\n");
  const std::string report = ReadFile(dir / "run1");
  const std::vector<std::string> lines = Lines(report);
  EXPECT_GE(lines.size(), 60u);
  if (lines.size() < 60) return report;
  EXPECT_EQ(lines[0], "Parameters (* = default) ");
  EXPECT_EQ(lines[1], "----------");
  for (const char* expected :
       {"Random seed: 12345 (fixed)\n", "Positive sequences: 511\n", "Negative sequences: 1102\n",
        "Positive sequences: 256\n", "Negative sequences: 552\n", "TESTING results\n",
        "Bioinformatics specificity: ", "ROC data with TESTING sequences\n"}) {
    EXPECT_NE(report.find(expected), std::string::npos) << expected;
  }
  EXPECT_TRUE(std::regex_search(report, std::regex("\nTRAINING time: \\d\\d:\\d\\d:\\d\\d\n")));
  EXPECT_TRUE(std::regex_search(
      report, std::regex("\nTESTING time: \\d\\d:\\d\\d:\\d\\d\nTESTING results\n")));
  std::smatch m;
  EXPECT_TRUE(
      std::regex_search(report, m, std::regex("TESTING results\n(?:.*\n){4}G-measure: ([0-9.]+)")));
  *g = m.empty() ? 0.0 : std::stod(m[1]);
  // The ROC table closes the report: header, title, eleven rows.
  const size_t header = report.find("Error\tSn\tSp\tSp(Bio)\tG\tF\tPrec\tFPrate\tFNrate\n");
  EXPECT_NE(header, std::string::npos);
  if (header == std::string::npos) return report;
  const std::vector<std::string> tail = Lines(report.substr(header));
  EXPECT_EQ(tail.size(), 13u);
  const std::regex row("(\\d\\.\\d{4}\t){8}\\d\\.\\d{4}");
  for (size_t i = 2; i < tail.size(); ++i) EXPECT_TRUE(std::regex_match(tail[i], row)) << tail[i];
  const std::vector<std::string> auc = Lines(ReadFile(dir / "run1-auc"));
  EXPECT_EQ(auc.size(), 11u);
  EXPECT_EQ(auc.front(), "0.0\t0.0");
  EXPECT_EQ(auc.back(), "1.0\t1.0");
  return report;
}

TEST(EndToEndTest, PwmOnTheBundledDonorWindows) {
  TempDir dir;
  double g = 0;
  const std::string report = RunBundledExperiment(dir, "pwm_donor.params", &g);
  EXPECT_NE(report.find("Recognition_method = PWM\n"), std::string::npos);
  EXPECT_NE(report.find("Recognition method: 6\nTRAINING results\n"), std::string::npos);
  EXPECT_TRUE(
      std::regex_search(report, std::regex("Base frequency: A: 0\\.\\d\\d% T: 0\\.\\d\\d% "
                                           "G: 0\\.\\d\\d% C: 0\\.\\d\\d% Other: 0\\.00%\n")));
  EXPECT_GT(g, 0.8);  // a PWM separates donor sites well
}

TEST(EndToEndTest, KnnOnTheBundledDonorWindows) {
  TempDir dir;
  double g = 0;
  const std::string report = RunBundledExperiment(dir, "knn_donor.params", &g);
  EXPECT_NE(report.find("Recognition_method = kNN\n"), std::string::npos);
  EXPECT_TRUE(
      std::regex_search(report, std::regex("\nk-NN threshold: -?\\d+\\.\\d{6}\nTRAINING time")));
  EXPECT_GT(g, 0.5);
}

TEST(EndToEndTest, KnnTestScoresComeFromTheTrainingPrototypes) {
  // The test windows must not take the place of the prototypes: the saved test
  // scores equal scores against the training windows, computed here.
  TempDir dir;
  const std::string ex = dir.path();  // a copy: outputs are written beside the windows
  for (const char* f : {"donor_train_pos", "donor_train_neg", "donor_test_pos", "donor_test_neg"}) {
    std::filesystem::copy_file(testing::ExamplesDir() + "/" + f, dir / f);
  }
  WriteFile(dir / "p", "Recognition_method: kNN\nK: 5\nCross-validate parameters: F\nSeed: 1\n");
  const auto r = RunVarnikIn(dir.path(), "donor_train_ donor_test_ p out save-outputs");
  ASSERT_EQ(r.status, 0);
  Settings s;
  SequenceSet tr_pos, tr_neg, te_pos, te_neg;
  const int L = ReadFastaFile(ex + "/donor_train_pos", s, tr_pos);
  ReadFastaFile(ex + "/donor_train_neg", s, tr_neg);
  ReadFastaFile(ex + "/donor_test_pos", s, te_pos);
  ReadFastaFile(ex + "/donor_test_neg", s, te_neg);
  KnnRecognizer R(s);
  BuildkNN(R, tr_pos, tr_neg, L, 5);
  std::vector<float> expected;
  for (const SequenceSet* set : {&te_pos, &te_neg}) {
    std::vector<float> part;
    for (int i = 0; i < set->size(); ++i)
      part.push_back(ClassifySequencekNN(R, (*set)[i], L, true));
    std::sort(part.begin(), part.end());
    expected.insert(expected.end(), part.begin(), part.end());
  }
  const std::vector<std::string> saved = Lines(ReadFile(dir / "donor_test_out"));
  ASSERT_EQ(saved.size(), expected.size());
  for (size_t i = 0; i < saved.size(); ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "%7.4lf %d", static_cast<double>(expected[i]),
                  i < static_cast<size_t>(te_pos.size()) ? 1 : 0);
    ASSERT_EQ(saved[i], line) << i;
  }
}

TEST(EndToEndTest, NeuralNetOnTheBundledDonorWindows) {
  TempDir dir;
  double g = 0;
  const std::string report = RunBundledExperiment(dir, "nn_donor.params", &g);
  EXPECT_NE(report.find("Recognition_method = NeuralNet\n"), std::string::npos);
  EXPECT_GT(g, 0.8);
}

TEST(EndToEndTest, SvmWithTheWdKernelOnTheBundledDonorWindows) {
  TempDir dir;
  double g = 0;
  const std::string report = RunBundledExperiment(dir, "svm_wd_donor.params", &g);
  EXPECT_TRUE(std::regex_search(
      report, std::regex("\nSVM threshold: -?\\d+\\.\\d{6}\nSupport vectors: \\d+\n")));
  EXPECT_GT(g, 0.4);
}

// Windows of 12 letters with a signal at positions 5-6 (GT in positives).
void WriteSignalSet(const TempDir& dir, const std::string& prefix, int n_pos, int n_neg,
                    unsigned seed) {
  CRandom rng(seed);
  std::string pos, neg;
  for (int i = 0; i < n_pos + n_neg; ++i) {
    std::string w(12, 'A');
    for (char& c : w) c = "ACGT"[rng.UniformIndex(4)];
    if (i < n_pos) {
      w[5] = 'G';
      w[6] = 'T';
      pos += ">p\n" + w + "\n";
    } else {
      neg += ">n\n" + w + "\n";
    }
  }
  WriteFile(dir / (prefix + "pos"), pos);
  WriteFile(dir / (prefix + "neg"), neg);
}

TEST(EndToEndTest, SvmKernelsAndTheParameterSearch) {
  TempDir dir;
  WriteSignalSet(dir, "tr_", 40, 60, 1);
  WriteSignalSet(dir, "te_", 20, 30, 2);
  for (int kernel : {0, 1, 2, 3, 5, 6}) {
    WriteFile(dir / "p",
              "Recognition_method: SVM\nSeed: 1\nCross-validate parameters: F\nKernel: " +
                  std::to_string(kernel) + "\nDegree (WD): 3\n");
    const auto r = RunVarnikIn(dir.path(), "tr_ te_ p out");
    ASSERT_EQ(r.status, 0) << kernel << r.out;
    const std::string report = ReadFile(dir / "out");
    EXPECT_TRUE(std::regex_search(report, std::regex("\nSupport vectors: \\d+\nTRAINING time")))
        << kernel;
    EXPECT_NE(report.find("ROC data with TESTING sequences"), std::string::npos);
  }
  // The default search: 21 grid rows, then the chosen row trained.
  WriteFile(dir / "p", "Recognition_method: SVM\nSeed: 1\nVerbose: 2\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ p out").status, 0);
  const std::string report = ReadFile(dir / "out");
  const std::regex row_line("\nKernel = [02]\tC = ");
  EXPECT_EQ(std::distance(std::sregex_iterator(report.begin(), report.end(), row_line),
                          std::sregex_iterator()),
            21);
  EXPECT_TRUE(std::regex_search(
      report, std::regex("\nBest parameters \\(accuracy: [0-9.]+\\): Kernel = [02]\tC = "
                         "[0-9.]+\tGamma: [0-9.]+\nSVM threshold: ")));
  // And the k search of the k-NN.
  WriteFile(dir / "k", "Recognition_method: kNN\nSeed: 1\nMinimum_k: 1\nMaximum_k: 9\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ k out").status, 0);
  EXPECT_TRUE(std::regex_search(
      ReadFile(dir / "out"),
      std::regex("\nBest parameters \\(accuracy: [0-9.]+\\): K = [1-9]\nk-NN threshold: ")));
}

TEST(EndToEndTest, SaveModelWritesLoadableFiles) {
  TempDir dir;
  WriteSignalSet(dir, "tr_", 40, 60, 3);
  WriteSignalSet(dir, "te_", 20, 30, 4);
  WriteFile(dir / "p",
            "Recognition_method: SVM\nSeed: 1\nCross-validate parameters: F\nKernel: 5\nDegree "
            "(WD): 4\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ p run1 save-model").status, 0);
  const std::vector<std::string> header = Lines(ReadFile(dir / "tr_.run1.model"));
  ASSERT_EQ(header.size(), 4u);
  EXPECT_EQ(header[0], "Classifier: SVM");
  EXPECT_EQ(header[1], "Sequence length: 12");
  EXPECT_TRUE(std::regex_match(header[2], std::regex("Threshold: -?\\d+\\.\\d{6}")));
  EXPECT_EQ(header[3], "SVM model file name: tr_.run1.model.svm");
  const std::unique_ptr<SvmRecognizer> R = LoadModel(dir / "tr_.run1.model");
  EXPECT_EQ(R->length(), 12);
  EXPECT_EQ(R->svm->param.kernel_type, 5);
  const std::string report = ReadFile(dir / "run1");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(report, m, std::regex("SVM threshold: (-?[0-9.]+)")));
  EXPECT_EQ(R->threshold(), std::stof(m[1]));
}

TEST(EndToEndTest, ProteinWindowsWithTheWdKernel) {
  TempDir dir;
  const std::string ex = testing::ExamplesDir();
  WriteFile(
      dir / "p",
      "Recognition_method: SVM\nKernel: 5\nDegree (WD): 5\nUse_protein_sequence: true\nSeed: 1\n");
  const auto r =
      RunVarnikIn(dir.path(), "'" + ex + "/donor_train_' '" + ex + "/donor_test_' p out");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string report = ReadFile(dir / "out");
  EXPECT_NE(report.find("Use_protein_sequence = true\n"), std::string::npos);
  EXPECT_NE(report.find("ROC data with TESTING sequences"), std::string::npos);
}

TEST(EndToEndTest, DecisionTreesWithTrialsAndPruning) {
  TempDir dir;
  const std::string ex = testing::ExamplesDir();
  for (int trials : {1, 10}) {
    for (const char* prune : {"true", "false"}) {
      WriteFile(dir / "p", "Recognition_method: C45\nSeed: 7\nTrials: " + std::to_string(trials) +
                               "\nPrune_tree: " + prune + "\n");
      const auto r =
          RunVarnikIn(dir.path(), "'" + ex + "/donor_train_' '" + ex + "/donor_test_' p out");
      ASSERT_EQ(r.status, 0) << r.out;
      const std::string report = ReadFile(dir / "out");
      EXPECT_TRUE(std::regex_search(
          report,
          std::regex("\nC4\\.5 threshold: -?\\d\\.\\d{6}\nTree nodes: \\d+\nTRAINING time")))
          << trials << prune;
      EXPECT_NE(report.find("ROC data with TESTING sequences"), std::string::npos);
    }
  }
  // The names file is removed again; seeded runs with trials repeat.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename().string().find("names"), std::string::npos);
  }
  WriteFile(dir / "p", "Recognition_method: C45\nSeed: 7\nTrials: 3\n");
  ASSERT_EQ(
      RunVarnikIn(dir.path(), "'" + ex + "/donor_train_' '" + ex + "/donor_test_' p a").status, 0);
  ASSERT_EQ(
      RunVarnikIn(dir.path(), "'" + ex + "/donor_train_' '" + ex + "/donor_test_' p b").status, 0);
  EXPECT_EQ(WithoutTimes(ReadFile(dir / "a")), WithoutTimes(ReadFile(dir / "b")));
}

TEST(EndToEndTest, StopCodonMethodEndsTheRunAfterReading) {
  TempDir dir;
  WriteSmallSet(dir, "tr_", 6, 9);
  WriteFile(dir / "empty", "");
  const auto r = RunVarnikIn(dir.path(), "tr_ tr_ empty out");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Unspecified error: Offset to sequence must be reprogrammed\n");
  const std::string report = ReadFile(dir / "out");
  EXPECT_NE(report.find("Recognition_method = STOP (*)\n"), std::string::npos);
  const std::vector<std::string> lines = Lines(report);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Positive sequences: 6");
  EXPECT_EQ(lines.back(), "Negative sequences: 9");
}

TEST(EndToEndTest, SeededRunsRepeatAndTheClockSeedIsNegative) {
  TempDir dir;
  WriteSmallSet(dir, "tr_", 20, 30);
  WriteSmallSet(dir, "te_", 10, 15);
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 99\nImbalance_method: UNDERSAMPLING\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ p a").status, 0);
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ p b").status, 0);
  const std::string a = ReadFile(dir / "a");
  EXPECT_EQ(WithoutTimes(a), WithoutTimes(ReadFile(dir / "b")));
  // Undersampling while reading keeps as many negatives as positives.
  EXPECT_NE(a.find("Positive sequences: 20\nNegative sequences: 20\n"), std::string::npos);
  EXPECT_NE(a.find("Positive sequences: 10\nNegative sequences: 15\n"), std::string::npos);

  WriteFile(dir / "q", "Recognition_method: PWM\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ q c").status, 0);
  EXPECT_TRUE(std::regex_search(ReadFile(dir / "c"), std::regex("\nRandom seed: -\\d+\n")));
}

TEST(EndToEndTest, NilTestPrefixEndsAfterTraining) {
  TempDir dir;
  WriteSmallSet(dir, "tr_", 20, 30);
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 1\nEvaluate_training_error: T\n");
  const auto r = RunVarnikIn(dir.path(), "tr_ nIl p out");
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> lines = Lines(ReadFile(dir / "out"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("==> FN rate: ", 0), 0u);
  EXPECT_EQ(ReadFile(dir / "out").find("TESTING"), std::string::npos);
  EXPECT_NE(ReadFile(dir / "out").find("TRAINING time: "), std::string::npos);
}

TEST(EndToEndTest, SaveOutputsWritesEveryWindowScore) {
  TempDir dir;
  WriteSmallSet(dir, "tr_", 6, 9);
  WriteSmallSet(dir, "te_", 4, 5);
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 1\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ p out save-outputs-please").status, 0);
  const std::vector<std::string> train = Lines(ReadFile(dir / "tr_out"));
  const std::vector<std::string> test = Lines(ReadFile(dir / "te_out"));
  ASSERT_EQ(train.size(), 15u);
  ASSERT_EQ(test.size(), 9u);
  const std::regex line("[ -]*\\d+\\.\\d{4} [01]");
  for (const std::string& l : train) EXPECT_TRUE(std::regex_match(l, line)) << l;
  EXPECT_EQ(train[0].back(), '1');
  EXPECT_EQ(train[14].back(), '0');
  // Test scores are sorted within each class.
  for (int i = 1; i < 4; ++i) EXPECT_LE(std::stod(test[i - 1]), std::stod(test[i]));
  for (int i = 5; i < 9; ++i) EXPECT_LE(std::stod(test[i - 1]), std::stod(test[i]));
}

TEST(EndToEndTest, MaskFileNarrowsTrainingAndTestWindows) {
  TempDir dir;
  WriteSmallSet(dir, "tr_", 6, 9);
  WriteSmallSet(dir, "te_", 4, 5);
  WriteFile(dir / "mask", "0\n0\n0\n1\n1\n0\n0\n0");
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 1\nMask_file: \"mask\"\n");
  const auto r = RunVarnikIn(dir.path(), "tr_ te_ p out save-outputs");
  ASSERT_EQ(r.status, 0) << r.out;
  // Only the two signal positions remain, where every positive reads GT: all
  // positives score alike, and above every negative.
  const std::vector<std::string> test = Lines(ReadFile(dir / "te_out"));
  ASSERT_EQ(test.size(), 9u);
  for (int i = 1; i < 4; ++i) EXPECT_EQ(test[i], test[0]);
  EXPECT_LT(std::stod(test[8]), std::stod(test[0]));
  // Without the mask the fillers make the positive scores differ.
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 1\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ p out save-outputs").status, 0);
  EXPECT_NE(Lines(ReadFile(dir / "te_out"))[0], Lines(ReadFile(dir / "te_out"))[3]);
}

TEST(EndToEndTest, ErrorsStopTheRunWithTheirMessages) {
  TempDir dir;
  WriteSmallSet(dir, "tr_", 6, 9);
  WriteFile(dir / "bad_pos", ">a\nACGTACGZ\n");
  WriteFile(dir / "bad_neg", ">a\nACGTACGT\n");
  WriteFile(dir / "short_pos", ">a\nACGTAC\n");
  WriteFile(dir / "short_neg", ">a\nACGTAC\n");
  WriteFile(dir / "pwm", "Recognition_method: PWM\nSeed: 1\n");
  WriteFile(dir / "knn", "Recognition_method: kNN\nSeed: 1\n");
  WriteFile(dir / "c45", "Recognition_method: C45\nSeed: 1\nTrials: 0\n");
  WriteFile(dir / "easy", "Recognition_method: EasyEnsemble\nSeed: 1\nEnsemble_s_i: 0\n");
  WriteFile(dir / "kernel4", "Recognition_method: SVM\nKernel: 4\nCross-validate parameters: F\n");
  WriteFile(dir / "folds0", "Recognition_method: SVM\nCV_folds: 0\n");
  WriteFile(dir / "protein", "Recognition_method: SVM\nKernel: 5\nUse_protein_sequence: T\n");
  WriteFile(dir / "base", "Base_learner: kNN\n");
  WriteFile(dir / "auc", "Recognition_method: PWM\nSeed: 1\nWrite_AUC_data: true\n");
  WriteFile(dir / "mask", "Recognition_method: PWM\nMask_file: \"nomask\"\n");
  struct Case {
    std::string args;
    int status;
    std::string out;
  } cases[] = {
      {"tr_ tr_ pwm out save-model", 1, "Unspecified error: Not yet implemented\n"},
      {"absent_ tr_ pwm out", 1, "Unspecified error: Sequence file not found\n"},
      {"bad_ tr_ pwm out", 1, "Unspecified error: Sequence contains errors\n"},
      {"tr_ short_ pwm out", 1,
       "Training of the model finished\nUnspecified error: Length too long\n"},
      {"tr_ tr_ nofile out", 1, "Unspecified error: Cannot open parameters file\n"},
      {"tr_ tr_ base out", 1, "Unspecified error: Ensembles only with C4.5 or SVMs\n"},
      {"tr_ tr_ c45 out", 1, "Unspecified error: Trials must be at least 1\n"},
      {"tr_ tr_ easy out", 1, "Unspecified error: Ensemble_s_i must be at least 1, not 0\n"},
      {"tr_ tr_ kernel4 out", 1,
       "Unspecified error: Kernel 4 (precomputed) cannot be used on windows: choose kernel 0, 1, "
       "2, 3, 5 or 6\n"},
      {"tr_ tr_ folds0 out", 1,
       "Unspecified error: CV_folds must be at least 1 for cross-validation\n"},
      {"tr_ tr_ protein out", 1,
       "Unspecified error: Cannot convert to protein if incomplete codons\n"},
      {"tr_ tr_ pwm nodir/out", 1, "Unspecified error: main: Cannot open output file\n\n"},
      {"tr_ tr_ auc sub/../out", 1, "Unspecified error: main: Cannot open output file\n\n"},
      {"tr_ tr_ mask out", 1, "Unspecified error: Cannot open mask file\n"},
  };
  for (const Case& c : cases) {
    const auto r = RunVarnikIn(dir.path(), c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
  }
  // The report written before the error stays on disk.
  RunVarnikIn(dir.path(), "tr_ short_ pwm kept");
  EXPECT_NE(ReadFile(dir / "kept").find("TRAINING time: "), std::string::npos);
  // The AUC file cannot be created where its name points into a missing directory.
  std::filesystem::create_directory(dir / "sub");
  const auto r = RunVarnikIn(dir.path(), "tr_ tr_ auc sub/out");
  EXPECT_EQ(r.status, 0);
}

TEST(EndToEndTest, AFullDiskIsNotAQuietSuccess) {
  TempDir dir;
  WriteSmallSet(dir, "tr_", 6, 9);
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 1\n");
  const auto r = RunVarnikIn(dir.path(), "tr_ tr_ p /dev/full");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("Cannot write file /dev/full"), std::string::npos) << r.out;
}

TEST(EndToEndTest, DataDirectoryUnderHome) {
  TempDir dir;
  TempDir home;
  std::filesystem::create_directories(home / "sets/donor");
  WriteSmallSet(dir, "tr_", 6, 9);
  std::filesystem::rename(dir / "tr_pos", home / "sets/donor/tr_pos");
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 1\nData_directory: \"sets/donor\"\n");
  const auto r = testing::RunCommand("cd '" + dir.path() + "' && HOME='" + home.path() + "' '" +
                                     VARNIK_BINARY + "' tr_ NIL p out 2>/dev/null");
  EXPECT_EQ(r.status, 1);  // NIL: ends after training
  EXPECT_NE(ReadFile(dir / "out").find("Positive sequences: 6\nNegative sequences: 9\n"),
            std::string::npos);
}

}  // namespace
}  // namespace varnik

namespace varnik {
namespace {

TEST(CommandLineTest, HelpVersionAndArgumentsThatAskForNothing) {
  TempDir dir;
  WriteSmallSet(dir, "tr_", 6, 9);
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 1\n");
  const std::string usage =
      "varnik train-file[pos/neg] {test-file[pos/neg]|NIL} parameters output "
      "[save-outputs/save-model]\n";
  struct Case {
    std::string args;
    int status;
    bool usage_first;
  } cases[] = {
      {"--help", 0, true},
      {"-h", 0, true},
      {"tr_ tr_ p out save-output", 1, true},
      {"tr_ tr_ p out save-models", 1, true},
      {"tr_ tr_ p out save-model extra", 1, true},
  };
  for (const Case& c : cases) {
    const auto r = RunVarnikIn(dir.path(), c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.out.substr(0, usage.size()), usage) << c.args;
    EXPECT_FALSE(std::filesystem::exists(dir / "out")) << c.args;  // nothing written
  }
  const auto version = RunVarnikIn(dir.path(), "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("varnik \\d+\\.\\d+\n"))) << version.out;
  // A thread count must be a number from 1 up, given or in the environment.
  for (const char* bad : {"--threads 0 tr_ tr_ p out", "--threads x tr_ tr_ p out", "--threads",
                          "VARNIK_THREADS=-2 --threads"}) {
    std::string args = bad;
    std::string env;
    if (args.rfind("VARNIK_THREADS", 0) == 0) {
      env = "VARNIK_THREADS=-2 ";
      args = "tr_ tr_ p out";
    }
    const auto r = testing::RunCommand("cd '" + dir.path() + "' && " + env + "'" + VARNIK_BINARY +
                                       "' " + args + " 2>/dev/null");
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_NE(r.out.find("thread"), std::string::npos) << bad << ": " << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "out")) << bad;
  }
  EXPECT_EQ(RunVarnikIn(dir.path(), "--threads 2 tr_ tr_ p out").status, 0);
  std::filesystem::remove(dir / "out");
  // The specified prefix rule stays: save-outputs followed by more letters.
  std::filesystem::copy_file(dir / "tr_pos", dir / "te_pos");
  std::filesystem::copy_file(dir / "tr_neg", dir / "te_neg");
  EXPECT_EQ(RunVarnikIn(dir.path(), "tr_ te_ p out save-outputs-too").status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "tr_out"));
}

TEST(CommandLineTest, NoOutputMayBeAnInputFile) {
  TempDir dir;
  WriteSmallSet(dir, "tr_", 6, 9);
  const std::string params = "Recognition_method: PWM\nSeed: 1\nMask_file: \"m\"\n";
  WriteFile(dir / "p", params);
  WriteFile(dir / "m", "1\n1\n1\n1\n1\n1\n1\n1\n");
  std::filesystem::create_hard_link(dir / "p", dir / "same_as_p");
  struct Case {
    std::string args, message;
  } cases[] = {
      {"tr_ tr_ p p", "The report p is the parameters file p"},
      {"tr_ tr_ p same_as_p", "The report same_as_p is the parameters file p"},
      {"tr_ tr_ p m", "The report m is the mask file m"},
      {"tr_ tr_ p tr_pos", "The report tr_pos is the training windows file tr_pos"},
      {"\"\" tr_ p pos save-outputs", "is the training windows file pos"},
      {"tr_ tr_ p p-auc", ""},  // harmless: p-auc does not exist
  };
  WriteFile(dir / "pos", ">a\nACGTACGT\n");
  WriteFile(dir / "neg", ">a\nACGTACGA\n");
  for (const Case& c : cases) {
    const auto r = RunVarnikIn(dir.path(), c.args);
    if (c.message.empty()) {
      EXPECT_EQ(r.status, 0) << c.args << r.out;
      continue;
    }
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << c.args << ": " << r.out;
    EXPECT_EQ(r.out.rfind("Unspecified error: ", 0), 0u) << r.out;
  }
  // Nothing was truncated.
  EXPECT_EQ(ReadFile(dir / "p"), params);
  EXPECT_EQ(Lines(ReadFile(dir / "tr_pos")).size(), 12u);
  EXPECT_EQ(ReadFile(dir / "pos"), ">a\nACGTACGT\n");
}

TEST(CommandLineTest, FileErrorsNameThePathAndTheReason) {
  TempDir dir;
  WriteSmallSet(dir, "tr_", 6, 9);
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 1\n");
  WriteFile(dir / "crlf_pos", ">a\r\nACGTACGT\r\n");
  WriteFile(dir / "crlf_neg", ">a\r\nACGTACGT\r\n");
  WriteFile(dir / "nn", "Recognition_method: NeuralNet\nEta: 0\nN_epochs: 10\n");
  std::filesystem::create_directory(dir / "folder");
  struct Case {
    std::string args, stderr_part;
  } cases[] = {
      {"tr_ tr_ missing out", "cannot open parameters file missing: No such file or directory"},
      {"tr_ tr_ folder out", "cannot read parameters file folder: Is a directory"},
      {"tr_ tr_ p nodir/out", "cannot create report file nodir/out: No such file or directory"},
      {"absent_ tr_ p out", "cannot read absent_pos (No such file or directory)"},
      {"crlf_ tr_ p out", "Windows line ends: convert the file, e.g. with dos2unix"},
  };
  for (const Case& c : cases) {
    const auto r = RunVarnikIn(dir.path(), c.args, true);
    EXPECT_NE(r.status, 0) << c.args;
    EXPECT_NE(r.out.find(c.stderr_part), std::string::npos) << c.args << ": " << r.out;
  }
}

TEST(CommandLineTest, TreesNeedNoWritableWorkingDirectory) {
  // The tree engine's names are built in memory: the run works in a
  // working directory where no file can be created (it has been removed).
  TempDir dir;
  WriteSignalSet(dir, "tr_", 20, 30, 5);
  WriteFile(dir / "p", "Recognition_method: C45\nSeed: 1\n");
  std::filesystem::create_directory(dir / "gone");
  const std::string d = dir.path();
  const auto r = testing::RunCommand("cd '" + d + "/gone' && rmdir '" + d + "/gone' && '" +
                                     VARNIK_BINARY + "' '" + d + "/tr_' '" + d + "/tr_' '" + d +
                                     "/p' '" + d + "/report' 2>&1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(ReadFile(dir / "report").find("Tree nodes: "), std::string::npos);
}

}  // namespace
}  // namespace varnik

namespace varnik {
namespace {

TEST(FeatureSelectionRunTest, PositionsAverageTheirFeaturesAndHalfOf41Keeps20) {
  TempDir dir;
  CRandom rng(9);
  std::string pos, neg;
  for (int i = 0; i < 60; ++i) {
    std::string w(41, 'A');
    for (char& c : w) c = "ACGT"[rng.UniformIndex(4)];
    if (i < 30) w.replace(20, 2, "GT");
    (i < 30 ? pos : neg) += ">w\n" + w + "\n";
  }
  WriteFile(dir / "tr_pos", pos);
  WriteFile(dir / "tr_neg", neg);
  WriteFile(dir / "p",
            "Recognition_method: SVM\nFS_algorithm: RFE\nRFE_subset_size: 30\n"
            "FS_percent_to_keep: 0.5\nCross-validate parameters: false\nSeed: 1\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ tr_ p out").status, 0);
  const std::vector<std::string> lines = Lines(ReadFile(dir / "out"));
  // The feature table (164 one-hot features, best first) ...
  auto at = std::find(lines.begin(), lines.end(), "Ranking\tFeature\tWeight");
  ASSERT_NE(at, lines.end());
  std::vector<float> step(41, 0.0f), weight(41, 0.0f);
  for (int i = 0; i < 164; ++i) {
    int place = 0, feature = 0;
    double w = 0;
    ASSERT_EQ(std::sscanf((++at)->c_str(), "%d\t%d\t%lf", &place, &feature, &w), 3);
    EXPECT_EQ(place, i + 1);
    step[(feature - 1) / 4] += static_cast<float>(i / 4);
    weight[(feature - 1) / 4] += static_cast<float>(w) / 4.0f;
  }
  // ... folds into the position table: each position sums its features'
  // places / 4 and averages their weights, sorted by the sum.
  ASSERT_EQ(*++at, "Sequence position info");
  ++at;
  float last = -1;
  for (int k = 0; k < 41; ++k) {
    int rank = 0, position = 0;
    double s = 0, w = 0;
    ASSERT_EQ(std::sscanf((++at)->c_str(), "%d\t%d\t\t%lf\t%lf", &rank, &position, &s, &w), 4);
    EXPECT_EQ(rank, k + 1);
    EXPECT_NEAR(s, step[position - 1], 1e-6) << position;
    EXPECT_NEAR(w, weight[position - 1], 1e-5) << position;
    EXPECT_GE(s, last);
    last = static_cast<float>(s);
  }
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Selected 20 bases (features)"), lines.end());
}

}  // namespace
}  // namespace varnik

namespace varnik {
namespace {

void CheckScoresEqualTheOutputs(const std::string& extra);

TEST(ScoreCommandTest, SavedModelScoresEqualTheTrainingRunsOutputs) {
  // rbf on one-hot windows (scored the exact way), wd (folded into tables)
  // and wd on amino-acid windows.
  for (const char* extra : {"Kernel: 2\nGamma: 0.1\n", "Kernel: 5\nDegree (WD): 4\n",
                            "Kernel: 5\nDegree (WD): 3\nUse_protein_sequence: true\n"}) {
    SCOPED_TRACE(extra);
    CheckScoresEqualTheOutputs(extra);
  }
}

void CheckScoresEqualTheOutputs(const std::string& extra) {
  TempDir dir;
  WriteSignalSet(dir, "tr_", 40, 60, 3);
  WriteFile(dir / "p", "Recognition_method: SVM\nSeed: 1\nCross-validate parameters: F\n" + extra);
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ tr_ p run save-model").status, 0);
  // Training only: the training outputs file keeps the windows' order.
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ NIL p run2 save-outputs").status, 1);
  const auto r = RunVarnikIn(dir.path(), "--threads 2 score p tr_.run.model tr_pos");
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> scored = Lines(r.out), saved = Lines(ReadFile(dir / "tr_run2"));
  ASSERT_EQ(scored.size(), 40u);
  const std::vector<std::string> header = Lines(ReadFile(dir / "tr_.run.model"));
  const float threshold = std::stof(header[2].substr(std::string("Threshold: ").size()));
  for (size_t i = 0; i < scored.size(); ++i) {
    char name[32];
    double score = 0, outputs = 0;
    int call = -1;
    ASSERT_EQ(std::sscanf(scored[i].c_str(), "%31s\t%lf\t%d", name, &score, &call), 3);
    EXPECT_STREQ(name, "p");
    ASSERT_EQ(std::sscanf(saved[i].c_str(), "%lf", &outputs), 1);
    EXPECT_NEAR(score, outputs, 5.1e-5) << i;  // the outputs file keeps 4 decimals
    // (The printed score is rounded: at the threshold itself it may not tell.)
    if (std::fabs(score - threshold) > 1e-6) {
      EXPECT_EQ(call, score > threshold ? 1 : 0) << i;
    }
  }
  // Into a file, and never over an input.
  EXPECT_EQ(RunVarnikIn(dir.path(), "score p tr_.run.model tr_neg out.tsv").status, 0);
  EXPECT_EQ(Lines(ReadFile(dir / "out.tsv")).size(), 60u);
  // Standard output holds data only: usage and error lines go to standard
  // error.
  const auto over = testing::RunVarnikSplit(dir.path(), "score p tr_.run.model tr_neg tr_neg");
  EXPECT_EQ(over.status, 1);
  EXPECT_EQ(over.out, "");
  EXPECT_NE(over.err.find("is the input file tr_neg"), std::string::npos);
  EXPECT_EQ(Lines(ReadFile(dir / "tr_neg")).size(), 120u);
  const auto usage = testing::RunVarnikSplit(dir.path(), "score p");
  EXPECT_EQ(usage.out, "");
  EXPECT_EQ(usage.err, "varnik score [parameters] model fasta [output]\n");
  const auto absent = testing::RunVarnikSplit(dir.path(), "score p nomodel tr_pos");
  EXPECT_EQ(absent.out, "");
  EXPECT_EQ(absent.err,
            "Unspecified error: Error loading SVM model nomodel.svm: No such file or directory\n");
}

}  // namespace
}  // namespace varnik

namespace varnik {
namespace {

TEST(FeatureSelectionRunTest, NegativesSetAsideGetTheSameCut) {
  // All negatives alike: every one of them, kept by SMOTE's cut or set aside
  // for the outputs file, must score the same on the selected positions.
  TempDir dir;
  CRandom rng(2);
  std::string pos, neg;
  for (int i = 0; i < 20; ++i) {
    std::string w(16, 'A');
    for (char& c : w) c = "ACGT"[rng.UniformIndex(4)];
    w.replace(9, 2, "GT");
    pos += ">p\n" + w + "\n";
  }
  for (int i = 0; i < 60; ++i) neg += ">n\nTTGACCAGTCAGCATC\n";
  WriteFile(dir / "tr_pos", pos);
  WriteFile(dir / "tr_neg", neg);
  WriteFile(dir / "p",
            "Recognition_method: PWM\nImbalance_method: SMOTE\nFS_algorithm: RFE\n"
            "FS_percent_to_keep: 0.5\nCross-validate parameters: false\nSeed: 1\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ NIL p out save-outputs").status, 1);
  const std::vector<std::string> lines = Lines(ReadFile(dir / "tr_out"));
  ASSERT_EQ(lines.size(), 100u);  // 40 positives after SMOTE, every negative read
  for (size_t i = 41; i < lines.size(); ++i) EXPECT_EQ(lines[i], lines[40]) << i;
}

}  // namespace
}  // namespace varnik
