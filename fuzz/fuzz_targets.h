// The readers of files that come from elsewhere, each as one function of a
// block of bytes: the fuzz targets call them under libFuzzer, and the tests
// replay the saved inputs through them. A refusal (the program's error) is a
// normal outcome; anything else that goes wrong is a finding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnik {

// FASTA windows: the first byte chooses the cut (offset, length, protein),
// the rest is the file (plain or gzip-compressed).
int FuzzFastaWindows(const uint8_t* data, size_t size);
// The parameters file, read, echoed, warned about and checked.
int FuzzParameters(const uint8_t* data, size_t size);
// The mask file: the first two bytes give the window length.
int FuzzMask(const uint8_t* data, size_t size);
// The saved model: header and SVM model file split at the first NUL byte (a
// valid header when there is none); a loaded model then scores a window.
int FuzzSavedModel(const uint8_t* data, size_t size);
// The self-contained model file (plain text); a model that loads then
// scores windows of its length.
int FuzzModelFile(const uint8_t* data, size_t size);
// Long sequences read piece by piece (the scan command's reader), plain or
// gzip-compressed.
int FuzzSequenceStream(const uint8_t* data, size_t size);
// The index beside a FASTA file (".fai"); what it gives must have names,
// each once.
int FuzzFastaIndex(const uint8_t* data, size_t size);

}  // namespace varnik
