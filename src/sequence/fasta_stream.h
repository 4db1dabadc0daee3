// FASTA records of any length read piece by piece (plain or gzip-compressed,
// told apart by the first bytes): the memory taken does not grow with the
// records.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace varnik {

class FastaStream {
 public:
  // Fails (the program's error) when the file cannot be opened or does not
  // start with a header line.
  explicit FastaStream(const std::string& path);
  FastaStream(const FastaStream&) = delete;
  FastaStream& operator=(const FastaStream&) = delete;

  // Moves to the next record; false at the end of the file. name is the
  // header's first word.
  bool NextRecord(std::string& name);
  // Up to max letters of the current record (line ends and other white space
  // left out); 0 at its end. Letters are passed as they stand; a character
  // outside the alphabet ends the run with an error naming the record and
  // the line.
  size_t Read(char* out, size_t max);

 private:
  int Peek();  // the next byte, or -1 at the end
  void Fill();
  [[noreturn]] void BadLetter(char c) const;

  struct Closer {
    void operator()(void* file) const;
  };
  std::string path_;
  std::unique_ptr<void, Closer> file_;  // a gzFile, closed however the reader ends
  std::vector<char> buffer_;
  size_t at_ = 0, size_ = 0;
  bool in_record_ = false;
  bool line_start_ = true;
  bool eof_ = false;
  long long line_ = 1;  // of the file, for messages
  std::string name_;    // of the current record
};

// Whether the first bytes are gzip's magic number.
bool LooksGzipped(const unsigned char* bytes, size_t n);
// The decompressed contents of gzip data (members one after another); false
// with the reason when they are damaged or cut short.
bool Gunzip(const unsigned char* data, size_t n, std::vector<char>& out, std::string& error);

}  // namespace varnik
