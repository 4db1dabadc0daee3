#include "driver/parameters.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

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

namespace {

enum class Kind { kString, kWords, kBoolean, kInteger, kReal };

struct KeySpec {
  const char* name;
  Kind kind;
  const std::vector<std::string>* words = nullptr;  // for kWords
  int default_word = 0;
};

// Every key of the parameters file, in the order of the echo.
const std::vector<KeySpec>& KnownKeys() {
  static const std::vector<KeySpec> keys = [] {
    const Settings d;
    const auto* methods = &RecognitionMethodWords();
    return std::vector<KeySpec>{
        {"Data_directory", Kind::kString},
        {"Imbalance_method", Kind::kWords, &ImbalanceMethodWords(), d.Imbalance_method},
        {"Evaluate_training_error", Kind::kBoolean},
        {"Offset_to_start", Kind::kInteger},
        {"Sequence_length", Kind::kInteger},
        {"Use_protein_sequence", Kind::kBoolean},
        {"Mask_file", Kind::kString},
        {"Verbose", Kind::kInteger},
        {"Seed", Kind::kInteger},
        {"Recognition_method", Kind::kWords, methods, d.R_method},
        {"Desired_sensitivity", Kind::kReal},
        {"Cross-validate parameters", Kind::kBoolean},
        {"Write_AUC_data", Kind::kBoolean},
        {"FS_algorithm", Kind::kWords, &FeatureSelectionWords(), d.FSAlgorithm},
        {"RFE_subset_size", Kind::kInteger},
        {"FS_percent_to_keep", Kind::kReal},
        {"CV_folds", Kind::kInteger},
        {"FS_min_percent", Kind::kReal},
        {"Exit_after_FS", Kind::kBoolean},
        {"Stacking", Kind::kBoolean},
        {"Stacking_methods", Kind::kInteger},
        {"Scale_stacking_inputs", Kind::kBoolean},
        {"Stacker", Kind::kWords, &StackerWords(), d.Stacker},
        {"Trials", Kind::kInteger},
        {"Prune_tree", Kind::kBoolean},
        {"Soften_thresholds", Kind::kBoolean},
        {"Kernel", Kind::kInteger},
        {"Sigma (WDS)", Kind::kReal},
        {"Gamma", Kind::kReal},
        {"C", Kind::kReal},
        {"Degree (WD)", Kind::kInteger},
        {"K", Kind::kInteger},
        {"Minimum_k", Kind::kInteger},
        {"Maximum_k", Kind::kInteger},
        {"KNN_weight_by_distance", Kind::kBoolean},
        {"Base_learner", Kind::kWords, methods, d.Base_learner},
        {"Ensemble_T", Kind::kInteger},
        {"Ensemble_s_i", Kind::kInteger},
        {"SMOTE_k", Kind::kInteger},
        {"SMOTE_N", Kind::kReal},
        {"NN_hidden_nodes", Kind::kInteger},
        {"N_epochs", Kind::kInteger},
        {"Epoch_size", Kind::kInteger},
        {"Eta", Kind::kReal},
        {"Alpha", Kind::kReal},
        {"Htan_A", Kind::kReal},
        {"Htan_B", Kind::kReal},
        {"Flat_spot", Kind::kReal},
        {"GA_alpha", Kind::kReal},
        {"GA_mutation", Kind::kReal},
        {"GA_LS_mutation", Kind::kReal},
        {"GA_bit_mutation", Kind::kReal},
        {"GA_1_probability", Kind::kReal},
        {"GA_population_size", Kind::kInteger},
        {"GA_generations", Kind::kInteger},
    };
  }();
  return keys;
}

bool LineHasKey(const std::string& line, const std::string& key) {
  return line.size() > key.size() && line[key.size()] == ':' &&
         strncasecmp(line.c_str(), key.c_str(), key.size()) == 0;
}

// Lower case, with '-', ' ' and '_' alike: how far apart two key names look.
std::string Normalised(const std::string& name) {
  std::string n;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    n.push_back(c == '-' || c == ' ' ? '_' : static_cast<char>(std::tolower(u)));
  }
  return n;
}

// The edit distance of a and b when it is below limit, else limit: a row
// whose every entry has reached the limit ends the count.
size_t EditDistanceBelow(const std::string& a, const std::string& b, size_t limit) {
  const size_t longer = std::max(a.size(), b.size()), shorter = std::min(a.size(), b.size());
  if (longer - shorter >= limit) return limit;  // at least the difference in length
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    size_t least = row[0];
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
      least = std::min(least, row[j]);
    }
    if (least >= limit) return limit;
  }
  return std::min(row[b.size()], limit);
}

// The known key nearest to name, or null when none is near.
const char* ClosestKey(const std::string& name) {
  const std::string n = Normalised(name);
  const char* best = nullptr;
  size_t best_distance = std::max<size_t>(2, n.size() / 3) + 1;
  for (const KeySpec& k : KnownKeys()) {
    // Only distances below the best so far matter: a line far longer than
    // any key is not compared letter by letter.
    const size_t d = EditDistanceBelow(n, Normalised(k.name), best_distance);
    if (d < best_distance) {
      best_distance = d;
      best = k.name;
    }
  }
  return best;
}

std::string Trimmed(const std::string& text) {
  const size_t a = text.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  const size_t b = text.find_last_not_of(" \t\r");
  return text.substr(a, b - a + 1);
}

// The value as the word and boolean readers see it: from the second
// character after the colon. Without a blank after the colon that is not
// the value as written, and the message says so.
std::string ReadAs(const std::string& line, const std::string& key, const std::string& value) {
  const size_t after = key.size() + 1;
  const bool glued = after < line.size() && line[after] != ' ' && line[after] != '\t';
  if (!glued) return "\"" + value + "\"";
  return "\"" + value + "\" is read from its second character (there is no blank after the " +
         "colon), and \"" + Trimmed(ValueAfterSeparator(line, key)) + "\"";
}

}  // namespace

ParameterFile ParameterFile::Read(const std::string& path, const char* reader_name) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) {
    Diagnose("cannot open parameters file " + path + ": " + SystemReason());
    OnErrorExit(kUnspecifiedError, "Cannot open parameters file");
  }
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
  const bool failed = std::ferror(f) != 0;
  const std::string reason = failed ? SystemReason() : "";
  std::fclose(f);
  if (failed) {
    Diagnose("cannot read parameters file " + path + ": " + reason);
    OnErrorExit(kReadFailed, reader_name);
  }
  ParameterFile file = FromText(text);
  file.source_ = path;
  return file;
}

ParameterFile ParameterFile::FromText(const std::string& text) {
  ParameterFile file;
  file.lines_ = SplitLines(text);
  return file;
}

const std::string* ParameterFile::Find(const std::string& key) const {
  for (const std::string& line : lines_) {
    if (LineHasKey(line, key)) return &line;
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

void WarnAboutParameters(const ParameterFile& file, const Settings& s) {
  const std::vector<std::string>& lines = file.lines();
  auto at = [&](size_t line) { return file.source() + ":" + std::to_string(line + 1) + ": "; };
  std::vector<size_t> first_line(KnownKeys().size(), std::string::npos);
  // Nearest keys are looked for on the first unknown keys only: a file that
  // is no parameters file at all gets its warnings without the search.
  int suggestions_left = 20;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::string trimmed = Trimmed(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    size_t key = 0;
    while (key < KnownKeys().size() && !LineHasKey(line, KnownKeys()[key].name)) ++key;
    if (key == KnownKeys().size()) {
      const size_t colon = line.find(':');
      const std::string name = line.substr(0, colon);
      const char* closest = suggestions_left-- > 0 ? ClosestKey(Trimmed(name)) : nullptr;
      Warn(at(i) + "unknown key \"" + name + "\"" +
           (closest != nullptr ? std::string(" (did you mean \"") + closest + "\"?)" : "") +
           (colon == std::string::npos ? ": a line reads \"Key: value\"" : "") +
           "; the line is ignored");
      continue;
    }
    const KeySpec& known = KnownKeys()[key];
    if (first_line[key] != std::string::npos) {
      Warn(at(i) + known.name + " is given again; the value on line " +
           std::to_string(first_line[key] + 1) + " is used");
      continue;
    }
    first_line[key] = i;
    const std::string key_name = known.name;
    const std::string value = Trimmed(line.substr(key_name.size() + 1));
    const char* separated = ValueAfterSeparator(line, key_name);
    switch (known.kind) {
      case Kind::kString:
        if (std::count(line.begin(), line.end(), '"') < 2) {
          Warn(at(i) + key_name + ": the value must stand in double quotes (\"" + value +
               "\"); it is ignored and the default is used");
        }
        break;
      case Kind::kWords: {
        bool matched = false;
        for (const std::string& w : *known.words) {
          matched |= strncasecmp(separated, w.c_str(), w.size()) == 0;
        }
        if (!matched) {
          std::string all;
          for (const std::string& w : *known.words) all += (all.empty() ? "" : ", ") + w;
          Warn(at(i) + key_name + ": " + ReadAs(line, key_name, value) + " is none of " + all +
               "; the default " + (*known.words)[known.default_word] + " is used");
        }
        break;
      }
      case Kind::kBoolean: {
        const char c = *separated;
        if (!(c == 'T' || c == 't' || c == 'F' || c == 'f')) {
          Warn(at(i) + key_name + ": " + ReadAs(line, key_name, value) +
               " is neither true nor false (only a first letter T or F counts); read as false");
        }
        break;
      }
      case Kind::kInteger: {
        const char* text = AfterColon(line, key_name);
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(text, &end, 10);
        if (end == text) {
          Warn(at(i) + key_name + ": \"" + value + "\" is not a number; read as 0");
        } else if (errno == ERANGE || n > INT_MAX || n < INT_MIN) {
          Warn(at(i) + key_name + ": \"" + value + "\" is out of range; read as " +
               std::to_string(n < 0 ? INT_MIN : INT_MAX));
        } else if (!Trimmed(end).empty()) {
          Warn(at(i) + key_name + ": \"" + value + "\" is not a whole number; read as " +
               std::to_string(n));
        }
        break;
      }
      case Kind::kReal: {
        const char* text = AfterColon(line, key_name);
        char* end = nullptr;
        std::strtod(text, &end);
        if (end == text) {
          Warn(at(i) + key_name + ": \"" + value + "\" is not a number; read as 0");
        }
        break;
      }
    }
  }
  // Settings that run but cannot do what they are there for.
  auto line_of = [&](const char* key, const char* otherwise) {
    for (const char* k : {key, otherwise}) {
      for (size_t i = 0; i < lines.size(); ++i) {
        if (LineHasKey(lines[i], k)) return at(i);
      }
    }
    return file.source() + ": ";
  };
  const bool network = s.R_method == kNeuralNet || (s.Stacking && (s.Stacking_methods & 256));
  if (network && s.Eta == 0) {
    Warn(line_of("Eta", "Recognition_method") +
         "Eta is 0: the neural network keeps its random initial weights and does not learn");
  }
  const bool k_search =
      s.CV_parameters &&
      (s.R_method == kKNN || (s.Stacking && ((s.Stacking_methods & 64) || s.Stacker == kKNN)));
  if (k_search && s.Min_k > s.Max_k) {
    Warn(line_of("Minimum_k", "Maximum_k") + "Minimum_k (" + std::to_string(s.Min_k) +
         ") is above Maximum_k (" + std::to_string(s.Max_k) + "): the k search sets K to 0");
  }
}

void CheckParameterValues(const ParameterFile& file, const Settings& s) {
  auto refuse = [](const std::string& message) { OnErrorExit(kUnspecifiedError, message); };
  const std::pair<const char*, float> reals[] = {
      {"Desired_sensitivity", s.Sensitivity},
      {"FS_percent_to_keep", s.FS_percent_to_keep},
      {"FS_min_percent", s.FS_min_percent},
      {s.Kernel == 6 ? "Sigma (WDS)" : "Gamma", s.Gamma},
      {"C", s.C},
      {"SMOTE_N", s.Smote_N},
      {"Eta", s.Eta},
      {"Alpha", s.Alpha},
      {"Htan_A", s.Htan_A},
      {"Htan_B", s.Htan_B},
      {"Flat_spot", s.Flat_spot},
      {"GA_alpha", s.GAFS_alpha},
      {"GA_mutation", s.GAFS_mutation},
      {"GA_LS_mutation", s.GAFS_lsmutation},
      {"GA_bit_mutation", s.GAFS_bit_mutation},
      {"GA_1_probability", s.GAFS_set_probability},
  };
  for (const auto& [name, value] : reals) {
    if (!std::isfinite(value)) {
      refuse(std::string(name) + " must be a finite number, not " + std::to_string(value));
    }
  }
  if (!(s.Sensitivity >= 0 && s.Sensitivity <= 1)) {
    refuse("Desired_sensitivity must be between 0 and 1, not " + std::to_string(s.Sensitivity));
  }
  // Trials is kept in 16 bits: the value as written is checked.
  if (const std::string* line = file.Find("Trials")) {
    const long trials = std::strtol(AfterColon(*line, "Trials"), nullptr, 10);
    if (trials < 1) refuse("Trials must be at least 1");
    if (trials > 32767) refuse("Trials must be at most 32767, not " + std::to_string(trials));
  }
  const bool network = s.R_method == kNeuralNet || (s.Stacking && (s.Stacking_methods & 256));
  if (network && s.Epoch_size < 1) {
    refuse("Epoch_size must be at least 1 for the neural network, not " +
           std::to_string(s.Epoch_size));
  }
  if (network && s.N_epochs < 0) {
    refuse("N_epochs must not be negative, not " + std::to_string(s.N_epochs));
  }
  // Values with which a recogniser would give one score to every window.
  if (network && s.NN_hidden_nodes < 1) {
    refuse("NN_hidden_nodes must be at least 1 for the neural network, not " +
           std::to_string(s.NN_hidden_nodes));
  }
  if (network && s.Htan_A == 0) {
    refuse("Htan_A must not be 0 for the neural network: every output would be 0");
  }
  const bool fixed_k =
      !s.CV_parameters &&
      (s.R_method == kKNN || (s.Stacking && ((s.Stacking_methods & 64) || s.Stacker == kKNN)));
  if (fixed_k && s.K < 1) {
    refuse("K must be at least 1 for the k-NN without the k search, not " + std::to_string(s.K));
  }
  const bool ensembles = s.R_method == kEasyEnsemble || s.R_method == kBalanceCascadeEnsemble ||
                         (s.Stacking && (s.Stacking_methods & (16 | 32)));
  if (ensembles && s.Ensemble_T < 1) {
    refuse("Ensemble_T must be at least 1, not " + std::to_string(s.Ensemble_T));
  }
  if (ensembles && s.Easy_s_i < 1) {
    refuse("Ensemble_s_i must be at least 1, not " + std::to_string(s.Easy_s_i));
  }
  if (s.FSAlgorithm == kFSRFE && s.RFE_subset_size < 1) {
    refuse("RFE_subset_size must be at least 1, not " + std::to_string(s.RFE_subset_size));
  }
  if (s.FSAlgorithm == kFSGA && (s.GAFS_popsize < 2 || s.GAFS_popsize % 2 != 0)) {
    refuse("GA_population_size must be even and at least 2, not " + std::to_string(s.GAFS_popsize));
  }
  if (s.FSAlgorithm == kFSGA && s.GAFS_generations < 0) {
    refuse("GA_generations must not be negative, not " + std::to_string(s.GAFS_generations));
  }
  if (s.Imbalance_method == kSmote && s.Smote_k < 0) {
    refuse("SMOTE_k must not be negative, not " + std::to_string(s.Smote_k));
  }
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
    std::fputs("Percent to keep above 100%, corrected\n", s.messages_on_stderr ? stderr : stdout);
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
