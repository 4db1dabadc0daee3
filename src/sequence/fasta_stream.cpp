#include "sequence/fasta_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/error.h"
#include "sequence/alphabet.h"

namespace varnik {

bool LooksGzipped(const unsigned char* bytes, size_t n) {
  return n >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b;
}

struct ByteStream::Inflater {
  z_stream z{};
};

namespace {
constexpr size_t kRawBlock = size_t{1} << 18;
}  // namespace

ByteStream::ByteStream(const std::string& path) : path_(path) {
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    Diagnose("cannot open " + path + ": " + SystemReason());
    OnErrorExit(kUnspecifiedError, "Sequence file not found");
  }
  struct stat st {};
  if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
    regular_ = true;
    file_size_ = static_cast<size_t>(st.st_size);
  }
  buffer_.reset(new char[kRawBlock]);  // left uninitialised: read into
}

ByteStream::ByteStream(const char* data, size_t size, const std::string& path)
    : path_(path), memory_(data), memory_left_(size) {}

ByteStream::~ByteStream() {
  if (fd_ >= 0) close(fd_);
  if (z_ != nullptr) inflateEnd(&z_->z);
}

void ByteStream::Fail(const std::string& reason) const {
  Diagnose("cannot read " + path_ + ": " + reason);
  OnErrorExit(kReadFailed, "ReadFastaFile");
}

size_t ByteStream::ReadRaw() {
  raw_size_ = 0;
  if (raw_end_) return 0;
  if (fd_ < 0) {
    // Memory is handed out in place, a block at a time.
    // Memory is handed out in place.
    const size_t take = std::min(memory_left_, kRawBlock);
    raw_ = memory_;
    memory_ += take;
    memory_left_ -= take;
    raw_size_ = take;
  } else {
    raw_ = buffer_.get();
    while (raw_size_ < kRawBlock) {
      const ssize_t got = read(fd_, buffer_.get() + raw_size_, kRawBlock - raw_size_);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) Fail(SystemReason());
      if (got == 0) break;
      raw_size_ += static_cast<size_t>(got);
      if (!regular_) break;  // a pipe: what has come so far
    }
  }
  if (raw_size_ == 0) raw_end_ = true;
  return raw_size_;
}

std::string_view ByteStream::Next() {
  if (!started_) {
    started_ = true;
    ReadRaw();
    gzip_ = LooksGzipped(reinterpret_cast<const unsigned char*>(raw_), raw_size_);
    pending_ = raw_size_ > 0;
    if (regular_ && !gzip_) size_hint_ = file_size_;
    if (regular_ && gzip_ && file_size_ >= 18) {
      // gzip's last four bytes: the uncompressed size of the last member.
      unsigned char tail[4];
      if (pread(fd_, tail, 4, static_cast<off_t>(file_size_ - 4)) == 4) {
        const size_t n = tail[0] | (tail[1] << 8) | (tail[2] << 16) | (size_t{tail[3]} << 24);
        if (n > file_size_) size_hint_ = n;
      }
    }
    if (gzip_) {
      z_ = std::make_unique<Inflater>();
      if (inflateInit2(&z_->z, 15 + 32) != Z_OK) Fail("cannot start decompressing");
      z_->z.next_in = reinterpret_cast<unsigned char*>(const_cast<char*>(raw_));
      z_->z.avail_in = static_cast<unsigned>(raw_size_);
      out_.reset(new char[kRawBlock]);
    }
  }
  if (!gzip_) {
    if (pending_) {
      pending_ = false;
      return {raw_, raw_size_};
    }
    ReadRaw();
    return {raw_, raw_size_};
  }
  z_stream& z = z_->z;
  while (!done_) {
    if (z.avail_in == 0 && !raw_end_) {
      ReadRaw();
      z.next_in = reinterpret_cast<unsigned char*>(const_cast<char*>(raw_));
      z.avail_in = static_cast<unsigned>(raw_size_);
    }
    z.next_out = reinterpret_cast<unsigned char*>(out_.get());
    z.avail_out = static_cast<unsigned>(kRawBlock);
    const int status = inflate(&z, Z_NO_FLUSH);
    const size_t produced = kRawBlock - z.avail_out;
    if (status == Z_STREAM_END) {
      // Another member may follow.
      if (z.avail_in == 0 && !raw_end_) {
        ReadRaw();
        z.next_in = reinterpret_cast<unsigned char*>(const_cast<char*>(raw_));
        z.avail_in = static_cast<unsigned>(raw_size_);
      }
      if (z.avail_in == 0) {
        done_ = true;
      } else if (inflateReset(&z) != Z_OK) {
        Fail("damaged compressed data");
      }
    } else if (status == Z_BUF_ERROR && z.avail_in == 0 && raw_end_) {
      Fail("the compressed data stop short");
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      Fail(z.msg != nullptr ? z.msg : "damaged compressed data");
    }
    if (produced > 0) return {out_.get(), produced};
  }
  return {};
}

namespace {

constexpr size_t kBufferSize = 1 << 16;

}  // namespace

FastaStream::FastaStream(const std::string& given)
    : path_(given == "-" ? "standard input" : given), buffer_(kBufferSize) {
  const std::string& path = path_;
  // zlib reads plain files as they stand and gzip files (one member or
  // several) decompressed; "-" is standard input (a copy of its descriptor,
  // which stays open).
  const int in = given == "-" ? dup(STDIN_FILENO) : -1;
  gzFile f = given == "-" ? (in >= 0 ? gzdopen(in, "rb") : nullptr) : gzopen(path.c_str(), "rb");
  if (f == nullptr) {
    Diagnose("cannot open " + path + ": " + SystemReason());
    if (in >= 0) close(in);
    OnErrorExit(kUnspecifiedError, "Sequence file not found");
  }
  file_.reset(f);  // from here on closed by its owner, also when the checks below fail
  gzbuffer(f, kBufferSize);
  if (Peek() != '>') {
    if (Peek() >= 0) Diagnose(path + ": the first line is not a header line (\">...\")");
    OnErrorExit(kUnspecifiedError, "Sequence file has no records: " + path);
  }
}

void FastaStream::Closer::operator()(void* file) const { gzclose(static_cast<gzFile>(file)); }

void FastaStream::Fill() {
  if (eof_) return;
  const int got = gzread(static_cast<gzFile>(file_.get()), buffer_.data(),
                         static_cast<unsigned>(buffer_.size()));
  if (got < 0) {
    int code = Z_OK;
    const char* message = gzerror(static_cast<gzFile>(file_.get()), &code);
    Diagnose("cannot read " + path_ + ": " + (message != nullptr ? message : "read error"));
    OnErrorExit(kReadFailed, "ReadFastaFile");
  }
  if (got == 0) {
    // A compressed file that stops short reads as an end with an error.
    int code = Z_OK;
    const char* message = gzerror(static_cast<gzFile>(file_.get()), &code);
    if (code != Z_OK) {
      Diagnose("cannot read " + path_ + ": " + (message != nullptr ? message : "read error"));
      OnErrorExit(kReadFailed, "ReadFastaFile");
    }
    eof_ = true;
  }
  at_ = 0;
  size_ = static_cast<size_t>(got);
}

int FastaStream::Peek() {
  if (at_ == size_) Fill();
  return at_ < size_ ? static_cast<unsigned char>(buffer_[at_]) : -1;
}

bool FastaStream::NextRecord(std::string& name) {
  // Skip what is left of the current record.
  char skip[4096];
  while (in_record_ && Read(skip, sizeof skip) > 0) {
  }
  if (Peek() < 0) return false;
  header_line_ = line_;
  // The header line: ">" then the name up to the first blank.
  ++at_;
  name.clear();
  bool in_name = true;
  for (int c = Peek(); c >= 0 && c != '\n'; c = Peek()) {
    if (c == ' ' || c == '\t' || c == '\r') in_name = false;
    if (in_name && name.size() < 4096) name.push_back(static_cast<char>(c));
    ++at_;
  }
  if (Peek() == '\n') {
    ++at_;
    ++line_;
  }
  name_ = name;
  in_record_ = true;
  line_start_ = true;
  return true;
}

size_t FastaStream::Read(char* out, size_t max) {
  size_t n = 0;
  while (in_record_ && n < max) {
    if (Peek() < 0) {
      in_record_ = false;
      break;
    }
    if (line_start_ && buffer_[at_] == '>') {
      in_record_ = false;  // the next header
      break;
    }
    // Letters up to the end of the line at once; white space (blanks, tabs,
    // the carriage returns of Windows line ends) is no position and is left
    // out; any other character outside the alphabet is an error.
    const char* begin = buffer_.data() + at_;
    const size_t room = std::min(max - n, size_ - at_);
    const void* newline = std::memchr(begin, '\n', room);
    const size_t take =
        newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - begin) : room;
    for (size_t i = 0; i < take; ++i) {
      const char c = begin[i];
      const char letter = kNormalisedLetter[static_cast<unsigned char>(c)];
      if (letter != 0) {
        out[n++] = letter;
      } else if (c != ' ' && c != '\t' && c != '\r' && c != '\v' && c != '\f') {
        BadLetter(c);
      }
    }
    at_ += take;
    line_start_ = newline != nullptr;
    if (newline != nullptr) {
      ++at_;
      ++line_;
    }
  }
  return n;
}

void FastaStream::BadLetter(char c) const {
  const unsigned char u = static_cast<unsigned char>(c);
  char shown[16];
  if (u >= 32 && u < 127) {
    std::snprintf(shown, sizeof shown, "'%c'", u);
  } else {
    std::snprintf(shown, sizeof shown, "code %d", u);
  }
  Diagnose(path_ + ": record " + name_ + ", line " + std::to_string(line_) + ": " + shown +
           " is not a nucleotide letter");
  OnErrorExit(kUnspecifiedError, "Sequence contains errors");
}

}  // namespace varnik
