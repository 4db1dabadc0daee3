#include "sequence/fasta.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "core/error.h"
#include "sequence/alphabet.h"
#include "sequence/fasta_stream.h"

namespace varnik {

namespace {

// The whole file as one block of text: mapped into memory when it is a
// regular file (no copy, no fresh pages to clear), read otherwise.
class FileText {
 public:
  FileText() = default;
  ~FileText() {
    if (mapped_ != nullptr) munmap(mapped_, size_);
  }
  FileText(const FileText&) = delete;
  FileText& operator=(const FileText&) = delete;

  const char* begin() const {
    return mapped_ != nullptr ? static_cast<const char*>(mapped_) : buffer_.data();
  }
  const char* end() const { return begin() + size_; }
  size_t size() const { return size_; }

  void Load(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
      Diagnose("cannot open " + path + ": " + SystemReason());
      OnErrorExit(kUnspecifiedError, "Sequence file not found");
    }
    struct stat st {};
    bool ok = true;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      void* m = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ,
                     MAP_PRIVATE | MAP_POPULATE, fd, 0);
      if (m != MAP_FAILED) {
        mapped_ = m;
        size_ = static_cast<size_t>(st.st_size);
        madvise(m, size_, MADV_SEQUENTIAL);
      }
    }
    if (mapped_ == nullptr) {
      char chunk[1 << 16];
      ssize_t got;
      while ((got = read(fd, chunk, sizeof chunk)) > 0)
        buffer_.insert(buffer_.end(), chunk, chunk + got);
      ok = got == 0;
      size_ = buffer_.size();
    }
    const std::string reason = ok ? "" : SystemReason();
    close(fd);
    if (!ok) {
      Diagnose("cannot read " + path + ": " + reason);
      OnErrorExit(kReadFailed, "ReadFastaFile");
    }
    Decompress(path);
  }

  // Text already in memory (as a file would hold it).
  void Adopt(std::vector<char> text, const std::string& path) {
    buffer_ = std::move(text);
    size_ = buffer_.size();
    Decompress(path);
  }

 private:
  void Decompress(const std::string& path) {
    if (LooksGzipped(reinterpret_cast<const unsigned char*>(begin()), size_)) {
      // Compressed (whatever the file's name): its text, decompressed.
      std::vector<char> text;
      std::string error;
      if (!Gunzip(reinterpret_cast<const unsigned char*>(begin()), size_, text, error)) {
        Diagnose("cannot read " + path + ": " + error);
        OnErrorExit(kReadFailed, "ReadFastaFile");
      }
      if (mapped_ != nullptr) munmap(mapped_, size_);
      mapped_ = nullptr;
      buffer_ = std::move(text);
      size_ = buffer_.size();
    }
  }

  void* mapped_ = nullptr;
  std::vector<char> buffer_;
  size_t size_ = 0;
};

void CheckCutSettings(const Settings& s) {
  if (s.Offset < 0) OnErrorExit(kUnspecifiedError, "Offset_to_start must not be negative");
  if (s.Length < 0) OnErrorExit(kUnspecifiedError, "Sequence_length must not be negative");
}

// Joins and normalises the letters of one record (upper case, U to T),
// remembering the first character outside the alphabet. Letters outside the
// alphabet are stored as 0.
class RecordJoiner {
 public:
  void Reset() {
    size_ = 0;
    bad_position = -1;
  }
  size_t size() const { return size_; }
  std::string_view letters() const { return std::string_view(raw_.data(), size_); }

  // Appends the line starting at p and returns the position of its line end
  // (or end when the text ends without one).
  const char* AppendLine(const char* p, const char* end) {
#ifdef __SSE2__
    // Blocks of 16 plain upper-case bases go through unchanged.
    const __m128i a = _mm_set1_epi8('A'), c = _mm_set1_epi8('C');
    const __m128i g = _mm_set1_epi8('G'), t = _mm_set1_epi8('T');
    while (end - p >= 16) {
      Reserve(16);
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i ok = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, c)),
                                      _mm_or_si128(_mm_cmpeq_epi8(v, g), _mm_cmpeq_epi8(v, t)));
      if (_mm_movemask_epi8(ok) != 0xFFFF) {
        // Something else in this block: take it letter by letter.
        for (int k = 0; k < 16; ++k, ++p) {
          if (*p == '\n') return p;
          Put(*p);
        }
        continue;
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(raw_.data() + size_), v);
      size_ += 16;
      p += 16;
    }
#endif
    for (; p < end; ++p) {
      if (*p == '\n') return p;
      Reserve(1);
      Put(*p);
    }
    return p;
  }

  long bad_position = -1;
  char bad_letter = 0;

 private:
  void Reserve(size_t n) {
    if (size_ + n > raw_.size()) raw_.resize(std::max(raw_.size() * 2, size_ + n + 256));
  }
  void Put(char letter) {
    const char normalised = kNormalisedLetter[static_cast<unsigned char>(letter)];
    if (normalised == 0 && bad_position < 0) {
      bad_position = static_cast<long>(size_);
      bad_letter = letter;
    }
    raw_[size_++] = normalised;
  }

  std::vector<char> raw_;
  size_t size_ = 0;
};

// Walks the records of a FASTA text. The first line is the first header.
class RecordReader {
 public:
  RecordReader(const char* begin, const char* end) : p_(begin), end_(end) {}

  bool AtEnd() const { return p_ >= end_; }

  // Number of lines that start with ">".
  static int CountRecords(const char* p, const char* end) {
    int n = 0;
    while (p < end) {
      if (*p == '>') ++n;
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      if (nl == nullptr) break;
      p = nl + 1;
    }
    return n;
  }

  // Skips the header line at the current position (keeping its first word
  // in name when asked), then joins the sequence lines of the record, up to
  // the next header.
  void ReadRecord(RecordJoiner& joiner, std::string* name = nullptr) {
    if (name != nullptr) {
      const char* q = p_ < end_ && *p_ == '>' ? p_ + 1 : p_;
      const char* w = q;
      while (w < end_ && *w != ' ' && *w != '\t' && *w != '\n' && *w != '\r') ++w;
      name->assign(q, w);
    }
    SkipLine();
    while (p_ < end_ && *p_ != '>') {
      p_ = joiner.AppendLine(p_, end_);
      if (p_ < end_) ++p_;  // the line end
    }
  }

 private:
  void SkipLine() {
    const char* nl =
        static_cast<const char*>(std::memchr(p_, '\n', static_cast<size_t>(end_ - p_)));
    p_ = nl == nullptr ? end_ : nl + 1;
  }

  const char* p_;
  const char* end_;
};

// The cut length of a window of raw length n, after the "Length too long"
// check.
int CutLength(size_t n, const Settings& s) {
  if (static_cast<long long>(s.Length) + s.Offset > static_cast<long long>(n)) {
    OnErrorExit(kUnspecifiedError, "Length too long");
  }
  return s.Length != 0 ? s.Length : static_cast<int>(n) - s.Offset;
}

std::string Where(const std::string& path, int record) {
  return path + ": record " + std::to_string(record + 1);
}

// Checks the joined record against the previous one and the alphabet, and
// returns its cut length.
int CheckRecord(const RecordJoiner& j, long previous_length, const std::string& path, int record,
                const Settings& s) {
  const long n = static_cast<long>(j.size());
  if (previous_length >= 0 && n != previous_length) {
    std::fprintf(s.messages_on_stderr ? stderr : stdout, "Length: %d\tOld length: %d\n",
                 static_cast<int>(n), static_cast<int>(previous_length));
    Diagnose(Where(path, record) + " has " + std::to_string(n) + " letters, the record before it " +
             std::to_string(previous_length));
    OnErrorExit(kUnspecifiedError, "Lengths differ");
  }
  if (static_cast<long long>(s.Length) + s.Offset > n) {
    Diagnose(Where(path, record) + " has " + std::to_string(n) + " letters, fewer than " +
             "Offset_to_start + Sequence_length = " +
             std::to_string(static_cast<long long>(s.Length) + s.Offset));
  }
  const int cut = CutLength(static_cast<size_t>(n), s);
  if (j.bad_position >= 0) {
    const unsigned char c = static_cast<unsigned char>(j.bad_letter);
    char shown[16];
    if (c >= 32 && c < 127) {
      std::snprintf(shown, sizeof shown, "'%c'", c);
    } else {
      std::snprintf(shown, sizeof shown, "code %d", c);
    }
    Diagnose(Where(path, record) + ", position " + std::to_string(j.bad_position + 1) + ": " +
             shown + " is not a nucleotide letter");
    if (c == '\r') Diagnose("Windows line ends: convert the file, e.g. with dos2unix");
    OnErrorExit(kUnspecifiedError, "Sequence contains errors");
  }
  return cut;
}

struct LoadedFile {
  FileText text;
  int records = 0;
};

void OpenFastaText(const std::string& path, const Settings& settings, bool count, LoadedFile& f,
                   const std::string* text = nullptr) {
  CheckCutSettings(settings);
  if (text != nullptr) {
    f.text.Adopt(std::vector<char>(text->begin(), text->end()), path);
  } else {
    f.text.Load(path);
  }
  if (f.text.size() == 0 || *f.text.begin() != '>') {
    if (f.text.size() != 0) Diagnose(path + ": the first line is not a header line (\">...\")");
    OnErrorExit(kUnspecifiedError, "Sequence file has no records: " + path);
  }
  if (count) f.records = RecordReader::CountRecords(f.text.begin(), f.text.end());
}

void CheckNotEmpty(int length, const std::string& path) {
  if (length <= 0) {
    Diagnose(path + ": no letters left in the windows after Offset_to_start / Sequence_length");
    OnErrorExit(kUnspecifiedError, "Empty sequence windows");
  }
}

}  // namespace

int CheckAndCutSequence(std::string& window, const Settings& settings) {
  CheckCutSettings(settings);
  const int cut = CutLength(window.size(), settings);
  for (char c : window) {
    if (c == '\0' || std::strchr(letters, c) == nullptr) {
      OnErrorExit(kUnspecifiedError, "Sequence contains errors");
    }
  }
  window = window.substr(static_cast<size_t>(settings.Offset), static_cast<size_t>(cut));
  return cut;
}

int ReadFastaFile(const std::string& path, const Settings& settings, SequenceSet& windows,
                  std::vector<std::string>* names) {
  return ReadFastaText(nullptr, path, settings, windows, names);
}

int ReadFastaText(const std::string* text, const std::string& path, const Settings& settings,
                  SequenceSet& windows, std::vector<std::string>* names) {
  if (names != nullptr) names->clear();
  LoadedFile f;
  OpenFastaText(path, settings, false, f, text);
  RecordReader reader(f.text.begin(), f.text.end());
  RecordJoiner joiner;
  long previous = -1;
  int length = 0;
  int record = 0;
  while (!reader.AtEnd()) {
    joiner.Reset();
    std::string name;
    reader.ReadRecord(joiner, names != nullptr ? &name : nullptr);
    if (names != nullptr) names->push_back(std::move(name));
    length = CheckRecord(joiner, previous, path, record, settings);
    if (record == 0) {
      windows = SequenceSet(0, length);
      // Every record takes at least its letters and a header line of two
      // characters, which bounds the number of records.
      windows.Reserve(static_cast<int>(f.text.size() / (joiner.size() + 2) + 1));
    }
    windows.Append(
        joiner.letters().substr(static_cast<size_t>(settings.Offset), static_cast<size_t>(length)));
    previous = static_cast<long>(joiner.size());
    ++record;
  }
  CheckNotEmpty(length, path);
  return length;
}

int ReadFastaFileWithUndersampling(const std::string& path, const Settings& settings,
                                   SequenceSet& windows, int n_keep, CRandom& rng) {
  LoadedFile f;
  OpenFastaText(path, settings, true, f);
  const int n = f.records;
  std::vector<char> selected(static_cast<size_t>(n), 0);
  if (n_keep >= n) {
    if (n_keep == n) {
      // Draw exactly as a selection would, so the generator moves on the same.
      int marked = 0;
      while (marked < n) {
        const int i = rng.UniformIndex(n);
        if (!selected[i]) {
          selected[i] = 1;
          ++marked;
        }
      }
    }
    std::fill(selected.begin(), selected.end(), 1);
    n_keep = n;
  } else {
    int marked = 0;
    while (marked < n_keep) {
      const int i = rng.UniformIndex(n);
      if (!selected[i]) {
        selected[i] = 1;
        ++marked;
      }
    }
  }
  RecordReader reader(f.text.begin(), f.text.end());
  RecordJoiner joiner;
  long previous = -1;
  int length = 0;
  int kept = 0;
  for (int record = 0; record < n && !reader.AtEnd(); ++record) {
    // Every record is checked, kept or not: whether a file is accepted must
    // not depend on the draw.
    joiner.Reset();
    reader.ReadRecord(joiner);
    length = CheckRecord(joiner, previous, path, record, settings);
    previous = static_cast<long>(joiner.size());
    if (!selected[record]) continue;
    if (kept == 0) windows = SequenceSet(n_keep, length);
    windows.Assign(kept, joiner.letters().substr(static_cast<size_t>(settings.Offset),
                                                 static_cast<size_t>(length)));
    ++kept;
  }
  if (kept != n_keep) OnErrorExit(kUnspecifiedError, "Under-sampling went wrong");
  CheckNotEmpty(length, path);
  return length;
}

std::string WindowFilePath(const std::string& prefix, const std::string& suffix,
                           const Settings& settings) {
  const std::string local = prefix + suffix;
  if (access(local.c_str(), R_OK) == 0) return local;
  const std::string reason = SystemReason();
  const char* home = std::getenv("HOME");
  if (home == nullptr) return local;
  const std::string fallback = std::string(home) + "/" + settings.Datad + "/" + local;
  if (access(fallback.c_str(), R_OK) != 0) {
    Diagnose("cannot read " + local + " (" + reason + "), nor " + fallback +
             " under the data directory");
  }
  return fallback;
}

}  // namespace varnik
