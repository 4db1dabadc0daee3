#include "driver/parameters.h"

#include <strings.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/error.h"

namespace varnik {

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.emplace_back(text, start, end - start);
    start = end + 1;
  }
  return lines;
}

// The text that follows the key's colon.
const char* AfterColon(const std::string& line, const std::string& key) {
  return line.c_str() + key.size() + 1;
}

// The text starting two characters after the colon (one separator skipped),
// or "" when the line ends before that.
const char* ValueAfterSeparator(const std::string& line, const std::string& key) {
  const size_t at = key.size() + 2;
  return at <= line.size() ? line.c_str() + at : "";
}

}  // namespace

ParameterFile ParameterFile::Read(const std::string& path, const char* reader_name) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) OnErrorExit(kUnspecifiedError, "Cannot open parameters file");
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) OnErrorExit(kReadFailed, reader_name);
  return FromText(text);
}

ParameterFile ParameterFile::FromText(const std::string& text) {
  ParameterFile file;
  file.lines_ = SplitLines(text);
  return file;
}

const std::string* ParameterFile::Find(const std::string& key) const {
  for (const std::string& line : lines_) {
    if (line.size() > key.size() && line[key.size()] == ':' &&
        strncasecmp(line.c_str(), key.c_str(), key.size()) == 0) {
      return &line;
    }
  }
  return nullptr;
}

std::string LoadString(const ParameterFile& file, const std::string& key,
                       const std::string& default_value, OutputFile& report) {
  if (const std::string* line = file.Find(key)) {
    const size_t open = line->find('"');
    const size_t close = open == std::string::npos ? open : line->find('"', open + 1);
    if (close != std::string::npos) {
      std::string value = line->substr(open + 1, close - open - 1);
      report.Printf("%s = \"%s\"\n", key.c_str(), value.c_str());
      return value;
    }
  }
  report.Printf("%s = \"%s\" (*)\n", key.c_str(), default_value.c_str());
  return default_value;
}

int LoadEnumerate(const ParameterFile& file, const std::string& key,
                  const std::vector<std::string>& words, int default_code, OutputFile& report) {
  if (const std::string* line = file.Find(key)) {
    const char* text = ValueAfterSeparator(*line, key);
    int code = default_code;
    for (size_t i = 0; i < words.size(); ++i) {
      if (strncasecmp(text, words[i].c_str(), words[i].size()) == 0) {
        code = static_cast<int>(i);
      }
    }
    report.Printf("%s = %s\n", key.c_str(), words[code].c_str());
    return code;
  }
  report.Printf("%s = %s (*)\n", key.c_str(), words[default_code].c_str());
  return default_code;
}

bool LoadBoolean(const ParameterFile& file, const std::string& key, bool default_value,
                 OutputFile& report) {
  if (const std::string* line = file.Find(key)) {
    const char c = *ValueAfterSeparator(*line, key);
    const bool value = c == 'T' || c == 't';
    report.Printf("%s = %s\n", key.c_str(), value ? "true" : "false");
    return value;
  }
  report.Printf("%s = %s (*)\n", key.c_str(), default_value ? "true" : "false");
  return default_value;
}

float LoadReal(const ParameterFile& file, const std::string& key, float default_value,
               OutputFile& report) {
  if (const std::string* line = file.Find(key)) {
    const float value = static_cast<float>(std::strtod(AfterColon(*line, key), nullptr));
    report.Printf("%s = %lf\n", key.c_str(), static_cast<double>(value));
    return value;
  }
  report.Printf("%s = %lf (*)\n", key.c_str(), static_cast<double>(default_value));
  return default_value;
}

int LoadInteger(const ParameterFile& file, const std::string& key, int default_value,
                OutputFile& report) {
  if (const std::string* line = file.Find(key)) {
    long value = std::strtol(AfterColon(*line, key), nullptr, 10);
    if (value > INT_MAX) value = INT_MAX;
    if (value < INT_MIN) value = INT_MIN;
    report.Printf("%s = %d\n", key.c_str(), static_cast<int>(value));
    return static_cast<int>(value);
  }
  report.Printf("%s = %d (*)\n", key.c_str(), default_value);
  return default_value;
}

const std::vector<std::string>& RecognitionMethodWords() {
  static const std::vector<std::string> words = {
      "SVM", "kNN", "C45", "STOP", "EasyEnsemble", "BalanceCascadeEnsemble", "PWM", "NeuralNet"};
  return words;
}

const std::vector<std::string>& ImbalanceMethodWords() {
  static const std::vector<std::string> words = {"NONE", "UNDERSAMPLING", "SMOTE"};
  return words;
}

const std::vector<std::string>& FeatureSelectionWords() {
  static const std::vector<std::string> words = {"NONE", "RFE", "GA"};
  return words;
}

const std::vector<std::string>& StackerWords() {
  static const std::vector<std::string> words = {"SVM", "kNN"};
  return words;
}

void LoadGlobalParameters(const std::string& path, Settings& settings, OutputFile& report) {
  // A read failure is reported under the name of the first reader to run.
  LoadGlobalParameters(ParameterFile::Read(path, "LoadString"), settings, report);
}

void LoadGlobalParameters(const ParameterFile& f, Settings& s, OutputFile& out) {
  const Settings d;  // defaults
  out.Printf("Parameters (* = default) \n----------\n");
  s.Datad = LoadString(f, "Data_directory", d.Datad, out);
  s.Imbalance_method =
      LoadEnumerate(f, "Imbalance_method", ImbalanceMethodWords(), d.Imbalance_method, out);
  s.Eval_training = LoadBoolean(f, "Evaluate_training_error", d.Eval_training, out);
  s.Offset = LoadInteger(f, "Offset_to_start", d.Offset, out);
  s.Length = LoadInteger(f, "Sequence_length", d.Length, out);
  s.Use_protein_sequence = LoadBoolean(f, "Use_protein_sequence", d.Use_protein_sequence, out);
  s.Mask_file = LoadString(f, "Mask_file", d.Mask_file, out);
  s.Verbose = LoadInteger(f, "Verbose", d.Verbose, out);
  s.Seed = LoadInteger(f, "Seed", d.Seed, out);
  s.R_method = LoadEnumerate(f, "Recognition_method", RecognitionMethodWords(), d.R_method, out);
  s.Sensitivity = LoadReal(f, "Desired_sensitivity", d.Sensitivity, out);
  s.CV_parameters = LoadBoolean(f, "Cross-validate parameters", d.CV_parameters, out);
  s.Write_AUC_data = LoadBoolean(f, "Write_AUC_data", d.Write_AUC_data, out);
  s.FSAlgorithm = LoadEnumerate(f, "FS_algorithm", FeatureSelectionWords(), d.FSAlgorithm, out);
  s.RFE_subset_size = LoadInteger(f, "RFE_subset_size", d.RFE_subset_size, out);
  s.FS_percent_to_keep = LoadReal(f, "FS_percent_to_keep", d.FS_percent_to_keep, out);
  s.CV_folds = LoadInteger(f, "CV_folds", d.CV_folds, out);
  s.FS_min_percent = LoadReal(f, "FS_min_percent", d.FS_min_percent, out);
  s.Exit_after_FS = LoadBoolean(f, "Exit_after_FS", d.Exit_after_FS, out);
  s.Stacking = LoadBoolean(f, "Stacking", d.Stacking, out);
  s.Stacking_methods = LoadInteger(f, "Stacking_methods", d.Stacking_methods, out);
  s.Scale = LoadBoolean(f, "Scale_stacking_inputs", d.Scale, out);
  s.Stacker = LoadEnumerate(f, "Stacker", StackerWords(), d.Stacker, out);
  if (s.Stacking) s.R_method = kStackingMethod;
  s.TRIALS = static_cast<short>(LoadInteger(f, "Trials", d.TRIALS, out));
  s.Prune_tree = LoadBoolean(f, "Prune_tree", d.Prune_tree, out);
  s.Soften_thresholds = LoadBoolean(f, "Soften_thresholds", d.Soften_thresholds, out);
  s.Kernel = LoadInteger(f, "Kernel", d.Kernel, out);
  if (s.Kernel == 6) {
    s.Gamma = LoadReal(f, "Sigma (WDS)", 0.5f, out);
  } else {
    s.Gamma = LoadReal(f, "Gamma", d.Gamma, out);
  }
  s.C = LoadReal(f, "C", d.C, out);
  s.Degree = LoadInteger(f, "Degree (WD)", d.Degree, out);
  s.K = LoadInteger(f, "K", d.K, out);
  s.Min_k = LoadInteger(f, "Minimum_k", d.Min_k, out);
  s.Max_k = LoadInteger(f, "Maximum_k", d.Max_k, out);
  s.KNN_weight_by_distance =
      LoadBoolean(f, "KNN_weight_by_distance", d.KNN_weight_by_distance, out);
  s.Base_learner = LoadEnumerate(f, "Base_learner", RecognitionMethodWords(), d.Base_learner, out);
  s.Ensemble_T = LoadInteger(f, "Ensemble_T", d.Ensemble_T, out);
  s.Easy_s_i = LoadInteger(f, "Ensemble_s_i", d.Easy_s_i, out);
  s.Smote_k = LoadInteger(f, "SMOTE_k", d.Smote_k, out);
  s.Smote_N = LoadReal(f, "SMOTE_N", d.Smote_N, out);
  s.NN_hidden_nodes = LoadInteger(f, "NN_hidden_nodes", d.NN_hidden_nodes, out);
  s.N_epochs = LoadInteger(f, "N_epochs", d.N_epochs, out);
  s.Epoch_size = LoadInteger(f, "Epoch_size", d.Epoch_size, out);
  s.Eta = LoadReal(f, "Eta", d.Eta, out);
  s.Alpha = LoadReal(f, "Alpha", d.Alpha, out);
  s.Htan_A = LoadReal(f, "Htan_A", d.Htan_A, out);
  s.Htan_B = LoadReal(f, "Htan_B", d.Htan_B, out);
  s.Flat_spot = LoadReal(f, "Flat_spot", d.Flat_spot, out);
  s.GAFS_alpha = LoadReal(f, "GA_alpha", d.GAFS_alpha, out);
  s.GAFS_mutation = LoadReal(f, "GA_mutation", d.GAFS_mutation, out);
  s.GAFS_lsmutation = LoadReal(f, "GA_LS_mutation", d.GAFS_lsmutation, out);
  s.GAFS_bit_mutation = LoadReal(f, "GA_bit_mutation", d.GAFS_bit_mutation, out);
  s.GAFS_set_probability = LoadReal(f, "GA_1_probability", d.GAFS_set_probability, out);
  s.GAFS_popsize = LoadInteger(f, "GA_population_size", d.GAFS_popsize, out);
  s.GAFS_generations = LoadInteger(f, "GA_generations", d.GAFS_generations, out);

  // Consistency rules.
  if (s.R_method == kEasyEnsemble || s.R_method == kBalanceCascadeEnsemble) {
    s.Imbalance_method = kImbalanceNone;
  }
  if (s.Base_learner != kSVM && s.Base_learner != kC45) {
    OnErrorExit(kUnspecifiedError, "Ensembles only with C4.5 or SVMs");
  }
  if (s.FSAlgorithm != kFSNone && s.R_method == kSTOP) {
    OnErrorExit(kUnspecifiedError, "Stop codon method does not accept feature selection");
  }
  if (s.FS_percent_to_keep > 1.0f) {
    s.FS_percent_to_keep = 1.0f;
    std::fputs("Percent to keep above 100%, corrected\n", stdout);
  }
  if (s.Use_protein_sequence) {
    if (!(s.R_method == kSVM && s.Kernel == 5)) {
      OnErrorExit(kUnspecifiedError, "Protein sequence only for string kernels");
    }
    s.CV_parameters = false;
  } else if (s.Kernel == 5 || s.Kernel == 6) {
    s.CV_parameters = false;
  }
  if (s.Smote_k == 0) {
    // Integer part of the percentage, divided by 100 (kept in range so that a
    // wild value cannot overflow the conversion).
    const float n = std::isfinite(s.Smote_N) ? std::clamp(s.Smote_N, -2.0e9f, 2.0e9f) : 0.0f;
    s.Smote_k = static_cast<int>(n) / 100;
  }
  if (s.Stacking && (s.Stacking_methods & 127) == 0) {
    OnErrorExit(kUnspecifiedError, "No stacked classifiers");
  }
}

}  // namespace varnik
