#include "driver/parameters.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <utility>

#include "core/error.h"
#include "core/model_text.h"
#include "learners/methods.h"

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

// Which runs a value matters to.
bool UsesNetwork(const Settings& s) { return Trains(s, kNeuralNet); }
bool UsesEnsembles(const Settings& s) {
  return Trains(s, kEasyEnsemble) || Trains(s, kBalanceCascadeEnsemble);
}
bool UsesKnn(const Settings& s) { return Trains(s, kKNN) || (s.Stacking && s.Stacker == kKNN); }
bool UsesFixedK(const Settings& s) { return !s.CV_parameters && UsesKnn(s); }
bool UsesKSearch(const Settings& s) { return s.CV_parameters && UsesKnn(s); }

// A whole-number bound: "<key> must be at least <min><purpose>, not <value>"
// ("must not be negative" for a minimum of 0), for the runs it applies to.
struct Bound {
  int min = INT_MIN;
  const char* purpose = "";
  bool (*applies)(const Settings&) = nullptr;
};

// One key of the parameters file: its kind, the setting it sets (one member
// pointer, by kind), the words of an enumeration, when it is read at all,
// and its check.
struct KeyEntry {
  KeyEntry(const char* k, Kind t) : key(k), kind(t) {}
  const char* key;
  Kind kind;
  std::string Settings::*text = nullptr;
  int Settings::*whole = nullptr;  // kInteger and kWords
  short Settings::*small = nullptr;
  float Settings::*real = nullptr;
  bool Settings::*flag = nullptr;
  const std::vector<std::string>* words = nullptr;
  // Read only when this holds of the settings read so far (the kernel's
  // width has two keys); its default then, when not Settings' own.
  bool (*read_when)(const Settings&) = nullptr;
  float read_default = 0;
  bool own_default = false;
  Bound bound;
  // A further check: the message of a value that can only give garbage, or
  // "" (file for the value as written).
  std::string (*check)(const Settings&, const ParameterFile&, const std::string& key) = nullptr;
  // A value that runs but cannot do what it is there for: the warning, or "",
  // at the key's line, else at the line of the key setting warn_fallback.
  std::string (*warn)(const Settings&) = nullptr;
  int Settings::*warn_fallback = nullptr;
};

KeyEntry Text(const char* key, std::string Settings::*m) {
  KeyEntry p{key, Kind::kString};
  p.text = m;
  return p;
}
KeyEntry Words(const char* key, int Settings::*m, const std::vector<std::string>& words) {
  KeyEntry p{key, Kind::kWords};
  p.whole = m;
  p.words = &words;
  return p;
}
KeyEntry Flag(const char* key, bool Settings::*m) {
  KeyEntry p{key, Kind::kBoolean};
  p.flag = m;
  return p;
}
KeyEntry Whole(const char* key, int Settings::*m, Bound bound = {}) {
  KeyEntry p{key, Kind::kInteger};
  p.whole = m;
  p.bound = bound;
  return p;
}
KeyEntry Real(const char* key, float Settings::*m) {
  KeyEntry p{key, Kind::kReal};
  p.real = m;
  return p;
}
template <typename F>
KeyEntry Checked(KeyEntry p, F check) {
  p.check = check;
  return p;
}
template <typename F>
KeyEntry Warned(KeyEntry p, int Settings::*fallback, F warn) {
  p.warn = warn;
  p.warn_fallback = fallback;
  return p;
}

std::string Shown(float v) { return std::to_string(v); }

std::string KeyOf(int Settings::*m) { return ParameterKey(m); }
std::string KeyOf(float Settings::*m) { return ParameterKey(m); }

// Every key of the parameters file, in the order of the echo.
const std::vector<KeyEntry>& KnownKeys() {
  static const std::vector<KeyEntry> keys = [] {
    using S = Settings;
    const auto& methods = RecognitionMethodWords();
    KeyEntry trials{"Trials", Kind::kInteger};
    trials.small = &S::TRIALS;
    // Trials is kept in 16 bits: the value as written is checked.
    trials.check = [](const Settings&, const ParameterFile& f, const std::string& key) {
      const std::string* line = f.Find(key);
      if (line == nullptr) return std::string();
      const long t = std::strtol(AfterColon(*line, key), nullptr, 10);
      if (t < 1) return key + " must be at least 1";
      if (t > 32767) return key + " must be at most 32767, not " + std::to_string(t);
      return std::string();
    };
    KeyEntry sigma = Real("Sigma (WDS)", &S::Gamma);
    sigma.read_when = [](const Settings& s) { return s.Kernel == 6; };
    sigma.read_default = 0.5f;
    sigma.own_default = true;
    KeyEntry gamma = Real("Gamma", &S::Gamma);
    gamma.read_when = [](const Settings& s) { return s.Kernel != 6; };
    return std::vector<KeyEntry>{
        Text("Data_directory", &S::Datad),
        Words("Imbalance_method", &S::Imbalance_method, ImbalanceMethodWords()),
        Flag("Evaluate_training_error", &S::Eval_training),
        Whole("Offset_to_start", &S::Offset),
        Whole("Sequence_length", &S::Length),
        Flag("Use_protein_sequence", &S::Use_protein_sequence),
        Text("Mask_file", &S::Mask_file),
        Whole("Verbose", &S::Verbose),
        Whole("Seed", &S::Seed),
        Words("Recognition_method", &S::R_method, methods),
        Checked(Real("Desired_sensitivity", &S::Sensitivity),
                [](const Settings& s, const ParameterFile&, const std::string& key) {
                  return s.Sensitivity >= 0 && s.Sensitivity <= 1
                             ? std::string()
                             : key + " must be between 0 and 1, not " + Shown(s.Sensitivity);
                }),
        Flag("Cross-validate parameters", &S::CV_parameters),
        Flag("Write_AUC_data", &S::Write_AUC_data),
        Words("FS_algorithm", &S::FSAlgorithm, FeatureSelectionWords()),
        Whole("RFE_subset_size", &S::RFE_subset_size,
              {1, "", [](const Settings& s) { return s.FSAlgorithm == kFSRFE; }}),
        Real("FS_percent_to_keep", &S::FS_percent_to_keep),
        Whole("CV_folds", &S::CV_folds),
        Real("FS_min_percent", &S::FS_min_percent),
        Flag("Exit_after_FS", &S::Exit_after_FS),
        Flag("Stacking", &S::Stacking),
        Whole("Stacking_methods", &S::Stacking_methods),
        Flag("Scale_stacking_inputs", &S::Scale),
        Words("Stacker", &S::Stacker, StackerWords()),
        trials,
        Flag("Prune_tree", &S::Prune_tree),
        Flag("Soften_thresholds", &S::Soften_thresholds),
        Whole("Kernel", &S::Kernel),
        sigma,
        gamma,
        Real("C", &S::C),
        Whole("Degree (WD)", &S::Degree),
        Whole("K", &S::K, {1, " for the k-NN without the k search", UsesFixedK}),
        Warned(Whole("Minimum_k", &S::Min_k), &S::Max_k,
               [](const Settings& s) {
                 return UsesKSearch(s) && s.Min_k > s.Max_k
                            ? KeyOf(&S::Min_k) + " (" + std::to_string(s.Min_k) + ") is above " +
                                  KeyOf(&S::Max_k) + " (" + std::to_string(s.Max_k) +
                                  "): the k search sets K to 0"
                            : std::string();
               }),
        // The k search on windows keeps one table of calls per k.
        Checked(Whole("Maximum_k", &S::Max_k),
                [](const Settings& s, const ParameterFile&, const std::string& key) {
                  const long long span = static_cast<long long>(s.Max_k) - s.Min_k + 1;
                  return s.CV_parameters && Trains(s, kKNN) && span > 1000000
                             ? KeyOf(&S::Min_k) + " .. " + key +
                                   " spans more than 1000000 values of k"
                             : std::string();
                }),
        Flag("KNN_weight_by_distance", &S::KNN_weight_by_distance),
        Words("Base_learner", &S::Base_learner, methods),
        Whole("Ensemble_T", &S::Ensemble_T, {1, "", UsesEnsembles}),
        Whole("Ensemble_s_i", &S::Easy_s_i, {1, "", UsesEnsembles}),
        Whole("SMOTE_k", &S::Smote_k,
              {0, "", [](const Settings& s) { return s.Imbalance_method == kSmote; }}),
        Real("SMOTE_N", &S::Smote_N),
        Whole("NN_hidden_nodes", &S::NN_hidden_nodes, {1, " for the neural network", UsesNetwork}),
        Whole("N_epochs", &S::N_epochs, {0, "", UsesNetwork}),
        Whole("Epoch_size", &S::Epoch_size, {1, " for the neural network", UsesNetwork}),
        Warned(Real("Eta", &S::Eta), &S::R_method,
               [](const Settings& s) {
                 return UsesNetwork(s) && s.Eta == 0
                            ? KeyOf(&S::Eta) +
                                  " is 0: the neural network keeps its random initial "
                                  "weights and does not learn"
                            : std::string();
               }),
        Real("Alpha", &S::Alpha),
        Checked(Real("Htan_A", &S::Htan_A),
                [](const Settings& s, const ParameterFile&, const std::string& key) {
                  return UsesNetwork(s) && s.Htan_A == 0
                             ? key +
                                   " must not be 0 for the neural network: every output would be 0"
                             : std::string();
                }),
        Real("Htan_B", &S::Htan_B),
        Real("Flat_spot", &S::Flat_spot),
        Real("GA_alpha", &S::GAFS_alpha),
        Real("GA_mutation", &S::GAFS_mutation),
        Real("GA_LS_mutation", &S::GAFS_lsmutation),
        Real("GA_bit_mutation", &S::GAFS_bit_mutation),
        Real("GA_1_probability", &S::GAFS_set_probability),
        Checked(Whole("GA_population_size", &S::GAFS_popsize),
                [](const Settings& s, const ParameterFile&, const std::string& key) {
                  return s.FSAlgorithm == kFSGA && (s.GAFS_popsize < 2 || s.GAFS_popsize % 2 != 0)
                             ? key + " must be even and at least 2, not " +
                                   std::to_string(s.GAFS_popsize)
                             : std::string();
                }),
        Whole("GA_generations", &S::GAFS_generations,
              {0, "", [](const Settings& s) { return s.FSAlgorithm == kFSGA; }}),
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
  for (const KeyEntry& k : KnownKeys()) {
    // Only distances below the best so far matter: a line far longer than
    // any key is not compared letter by letter.
    const size_t d = EditDistanceBelow(n, Normalised(k.key), best_distance);
    if (d < best_distance) {
      best_distance = d;
      best = k.key;
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

ParameterFile ParameterFile::FromText(const std::string& text, const std::string& source) {
  ParameterFile file;
  file.lines_ = SplitLines(text);
  file.source_ = source;
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

const std::vector<std::string>& RecognitionMethodWords() { return MethodWords(); }

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

void WarnAboutParameters(const ParameterFile& file, const Settings& s,
                         const std::function<void(const std::string&)>& line_warning) {
  const Settings d;
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
    while (key < KnownKeys().size() && !LineHasKey(line, KnownKeys()[key].key)) ++key;
    if (key == KnownKeys().size()) {
      const size_t colon = line.find(':');
      const std::string name = line.substr(0, colon);
      const char* closest = suggestions_left-- > 0 ? ClosestKey(Trimmed(name)) : nullptr;
      line_warning(at(i) + "unknown key \"" + name + "\"" +
                   (closest != nullptr ? std::string(" (did you mean \"") + closest + "\"?)" : "") +
                   (colon == std::string::npos ? ": a line reads \"Key: value\"" : "") +
                   "; the line is ignored");
      continue;
    }
    const KeyEntry& known = KnownKeys()[key];
    if (first_line[key] != std::string::npos) {
      line_warning(at(i) + known.key + " is given again; the value on line " +
                   std::to_string(first_line[key] + 1) + " is used");
      continue;
    }
    first_line[key] = i;
    const std::string key_name = known.key;
    const std::string value = Trimmed(line.substr(key_name.size() + 1));
    const char* separated = ValueAfterSeparator(line, key_name);
    switch (known.kind) {
      case Kind::kString:
        if (std::count(line.begin(), line.end(), '"') < 2) {
          line_warning(at(i) + key_name + ": the value must stand in double quotes (\"" + value +
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
          line_warning(at(i) + key_name + ": " + ReadAs(line, key_name, value) + " is none of " +
                       all + "; the default " + (*known.words)[d.*known.whole] + " is used");
        }
        break;
      }
      case Kind::kBoolean: {
        const char c = *separated;
        if (!(c == 'T' || c == 't' || c == 'F' || c == 'f')) {
          line_warning(
              at(i) + key_name + ": " + ReadAs(line, key_name, value) +
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
          line_warning(at(i) + key_name + ": \"" + value + "\" is not a number; read as 0");
        } else if (errno == ERANGE || n > INT_MAX || n < INT_MIN) {
          line_warning(at(i) + key_name + ": \"" + value + "\" is out of range; read as " +
                       std::to_string(n < 0 ? INT_MIN : INT_MAX));
        } else if (!Trimmed(end).empty()) {
          line_warning(at(i) + key_name + ": \"" + value + "\" is not a whole number; read as " +
                       std::to_string(n));
        }
        break;
      }
      case Kind::kReal: {
        const char* text = AfterColon(line, key_name);
        char* end = nullptr;
        std::strtod(text, &end);
        if (end == text) {
          line_warning(at(i) + key_name + ": \"" + value + "\" is not a number; read as 0");
        }
        break;
      }
    }
  }
  // Settings that run but cannot do what they are there for, at the line of
  // their key (or of the key they depend on).
  for (size_t k = 0; k < KnownKeys().size(); ++k) {
    const KeyEntry& p = KnownKeys()[k];
    if (p.warn == nullptr) continue;
    const std::string message = p.warn(s);
    if (message.empty()) continue;
    std::string where = file.source() + ": ";
    size_t fallback = KnownKeys().size();
    for (size_t j = 0; j < KnownKeys().size(); ++j) {
      if (p.warn_fallback != nullptr && KnownKeys()[j].whole == p.warn_fallback) fallback = j;
    }
    for (size_t candidate : {k, fallback}) {
      if (candidate < KnownKeys().size() && first_line[candidate] != std::string::npos) {
        where = at(first_line[candidate]);
        break;
      }
    }
    Warn(where + message);
  }
}

std::string ParameterLine(const std::string& key, const std::string& value) {
  for (const KeyEntry& known : KnownKeys()) {
    if (known.kind == Kind::kString && strcasecmp(known.key, key.c_str()) == 0) {
      return key + ": \"" + value + "\"";
    }
  }
  return key + ": " + value;
}

void CheckParameterValues(const ParameterFile& file, const Settings& s) {
  auto refuse = [](const std::string& message) { OnErrorExit(kUnspecifiedError, message); };
  for (const KeyEntry& p : KnownKeys()) {
    if (p.kind != Kind::kReal || (p.read_when != nullptr && !p.read_when(s))) continue;
    if (!std::isfinite(s.*p.real)) {
      refuse(std::string(p.key) + " must be a finite number, not " + std::to_string(s.*p.real));
    }
  }
  for (const KeyEntry& p : KnownKeys()) {
    const Bound& b = p.bound;
    if (p.whole != nullptr && b.applies != nullptr && b.applies(s) && s.*p.whole < b.min) {
      refuse(std::string(p.key) +
             (b.min == 0 ? std::string(" must not be negative")
                         : " must be at least " + std::to_string(b.min)) +
             b.purpose + ", not " + std::to_string(s.*p.whole));
    }
    if (p.check != nullptr) {
      const std::string message = p.check(s, file, p.key);
      if (!message.empty()) refuse(message);
    }
  }
}

void LoadGlobalParameters(const std::string& path, Settings& settings, OutputFile& report) {
  // A read failure is reported under the name of the first reader to run.
  LoadGlobalParameters(ParameterFile::Read(path, "LoadString"), settings, report);
}

namespace {

// Every key read (or its default) into s, echoed to out.
void LoadKeys(const ParameterFile& f, Settings& s, OutputFile& out) {
  const Settings d;  // defaults
  out.Printf("Parameters (* = default) \n----------\n");
  for (const KeyEntry& p : KnownKeys()) {
    if (p.read_when != nullptr && !p.read_when(s)) continue;
    switch (p.kind) {
      case Kind::kString:
        s.*p.text = LoadString(f, p.key, d.*p.text, out);
        break;
      case Kind::kWords:
        s.*p.whole = LoadEnumerate(f, p.key, *p.words, d.*p.whole, out);
        break;
      case Kind::kBoolean:
        s.*p.flag = LoadBoolean(f, p.key, d.*p.flag, out);
        break;
      case Kind::kInteger:
        if (p.small != nullptr) {
          s.*p.small = static_cast<short>(LoadInteger(f, p.key, d.*p.small, out));
        } else {
          s.*p.whole = LoadInteger(f, p.key, d.*p.whole, out);
        }
        break;
      case Kind::kReal:
        s.*p.real = LoadReal(f, p.key, p.own_default ? p.read_default : d.*p.real, out);
        break;
    }
  }
}

}  // namespace

Settings SettingsAsWritten(const ParameterFile& file) {
  Settings s;
  OutputFile sink;  // never opened: the echo goes nowhere
  LoadKeys(file, s, sink);
  return s;
}

std::string ParameterKey(int Settings::*m) {
  for (const KeyEntry& k : KnownKeys()) {
    if (k.whole == m) return k.key;
  }
  return "?";
}

std::string ParameterKey(float Settings::*m) {
  for (const KeyEntry& k : KnownKeys()) {
    if (k.real == m) return k.key;
  }
  return "?";
}

std::vector<std::string> SettingsAsLines(const Settings& s) {
  std::vector<std::string> lines;
  for (const KeyEntry& p : KnownKeys()) {
    if (p.read_when != nullptr && !p.read_when(s)) continue;
    std::string value;
    switch (p.kind) {
      case Kind::kString:
        value = "\"" + s.*p.text + "\"";
        break;
      case Kind::kWords: {
        const int code = s.*p.whole;
        // A code without a word (stacking's own) is left to the default.
        if (code < 0 || code >= static_cast<int>(p.words->size())) continue;
        value = (*p.words)[static_cast<size_t>(code)];
        break;
      }
      case Kind::kBoolean:
        value = s.*p.flag ? "T" : "F";
        break;
      case Kind::kInteger:
        value = std::to_string(p.small != nullptr ? s.*p.small : s.*p.whole);
        break;
      case Kind::kReal:
        value = ModelWriter::Of(s.*p.real);
        break;
    }
    lines.push_back(std::string(p.key) + ": " + value);
  }
  return lines;
}

std::vector<std::string> ParameterKeys() {
  std::vector<std::string> keys;
  for (const KeyEntry& p : KnownKeys()) keys.emplace_back(p.key);
  return keys;
}

void LoadGlobalParameters(const ParameterFile& f, Settings& s, OutputFile& out) {
  LoadKeys(f, s, out);
  if (s.Stacking) s.R_method = kStackingMethod;

  // Consistency rules.
  if (IsEnsemble(s.R_method)) {
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
  if (s.Stacking && !StacksCountedComponents(s)) {
    OnErrorExit(kUnspecifiedError, "No stacked classifiers");
  }
}

}  // namespace varnik
