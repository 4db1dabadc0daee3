// The parameters file: "Key: value" lines, read once at the start of a run.
#pragma once

#include <string>
#include <vector>

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
  static ParameterFile FromText(const std::string& text);

  // The first line that starts with key + ":" (case-insensitive), or null.
  const std::string* Find(const std::string& key) const;

 private:
  std::vector<std::string> lines_;
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

// Reads every setting from the file at path, echoes them to the report and
// applies the consistency rules.
void LoadGlobalParameters(const std::string& path, Settings& settings, OutputFile& report);
// The same from an already read file (for tests and embedding).
void LoadGlobalParameters(const ParameterFile& file, Settings& settings, OutputFile& report);

}  // namespace varnik
