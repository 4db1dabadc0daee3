#include "sequence/fasta.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/error.h"
#include "sequence/alphabet.h"

namespace varnik {

namespace {

// One diagnostic line on standard error, next to the error's own message.
void Diagnose(const std::string& text) { std::fprintf(stderr, "varnik: %s\n", text.c_str()); }

std::vector<char> LoadWholeFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    Diagnose("cannot open " + path);
    OnErrorExit(kUnspecifiedError, "Sequence file not found");
  }
  std::vector<char> data;
  struct stat st {};
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    data.reserve(static_cast<size_t>(st.st_size));
  }
  char chunk[1 << 16];
  size_t got;
  // Read straight into the reserved block when the size is known.
  if (data.capacity() > 0) {
    data.resize(data.capacity());
    size_t filled = 0;
    while (filled < data.size() &&
           (got = std::fread(data.data() + filled, 1, data.size() - filled, f)) > 0) {
      filled += got;
    }
    data.resize(filled);
  }
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + got);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    Diagnose("read error on " + path);
    OnErrorExit(kReadFailed, "ReadFastaFile");
  }
  return data;
}

void CheckCutSettings(const Settings& s) {
  if (s.Offset < 0) OnErrorExit(kUnspecifiedError, "Offset_to_start must not be negative");
  if (s.Length < 0) OnErrorExit(kUnspecifiedError, "Sequence_length must not be negative");
}

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

  // Skips the header line at the current position, then hands each sequence
  // line of the record (line end removed) to sink, up to the next header.
  template <typename Sink>
  void ReadRecord(Sink&& sink) {
    p_ = LineEnd(p_);
    while (p_ < end_ && *p_ != '>') {
      const char* e = LineEnd(p_);
      const char* stop = e[-1] == '\n' ? e - 1 : e;
      sink(p_, static_cast<size_t>(stop - p_));
      p_ = e;
    }
  }

  void SkipRecord() {
    ReadRecord([](const char*, size_t) {});
  }

 private:
  // Position just past the line end of the line at p (or the text's end).
  const char* LineEnd(const char* p) const {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end_ - p)));
    return nl == nullptr ? end_ : nl + 1;
  }

  const char* p_;
  const char* end_;
};

// Joins and normalises the letters of one record into raw, remembering the
// first letter outside the alphabet.
struct RecordJoiner {
  std::string raw;
  long bad_position = -1;
  char bad_letter = 0;

  void Reset() {
    raw.clear();
    bad_position = -1;
  }
  void operator()(const char* p, size_t n) {
    const size_t old = raw.size();
    raw.resize(old + n);
    char* out = raw.data() + old;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; ++i) out[i] = kNormalisedLetter[in[i]];
    if (bad_position < 0) {
      const void* zero = std::memchr(out, 0, n);
      if (zero != nullptr) {
        const size_t at = static_cast<const char*>(zero) - out;
        bad_position = static_cast<long>(old + at);
        bad_letter = p[at];
      }
    }
  }
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
  const long n = static_cast<long>(j.raw.size());
  if (previous_length >= 0 && n != previous_length) {
    std::printf("Length: %d\tOld length: %d\n", static_cast<int>(n), static_cast<int>(previous_length));
    Diagnose(Where(path, record) + " has " + std::to_string(n) + " letters, the record before it " +
             std::to_string(previous_length));
    OnErrorExit(kUnspecifiedError, "Lengths differ");
  }
  if (static_cast<long long>(s.Length) + s.Offset > n) {
    Diagnose(Where(path, record) + " has " + std::to_string(n) + " letters, fewer than " +
             "Offset_to_start + Sequence_length = " + std::to_string(static_cast<long long>(s.Length) + s.Offset));
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
    Diagnose(Where(path, record) + ", position " + std::to_string(j.bad_position + 1) + ": " + shown +
             " is not a nucleotide letter");
    OnErrorExit(kUnspecifiedError, "Sequence contains errors");
  }
  return cut;
}

struct LoadedFile {
  std::vector<char> text;
  int records = 0;
};

LoadedFile OpenFastaText(const std::string& path, const Settings& settings, bool count) {
  CheckCutSettings(settings);
  LoadedFile f;
  f.text = LoadWholeFile(path);
  if (f.text.empty() || f.text[0] != '>') {
    if (!f.text.empty()) Diagnose(path + ": the first line is not a header line (\">...\")");
    OnErrorExit(kUnspecifiedError, "Sequence file has no records: " + path);
  }
  if (count) f.records = RecordReader::CountRecords(f.text.data(), f.text.data() + f.text.size());
  return f;
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

int ReadFastaFile(const std::string& path, Settings& settings, SequenceSet& windows) {
  LoadedFile f = OpenFastaText(path, settings, false);
  const char* begin = f.text.data();
  const char* end = begin + f.text.size();
  RecordReader reader(begin, end);
  RecordJoiner joiner;
  long previous = -1;
  int length = 0;
  int record = 0;
  while (!reader.AtEnd()) {
    joiner.Reset();
    reader.ReadRecord(joiner);
    length = CheckRecord(joiner, previous, path, record, settings);
    if (record == 0) {
      windows = SequenceSet(0, length);
      // Every record takes at least its letters and a header line of two
      // characters, which bounds the number of records.
      windows.Reserve(static_cast<int>(f.text.size() / (joiner.raw.size() + 2) + 1));
    }
    windows.Append(std::string_view(joiner.raw).substr(static_cast<size_t>(settings.Offset),
                                                       static_cast<size_t>(length)));
    previous = static_cast<long>(joiner.raw.size());
    ++record;
  }
  CheckNotEmpty(length, path);
  if (settings.Length == 0) settings.Length = length;
  return length;
}

int ReadFastaFileWithUndersampling(const std::string& path, Settings& settings,
                                   SequenceSet& windows, int n_keep, CRandom& rng) {
  LoadedFile f = OpenFastaText(path, settings, true);
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
  const char* begin = f.text.data();
  RecordReader reader(begin, begin + f.text.size());
  RecordJoiner joiner;
  long previous = -1;
  int length = 0;
  int kept = 0;
  for (int record = 0; record < n && !reader.AtEnd(); ++record) {
    if (!selected[record]) {
      reader.SkipRecord();
      continue;
    }
    joiner.Reset();
    reader.ReadRecord(joiner);
    length = CheckRecord(joiner, previous, path, record, settings);
    if (kept == 0) windows = SequenceSet(n_keep, length);
    windows.Assign(kept, std::string_view(joiner.raw).substr(static_cast<size_t>(settings.Offset),
                                                             static_cast<size_t>(length)));
    previous = static_cast<long>(joiner.raw.size());
    ++kept;
  }
  if (kept != n_keep) OnErrorExit(kUnspecifiedError, "Under-sampling went wrong");
  CheckNotEmpty(length, path);
  if (settings.Length == 0) settings.Length = length;
  return length;
}

std::string WindowFilePath(const std::string& prefix, const std::string& suffix,
                           const Settings& settings) {
  const std::string local = prefix + suffix;
  if (access(local.c_str(), R_OK) == 0) return local;
  const char* home = std::getenv("HOME");
  if (home == nullptr) return local;
  return std::string(home) + "/" + settings.Datad + "/" + local;
}

}  // namespace varnik
