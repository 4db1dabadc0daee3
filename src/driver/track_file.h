// bigWig tracks (the binary format genome browsers load), written with
// libBigWig when the build has it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/output_file.h"
#include "sequence/fasta_index.h"

namespace varnik {

// Whether this build writes bigWig files.
bool BigWigAvailable();

// A track of single-base values. The chromosomes are declared when the file
// is opened; their values follow chromosome by chromosome in that order,
// positions ascending. The file stands under its name only after Close (a
// temporary beside it until then, removed when the run ends early).
class BigWigTrack {
 public:
  BigWigTrack() = default;
  ~BigWigTrack();
  BigWigTrack(const BigWigTrack&) = delete;
  BigWigTrack& operator=(const BigWigTrack&) = delete;

  void Open(const std::string& path, const std::vector<IndexedRecord>& chromosomes);
  // Values at positions of chromosome index (at or after the last one added).
  void Add(size_t chromosome, const std::vector<uint32_t>& starts,
           const std::vector<float>& values);
  void Close();

 private:
  [[noreturn]] void Fail(const std::string& what);
  OutputFile file_;
  void* bw_ = nullptr;
  std::vector<IndexedRecord> chromosomes_;
  size_t current_ = SIZE_MAX;  // the chromosome values were last added to
  uint32_t last_end_ = 0;
};

// One interval of a bigWig file read back.
struct TrackValue {
  std::string chromosome;
  uint32_t start = 0, end = 0;
  float value = 0;
};

// Every interval of a bigWig file, chromosome by chromosome in the file's
// order (for checks and tests; the whole file is held).
std::vector<TrackValue> ReadBigWig(const std::string& path);
// The chromosomes of a bigWig file and their lengths.
std::vector<IndexedRecord> BigWigChromosomes(const std::string& path);

}  // namespace varnik
