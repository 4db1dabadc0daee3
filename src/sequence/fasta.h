// FASTA window files: one class per file, one window per record.
#pragma once

#include <string>
#include <vector>

#include "core/random.h"
#include "core/sequence_set.h"
#include "core/settings.h"

namespace varnik {

// Reads every record of the file into windows and returns the window length
// after cutting to Offset / Length (a Length of 0 keeps every letter from
// Offset on). A run sets Length to the length of its first file, so that
// every later file is cut the same way.
// With names, each record's name (the first word of its header) too.
// With record_length, the records' length before the cut.
int ReadFastaFile(const std::string& path, const Settings& settings, SequenceSet& windows,
                  std::vector<std::string>* names = nullptr, int* record_length = nullptr);

// As ReadFastaFile, but keeps n_keep records chosen at random without
// repetition, in file order. Asked for more records than the file holds, it
// keeps them all.
// The same for text in memory named path in messages (the file's contents;
// read from the file when text is null).
int ReadFastaText(const std::string* text, const std::string& path, const Settings& settings,
                  SequenceSet& windows, std::vector<std::string>* names = nullptr);

int ReadFastaFileWithUndersampling(const std::string& path, const Settings& settings,
                                   SequenceSet& windows, int n_keep, CRandom& rng,
                                   int* record_length = nullptr);

// Validates one joined window (upper case, U already T) and cuts it to the part
// of interest in place; returns the new length.
int CheckAndCutSequence(std::string& window, const Settings& settings);

// The file a window prefix and suffix ("pos" or "neg") name: prefix + suffix
// when it is readable in the working directory, else
// $HOME/<Data_directory>/<prefix><suffix>.
std::string WindowFilePath(const std::string& prefix, const std::string& suffix,
                           const Settings& settings);

}  // namespace varnik
