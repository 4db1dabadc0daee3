// FASTA records of any length read piece by piece (plain or gzip-compressed,
// told apart by the first bytes): the memory taken does not grow with the
// records.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace varnik {

class FastaStream {
 public:
  // Fails (the program's error) when the file cannot be opened or does not
  // start with a header line. "-" reads standard input.
  explicit FastaStream(const std::string& path);
  FastaStream(const FastaStream&) = delete;
  FastaStream& operator=(const FastaStream&) = delete;

  // Moves to the next record; false at the end of the file. name is the
  // header's first word.
  bool NextRecord(std::string& name);
  // Up to max letters of the current record (line ends and other white space
  // left out), normalised (upper case, U as T); 0 at its end. A character
  // outside the alphabet ends the run with an error naming the record and
  // the line.
  size_t Read(char* out, size_t max);
  // The line of the file holding the current record's header.
  long long header_line() const { return header_line_; }

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
  long long header_line_ = 0;
  std::string name_;  // of the current record
};

// Whether the first bytes are gzip's magic number.
bool LooksGzipped(const unsigned char* bytes, size_t n);

// The bytes of a file, or of text in memory, handed out block by block:
// gzip-compressed data (members one after another, as cat joins them)
// decompressed on the way, plain data as it stands. Memory stays at a few
// blocks whatever the size of the file.
class ByteStream {
 public:
  // Fails (the program's error, "Sequence file not found") when the file
  // cannot be opened.
  explicit ByteStream(const std::string& path);
  // Text in memory (kept by the caller), named path in messages.
  ByteStream(const char* data, size_t size, const std::string& path);
  ~ByteStream();
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;

  // The next block; empty at the end. Damaged or cut-short compressed data
  // and read failures end the run (code 4).
  std::string_view Next();
  // A regular file on disk: it can be opened and read again.
  bool regular_file() const { return regular_; }
  // About how many bytes the stream gives, for reserving room: a plain
  // regular file's size, the size a compressed file records of its last
  // member (modulo 2^32, so only a hint), else 0. Known after the first Next.
  size_t size_hint() const { return size_hint_; }

 private:
  size_t ReadRaw();  // refills raw_ (from the file or the memory); 0 at the end
  [[noreturn]] void Fail(const std::string& reason) const;

  std::string path_;
  int fd_ = -1;
  const char* memory_ = nullptr;
  size_t memory_left_ = 0;
  bool regular_ = false;
  size_t file_size_ = 0;
  std::unique_ptr<char[]> buffer_, out_;
  const char* raw_ = nullptr;  // the current raw block (in buffer_, or in the memory given)
  size_t raw_size_ = 0;
  bool raw_end_ = false;
  bool started_ = false, pending_ = false;  // the first raw block, read to tell gzip
  bool gzip_ = false, done_ = false;
  size_t size_hint_ = 0;
  struct Inflater;
  std::unique_ptr<Inflater> z_;
};

}  // namespace varnik
