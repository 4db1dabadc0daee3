#include "driver/parameters.h"

#include <gtest/gtest.h>

#include "core/error.h"
#include "test_util.h"

namespace varnik {
namespace {

// Loads the parameters from text; returns the echo written to the report.
std::string Load(const std::string& text, Settings& s) {
  testing::TempDir dir;
  const std::string params = dir / "params";
  testing::WriteFile(params, text);
  {
    OutputFile out;
    EXPECT_TRUE(out.Open(dir / "report"));
    LoadGlobalParameters(params, s, out);
    out.Close();
  }
  return testing::ReadFile(dir / "report");
}

// The error a parameters text ends the run with.
VarnikError LoadError(const std::string& text) {
  Settings s;
  try {
    Load(text, s);
  } catch (const VarnikError& e) {
    return e;
  }
  ADD_FAILURE() << "no error for:\n" << text;
  return VarnikError(0, "");
}

TEST(ParametersTest, EmptyFileEchoesEveryDefault) {
  Settings s;
  const std::string echo = Load("", s);
  const std::string expected =
      "Parameters (* = default) \n"
      "----------\n"
      "Data_directory = \"Research/Experiments/Data/Class\" (*)\n"
      "Imbalance_method = NONE (*)\n"
      "Evaluate_training_error = false (*)\n"
      "Offset_to_start = 0 (*)\n"
      "Sequence_length = 0 (*)\n"
      "Use_protein_sequence = false (*)\n"
      "Mask_file = \"nil\" (*)\n"
      "Verbose = 0 (*)\n"
      "Seed = 0 (*)\n"
      "Recognition_method = STOP (*)\n"
      "Desired_sensitivity = 0.800000 (*)\n"
      "Cross-validate parameters = true (*)\n"
      "Write_AUC_data = false (*)\n"
      "FS_algorithm = NONE (*)\n"
      "RFE_subset_size = 10 (*)\n"
      "FS_percent_to_keep = 0.000000 (*)\n"
      "CV_folds = 10 (*)\n"
      "FS_min_percent = 0.500000 (*)\n"
      "Exit_after_FS = false (*)\n"
      "Stacking = false (*)\n"
      "Stacking_methods = 71 (*)\n"
      "Scale_stacking_inputs = true (*)\n"
      "Stacker = SVM (*)\n"
      "Trials = 1 (*)\n"
      "Prune_tree = true (*)\n"
      "Soften_thresholds = true (*)\n"
      "Kernel = 0 (*)\n"
      "Gamma = 1.000000 (*)\n"
      "C = 1.000000 (*)\n"
      "Degree (WD) = 22 (*)\n"
      "K = 3 (*)\n"
      "Minimum_k = 3 (*)\n"
      "Maximum_k = 100 (*)\n"
      "KNN_weight_by_distance = true (*)\n"
      "Base_learner = C45 (*)\n"
      "Ensemble_T = 10 (*)\n"
      "Ensemble_s_i = 10 (*)\n"
      "SMOTE_k = 5 (*)\n"
      "SMOTE_N = 100.000000 (*)\n"
      "NN_hidden_nodes = 100 (*)\n"
      "N_epochs = 100000 (*)\n"
      "Epoch_size = 16 (*)\n"
      "Eta = 0.000000 (*)\n"
      "Alpha = 0.000000 (*)\n"
      "Htan_A = 1.000000 (*)\n"
      "Htan_B = 0.333300 (*)\n"
      "Flat_spot = 0.010000 (*)\n"
      "GA_alpha = 0.500000 (*)\n"
      "GA_mutation = 0.100000 (*)\n"
      "GA_LS_mutation = 0.100000 (*)\n"
      "GA_bit_mutation = 0.100000 (*)\n"
      "GA_1_probability = 0.750000 (*)\n"
      "GA_population_size = 100 (*)\n"
      "GA_generations = 1000 (*)\n";
  EXPECT_EQ(echo, expected);
  EXPECT_EQ(s.R_method, kSTOP);
  EXPECT_EQ(s.Imbalance_method, kImbalanceNone);
  EXPECT_EQ(s.FSAlgorithm, kFSNone);
  EXPECT_EQ(s.Sensitivity, 0.8f);
  EXPECT_EQ(s.Htan_B, 0.3333f);
}

TEST(ParametersTest, EnumerationsMatchCaseInsensitivelyAfterOneSeparator) {
  Settings s;
  std::string echo = Load("recognition_method: svm\n", s);
  EXPECT_EQ(s.R_method, kSVM);
  EXPECT_NE(echo.find("Recognition_method = SVM\n"), std::string::npos);

  // No blank after the colon: the first letter is skipped, nothing matches,
  // the default is used but echoed without the mark.
  Settings t;
  echo = Load("Recognition_method:SVM\n", t);
  EXPECT_EQ(t.R_method, kSTOP);
  EXPECT_NE(echo.find("Recognition_method = STOP\n"), std::string::npos);

  // The word is compared over its own length; the last matching word wins.
  Settings u;
  Load("Recognition_method: PWMxyz\nImbalance_method: smote\nFS_algorithm: GA\nStacker: knn\n", u);
  EXPECT_EQ(u.R_method, kPWM);
  EXPECT_EQ(u.Imbalance_method, kSmote);
  EXPECT_EQ(u.FSAlgorithm, kFSGA);
  EXPECT_EQ(u.Stacker, 1);

  // A key line with nothing after the colon matches no word.
  Settings v;
  echo = Load("Recognition_method:\n", v);
  EXPECT_EQ(v.R_method, kSTOP);
  EXPECT_NE(echo.find("Recognition_method = STOP\n"), std::string::npos);
}

TEST(ParametersTest, BooleansStringsNumbers) {
  Settings s;
  std::string echo = Load(
      "Evaluate_training_error: yes\nWrite_AUC_data: True\nStacking: t\n"
      "Data_directory: no quotes here\nMask_file: \"masks/m1\" trailing\n"
      "Desired_sensitivity:   1.5e-1\nSeed: -17abc\nK: x\nTrials: 70000\n",
      s);
  EXPECT_FALSE(s.Eval_training);
  EXPECT_TRUE(s.Write_AUC_data);
  EXPECT_TRUE(s.Stacking);
  EXPECT_EQ(s.Datad, "Research/Experiments/Data/Class");
  EXPECT_NE(echo.find("Data_directory = \"Research/Experiments/Data/Class\" (*)\n"),
            std::string::npos);
  EXPECT_EQ(s.Mask_file, "masks/m1");
  EXPECT_NE(echo.find("Mask_file = \"masks/m1\"\n"), std::string::npos);
  EXPECT_EQ(s.Sensitivity, 0.15f);
  EXPECT_NE(echo.find("Desired_sensitivity = 0.150000\n"), std::string::npos);
  EXPECT_EQ(s.Seed, -17);
  EXPECT_EQ(s.K, 0);
  EXPECT_NE(echo.find("K = 0\n"), std::string::npos);
  EXPECT_EQ(s.TRIALS, static_cast<short>(70000));  // kept in 16 bits
  EXPECT_NE(echo.find("Evaluate_training_error = false\n"), std::string::npos);
  EXPECT_NE(echo.find("Write_AUC_data = true\n"), std::string::npos);
}

TEST(ParametersTest, FirstLineOfAKeyCountsAndPrefixesDoNotMatch) {
  Settings s;
  Load("# K: 9 is a comment\n  K: 8\nKernel: 2\nK: 4\nK: 5\nCV_folds: 7\n", s);
  EXPECT_EQ(s.K, 4);  // "Kernel:" is not "K:"; a line must start with the key
  EXPECT_EQ(s.Kernel, 2);
  EXPECT_EQ(s.CV_folds, 7);
}

TEST(ParametersTest, LongLinesAndALastLineWithoutLineEndAreRead) {
  Settings s;
  const std::string long_dir(300, 'd');
  Load("Verbose: 1\nData_directory: \"" + long_dir + "\"\nSeed: 77", s);
  EXPECT_EQ(s.Datad, long_dir);
  EXPECT_EQ(s.Seed, 77);
}

TEST(ParametersTest, GammaKeyDependsOnTheKernel) {
  Settings wds;
  std::string echo = Load("Kernel: 6\nGamma: 2\nSigma (WDS): 3\n", wds);
  EXPECT_EQ(wds.Gamma, 3.0f);
  EXPECT_NE(echo.find("Sigma (WDS) = 3.000000\n"), std::string::npos);
  EXPECT_EQ(echo.find("Gamma ="), std::string::npos);
  EXPECT_FALSE(wds.CV_parameters);  // string kernels are not tuned

  Settings rbf;
  Load("Kernel: 2\nGamma: 2\nSigma (WDS): 3\n", rbf);
  EXPECT_EQ(rbf.Gamma, 2.0f);
  EXPECT_TRUE(rbf.CV_parameters);

  Settings wds_default;
  echo = Load("Kernel: 6\n", wds_default);
  EXPECT_EQ(wds_default.Gamma, 0.5f);
  EXPECT_NE(echo.find("Sigma (WDS) = 0.500000 (*)\n"), std::string::npos);
}

TEST(ParametersTest, ConsistencyRules) {
  Settings stacking;
  std::string echo = Load("Recognition_method: kNN\nStacking: true\n", stacking);
  EXPECT_EQ(stacking.R_method, kStackingMethod);
  EXPECT_NE(echo.find("Recognition_method = kNN\n"), std::string::npos);

  Settings ensemble;
  echo = Load("Recognition_method: EasyEnsemble\nImbalance_method: SMOTE\n", ensemble);
  EXPECT_EQ(ensemble.Imbalance_method, kImbalanceNone);
  EXPECT_NE(echo.find("Imbalance_method = SMOTE\n"), std::string::npos);

  Settings smote;
  Load("SMOTE_k: 0\nSMOTE_N: 300\n", smote);
  EXPECT_EQ(smote.Smote_k, 3);

  Settings protein;
  Load("Recognition_method: SVM\nKernel: 5\nUse_protein_sequence: true\n", protein);
  EXPECT_FALSE(protein.CV_parameters);
}

TEST(ParametersTest, PercentToKeepAboveOneIsCorrected) {
  Settings s;
  ::testing::internal::CaptureStdout();
  const std::string echo = Load("FS_percent_to_keep: 1.5\n", s);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(s.FS_percent_to_keep, 1.0f);
  EXPECT_NE(echo.find("FS_percent_to_keep = 1.500000\n"), std::string::npos);
  EXPECT_EQ(printed, "Percent to keep above 100%, corrected\n");
}

TEST(ParametersTest, ErrorsCarryTheirMessages) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"Base_learner: kNN\n", "Ensembles only with C4.5 or SVMs"},
      {"Recognition_method: STOP\nFS_algorithm: RFE\n",
       "Stop codon method does not accept feature selection"},
      {"FS_algorithm: GA\n", "Stop codon method does not accept feature selection"},
      {"Recognition_method: SVM\nKernel: 6\nUse_protein_sequence: true\n",
       "Protein sequence only for string kernels"},
      {"Recognition_method: PWM\nUse_protein_sequence: true\n",
       "Protein sequence only for string kernels"},
      {"Stacking: true\nStacking_methods: 384\n", "No stacked classifiers"},
      {"Stacking: true\nStacking_methods: 128\n", "No stacked classifiers"},
  };
  for (const Case& c : cases) {
    const VarnikError e = LoadError(c.text);
    EXPECT_EQ(e.code(), 1) << c.text;
    EXPECT_STREQ(e.what(), c.message) << c.text;
  }
}

// Loads the text as the run does; returns the warnings written to standard
// error, or throws the value check's error.
std::string LoadChecked(const std::string& text) {
  Settings s;
  OutputFile sink;
  const ParameterFile f = ParameterFile::FromText(text);
  LoadGlobalParameters(f, s, sink);
  ::testing::internal::CaptureStderr();
  WarnAboutParameters(f, s);
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  CheckParameterValues(f, s);
  return warnings;
}

TEST(ParametersTest, ValuesThatCanOnlyGiveGarbageStopTheRun) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"C: nan\n", "C must be a finite number, not nan"},
      {"Gamma: inf\n", "Gamma must be a finite number, not inf"},
      {"Kernel: 6\nSigma (WDS): -inf\n", "Sigma (WDS) must be a finite number, not -inf"},
      {"Htan_B: 1e999\n", "Htan_B must be a finite number, not inf"},
      {"Desired_sensitivity: 1.5\n", "Desired_sensitivity must be between 0 and 1, not 1.500000"},
      {"Desired_sensitivity: -0.1\n", "Desired_sensitivity must be between 0 and 1, not -0.100000"},
      {"Trials: 65537\n", "Trials must be at most 32767, not 65537"},
      {"Trials: -32769\n", "Trials must be at least 1"},
      {"Recognition_method: NeuralNet\nEta: 0.1\nEpoch_size: 0\n",
       "Epoch_size must be at least 1 for the neural network, not 0"},
      {"Recognition_method: NeuralNet\nEta: 0.1\nN_epochs: -1\n",
       "N_epochs must not be negative, not -1"},
      {"Recognition_method: EasyEnsemble\nEnsemble_T: 0\n", "Ensemble_T must be at least 1, not 0"},
      {"Recognition_method: BalanceCascadeEnsemble\nEnsemble_s_i: -2\n",
       "Ensemble_s_i must be at least 1, not -2"},
      {"Imbalance_method: SMOTE\nSMOTE_k: -1\n", "SMOTE_k must not be negative, not -1"},
      {"FS_algorithm: RFE\nRecognition_method: SVM\nRFE_subset_size: 0\n",
       "RFE_subset_size must be at least 1, not 0"},
      {"FS_algorithm: GA\nRecognition_method: SVM\nGA_population_size: 7\n",
       "GA_population_size must be even and at least 2, not 7"},
      {"FS_algorithm: GA\nRecognition_method: SVM\nGA_population_size: 0\n",
       "GA_population_size must be even and at least 2, not 0"},
      {"FS_algorithm: GA\nRecognition_method: SVM\nGA_generations: -1\n",
       "GA_generations must not be negative, not -1"},
      {"Trials: 0\n", "Trials must be at least 1"},
      {"Recognition_method: kNN\nCross-validate parameters: T\nMinimum_k: -5\n"
       "Maximum_k: 2000000\n",
       "Minimum_k .. Maximum_k spans more than 1000000 values of k"},
      // A recogniser that would give every window one score.
      {"Recognition_method: kNN\nCross-validate parameters: F\nK: 0\n",
       "K must be at least 1 for the k-NN without the k search, not 0"},
      {"Recognition_method: kNN\nKernel: 5\nK: -3\n",
       "K must be at least 1 for the k-NN without the k search, not -3"},
      {"Stacking: T\nStacker: kNN\nCross-validate parameters: F\nK: 0\n",
       "K must be at least 1 for the k-NN without the k search, not 0"},
      {"Recognition_method: NeuralNet\nEta: 0.1\nNN_hidden_nodes: 0\n",
       "NN_hidden_nodes must be at least 1 for the neural network, not 0"},
      {"Recognition_method: NeuralNet\nEta: 0.1\nHtan_A: 0\n",
       "Htan_A must not be 0 for the neural network: every output would be 0"},
  };
  for (const Case& c : cases) {
    try {
      LoadChecked(c.text);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const VarnikError& e) {
      EXPECT_EQ(e.code(), 1);
      EXPECT_STREQ(e.what(), c.message) << c.text;
    }
  }
  // What the methods define on purpose stays: K 0, Minimum_k above Maximum_k,
  // a sensitivity of 0 or 1, Epoch_size 0 without a network.
  EXPECT_NO_THROW(LoadChecked("K: 0\nMinimum_k: 9\nMaximum_k: 3\nDesired_sensitivity: 1\n"));
  EXPECT_NO_THROW(LoadChecked("Desired_sensitivity: 0\nEpoch_size: 0\nTrials: 32767\n"));
  // The boundaries themselves pass, and a k search with K 0 is no fixed k.
  EXPECT_NO_THROW(
      LoadChecked("Trials: 1\nRecognition_method: kNN\nK: 1\n"
                  "Cross-validate parameters: F\n"));
  EXPECT_NO_THROW(LoadChecked("Recognition_method: kNN\nK: 0\n"));
  EXPECT_NO_THROW(
      LoadChecked("Recognition_method: NeuralNet\nEta: 0.1\nNN_hidden_nodes: 1\n"
                  "Htan_A: -0.5\n"));
  EXPECT_NO_THROW(LoadChecked("NN_hidden_nodes: 0\nHtan_A: 0\n"));  // no network
}

// Whole numbers are read by their leading digits, words and booleans from
// the second character after the colon: whatever that misreads is named
// with what was read.
TEST(ParametersTest, MisreadNumbersAndGluedValuesAreNamedWithWhatWasRead) {
  struct Case {
    const char* text;
    const char* warning;
  } cases[] = {
      {"CV_folds: 1e9\n", "parameters:1: CV_folds: \"1e9\" is not a whole number; read as 1"},
      {"K: 7.9\n", "parameters:1: K: \"7.9\" is not a whole number; read as 7"},
      {"K: 7abc\n", "parameters:1: K: \"7abc\" is not a whole number; read as 7"},
      {"Seed: 99999999999\n",
       "parameters:1: Seed: \"99999999999\" is out of range; read as 2147483647"},
      {"Recognition_method:PWM\n",
       "parameters:1: Recognition_method: \"PWM\" is read from its second character (there is "
       "no blank after the colon), and \"WM\" is none of SVM, kNN, C45, STOP, EasyEnsemble, "
       "BalanceCascadeEnsemble, PWM, NeuralNet; the default STOP is used"},
      {"Write_AUC_data:true\n",
       "parameters:1: Write_AUC_data: \"true\" is read from its second character (there is no "
       "blank after the colon), and \"rue\" is neither true nor false (only a first letter T or "
       "F counts); read as false"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LoadChecked(c.text), std::string("varnik: warning: ") + c.warning + "\n") << c.text;
  }
  // Plain whole numbers, a blank or a tab after the colon, trailing blanks:
  // nothing to say.
  EXPECT_EQ(LoadChecked("K: 7\nCV_folds:\t5 \nSeed: -3\r\nRecognition_method:\tPWM\n"
                        "Minimum_k: 4\nMaximum_k: 4\n"),
            "");
}

TEST(ParametersTest, MistakesThatWouldPassInSilenceAreNamed) {
  const std::string warnings = LoadChecked(
      "Desired_sensitivty: 0.5\nCross_validate_parameters: F\nRecognition_method: PWN\n"
      "Mask_file: m.mask\nWrite_AUC_data: yes\nK: seven\nK: 5\n# a comment\n\n"
      "Seed: 1\n");
  EXPECT_EQ(warnings,
            "varnik: warning: parameters:1: unknown key \"Desired_sensitivty\" (did you mean "
            "\"Desired_sensitivity\"?); the line is ignored\n"
            "varnik: warning: parameters:2: unknown key \"Cross_validate_parameters\" (did you "
            "mean \"Cross-validate parameters\"?); the line is ignored\n"
            "varnik: warning: parameters:3: Recognition_method: \"PWN\" is none of SVM, kNN, "
            "C45, STOP, EasyEnsemble, BalanceCascadeEnsemble, PWM, NeuralNet; the default STOP "
            "is used\n"
            "varnik: warning: parameters:4: Mask_file: the value must stand in double quotes "
            "(\"m.mask\"); it is ignored and the default is used\n"
            "varnik: warning: parameters:5: Write_AUC_data: \"yes\" is neither true nor false "
            "(only a first letter T or F counts); read as false\n"
            "varnik: warning: parameters:6: K: \"seven\" is not a number; read as 0\n"
            "varnik: warning: parameters:7: K is given again; the value on line 6 is used\n");
  EXPECT_NE(LoadChecked("Recognition_method: NeuralNet\n")
                .find("parameters:1: Eta is 0: the neural network keeps its random initial "
                      "weights and does not learn"),
            std::string::npos);
  EXPECT_NE(LoadChecked("Recognition_method: kNN\nMaximum_k: 2\n")
                .find("parameters:2: Minimum_k (3) is above Maximum_k (2): the k search sets K "
                      "to 0"),
            std::string::npos);
  // A clean file, and every default, warn of nothing.
  EXPECT_EQ(LoadChecked("Recognition_method: kNN\nK: 5\nKernel: 6\nSigma (WDS): 0.2\n"), "");
  EXPECT_EQ(LoadChecked(""), "");
}

TEST(ParametersTest, MissingOrUnreadableFile) {
  Settings s;
  OutputFile out;
  try {
    LoadGlobalParameters("/nonexistent/params", s, out);
    FAIL();
  } catch (const VarnikError& e) {
    EXPECT_EQ(e.code(), 1);
    EXPECT_STREQ(e.what(), "Cannot open parameters file");
  }
  testing::TempDir dir;  // a directory opens but cannot be read
  try {
    LoadGlobalParameters(dir.path(), s, out);
    FAIL();
  } catch (const VarnikError& e) {
    EXPECT_EQ(e.code(), 4);
    EXPECT_STREQ(e.what(), "LoadString");
  }
}

TEST(ParametersTest, EveryKeyIsInTheManPage) {
  const std::string page = testing::ReadFile(std::string(VARNIK_SOURCE_DIR) + "/doc/varnik.1");
  ASSERT_FALSE(page.empty());
  const std::vector<std::string> keys = ParameterKeys();
  EXPECT_EQ(keys.size(), 55u);
  for (const std::string& key : keys) {
    // Hyphens stand escaped in the page's source.
    std::string escaped;
    for (char c : key) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_TRUE(page.find(key) != std::string::npos || page.find(escaped) != std::string::npos)
        << key;
  }
}

}  // namespace
}  // namespace varnik
