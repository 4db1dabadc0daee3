// The self-contained model file: a trained recogniser with everything that
// scoring a new window needs (how the windows were cut, translated, masked
// and narrowed by feature selection, the threshold exactly, the settings),
// in one plain-text file, gzip-compressed when its name ends in ".gz".
//
//   varnik-model 1 varnik 1.0
//   method PWM
//   threshold 0.123456791
//   record_length 141
//   offset 0
//   sequence_length 141
//   protein 0
//   mask 0                  (or: mask n and n flags over the cut window)
//   kept 0                  (or: kept n and the n positions kept, in order)
//   window_length 141
//   core 2 70 G 71 T        (or: core 0)
//   training 1000 5000      (positives, negatives)
//   settings 57             (and 57 lines "Key: value" of the parameters file)
//   payload
//   ...                     (the method's own part)
//   end
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/recognizer.h"
#include "core/settings.h"

namespace varnik {

inline constexpr const char* kModelFormatName = "varnik-model";
inline constexpr int kModelFormatVersion = 1;

// How the windows the recogniser scores are made from a record.
struct ModelWindow {
  int record_length = 0;    // letters of the training records before the cut
  int offset = 0;           // the cut: sequence_length letters from offset
  int sequence_length = 0;  // (0: every letter from offset on)
  bool protein = false;     // codons translated after the cut
  int read_length = 0;      // letters after the cut and the translation
  std::vector<int> mask;    // read_length flags (1 kept), or empty
  std::vector<int> kept;    // positions kept by feature selection, in order, or empty
  int length = 0;           // letters the recogniser scores
  // The core: positions of the cut window (before a mask) at which every
  // training window held one and the same letter, with that letter; the
  // candidates of a scan. Empty for protein windows.
  std::vector<std::pair<int, char>> core;
};

struct SelfContainedModel {
  std::unique_ptr<Recognizer> recognizer;
  ModelWindow window;
  Settings settings;  // as the recogniser was trained
  int training_positives = 0;
  int training_negatives = 0;
};

// The file's text.
std::string ModelFileText(const Recognizer& R, const ModelWindow& window, int positives,
                          int negatives);
// Writes the file whole (compressed when path ends in ".gz").
void WriteModelFile(const std::string& path, const Recognizer& R, const ModelWindow& window,
                    int positives, int negatives);

// Whether the file (plain or compressed) starts with the format's name.
bool IsModelFile(const std::string& path);
// Reads the file back; every fault ends the run naming the file and line.
SelfContainedModel ReadModelFile(const std::string& path);
// The same from the file's text.
SelfContainedModel ParseModelFile(std::string text, const std::string& path);

}  // namespace varnik
