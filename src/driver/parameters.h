// The parameters file: "Key: value" lines, read once at the start of a run.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/output_file.h"
#include "core/settings.h"

namespace varnik {

// The lines of a parameters file, held in memory; every key search scans
// them from the start. Lines are read whole, and a last line without a line
// end counts like any other.
class ParameterFile {
 public:
  // Reads the file; code 1 "Cannot open parameters file" when it cannot be
  // opened, code 4 with reader_name when reading fails.
  static ParameterFile Read(const std::string& path, const char* reader_name);
  // Lines given as text, named source in messages.
  static ParameterFile FromText(const std::string& text, const std::string& source = "parameters");

  // The first line that starts with key + ":" (case-insensitive), or null.
  const std::string* Find(const std::string& key) const;

  const std::vector<std::string>& lines() const { return lines_; }
  // The file's path, or a name for a text given directly.
  const std::string& source() const { return source_; }

 private:
  std::vector<std::string> lines_;
  std::string source_ = "parameters";
};

// Key readers: each takes the key's value (or its default) and writes the
// key's echo line to the report.
std::string LoadString(const ParameterFile& file, const std::string& key,
                       const std::string& default_value, OutputFile& report);
int LoadEnumerate(const ParameterFile& file, const std::string& key,
                  const std::vector<std::string>& words, int default_code, OutputFile& report);
bool LoadBoolean(const ParameterFile& file, const std::string& key, bool default_value,
                 OutputFile& report);
float LoadReal(const ParameterFile& file, const std::string& key, float default_value,
               OutputFile& report);
int LoadInteger(const ParameterFile& file, const std::string& key, int default_value,
                OutputFile& report);

// Word tables of the enumerated keys.
const std::vector<std::string>& RecognitionMethodWords();
const std::vector<std::string>& ImbalanceMethodWords();
const std::vector<std::string>& FeatureSelectionWords();
const std::vector<std::string>& StackerWords();

// Warnings on standard error, each naming the file and line, for what would
// otherwise pass in silence: unknown keys (with the closest known key), keys
// given twice, enumerated words that match no word, string values without
// their double quotes, booleans that are neither true nor false, numbers that
// do not parse, a neural network with Eta 0, a k search from Minimum_k above
// Maximum_k. settings are the values loaded from the file.
// line_warning takes those of the lines (the unknown keys and the values);
// the others always go to standard error.
void WarnAboutParameters(const ParameterFile& file, const Settings& settings,
                         const std::function<void(const std::string&)>& line_warning = Warn);

// A parameters-file line for the key and value: string keys get their
// double quotes.
std::string ParameterLine(const std::string& key, const std::string& value);

// Ends the run (code 1, a message naming the key) on values that can only
// give garbage: reals that are not finite, Desired_sensitivity outside
// 0 .. 1, Trials outside 1 .. 32767, Epoch_size below 1 or N_epochs below 0
// for a neural network, Ensemble_T or Ensemble_s_i below 1 for the ensembles,
// a negative SMOTE_k for SMOTE.
void CheckParameterValues(const ParameterFile& file, const Settings& settings);

// The settings as the file writes them, without the echo, the consistency
// rules or any check (for what must be known before the report is open).
Settings SettingsAsWritten(const ParameterFile& file);
// Every key of the parameters file, in the order of the echo.
std::vector<std::string> ParameterKeys();
// The settings as parameters-file lines ("Key: value", every key that is
// read for them, numbers exact), which SettingsAsWritten reads back to the
// same values.
std::vector<std::string> SettingsAsLines(const Settings& settings);
// The key that sets a setting, for messages that name it ("?" for a member
// no key sets).
std::string ParameterKey(int Settings::*member);
std::string ParameterKey(float Settings::*member);

// Reads every setting from the file at path, echoes them to the report and
// applies the consistency rules.
void LoadGlobalParameters(const std::string& path, Settings& settings, OutputFile& report);
// The same from an already read file (for tests and embedding).
void LoadGlobalParameters(const ParameterFile& file, Settings& settings, OutputFile& report);

}  // namespace varnik
