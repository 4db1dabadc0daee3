#include "sequence/fasta_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/error.h"
#include "sequence/alphabet.h"

namespace varnik {

bool LooksGzipped(const unsigned char* bytes, size_t n) {
  return n >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b;
}

bool Gunzip(const unsigned char* data, size_t n, std::vector<char>& out, std::string& error) {
  out.clear();
  z_stream z{};
  if (inflateInit2(&z, 15 + 32) != Z_OK) {  // 32: a gzip or zlib header
    error = "cannot start decompressing";
    return false;
  }
  std::vector<char> chunk(1 << 16);
  z.next_in = const_cast<unsigned char*>(data);
  size_t left = n;
  int status = Z_OK;
  while (true) {
    if (z.avail_in == 0 && left > 0) {
      const unsigned take = static_cast<unsigned>(std::min<size_t>(left, 1u << 30));
      z.avail_in = take;
      left -= take;
    }
    z.next_out = reinterpret_cast<unsigned char*>(chunk.data());
    z.avail_out = static_cast<unsigned>(chunk.size());
    status = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
    if (status == Z_STREAM_END) {
      // Members may follow one another (as concatenated files make them).
      if (z.avail_in == 0 && left == 0) break;
      if (inflateReset(&z) != Z_OK) break;
      continue;
    }
    if (status == Z_BUF_ERROR && z.avail_in == 0 && left == 0) {
      status = Z_DATA_ERROR;
      error = "the compressed data stop short";
      break;
    }
    if (status != Z_OK) {
      error = z.msg != nullptr ? z.msg : "damaged compressed data";
      break;
    }
  }
  inflateEnd(&z);
  return status == Z_STREAM_END;
}

namespace {

constexpr size_t kBufferSize = 1 << 16;

}  // namespace

FastaStream::FastaStream(const std::string& path) : path_(path), buffer_(kBufferSize) {
  // zlib reads plain files as they stand and gzip files (one member or
  // several) decompressed.
  gzFile f = gzopen(path.c_str(), "rb");
  if (f == nullptr) {
    Diagnose("cannot open " + path + ": " + SystemReason());
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
      if (kNormalisedLetter[static_cast<unsigned char>(c)] != 0) {
        out[n++] = c;
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
