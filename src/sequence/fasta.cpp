#include "sequence/fasta.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
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

// Header names are kept up to this many characters.
constexpr size_t kNameLimit = 65536;

// Walks the records of a FASTA stream block by block, calling
// on_record(joiner, name, record) for each with its letters joined. The
// first line must be a header; a line that starts with ">" starts the next
// record. With names null, headers are skipped.
template <typename OnRecord>
void ForEachRecord(ByteStream& in, const std::string& path, std::string* name, OnRecord on_record) {
  RecordJoiner joiner;
  enum { kLineStart, kName, kHeaderRest, kLetters } state = kLineStart;
  bool first = true, open = false;
  int record = 0;
  std::string unused;
  std::string& header = name != nullptr ? *name : unused;
  for (std::string_view block = in.Next(); !block.empty(); block = in.Next()) {
    const char* p = block.data();
    const char* const end = p + block.size();
    if (first) {
      first = false;
      if (*p != '>') {
        Diagnose(path + ": the first line is not a header line (\">...\")");
        OnErrorExit(kUnspecifiedError, "Sequence file has no records: " + path);
      }
    }
    while (p < end) {
      switch (state) {
        case kLineStart:
          if (*p == '>') {
            if (open) on_record(joiner, header, record++);
            open = true;
            joiner.Reset();
            header.clear();
            ++p;
            state = name != nullptr ? kName : kHeaderRest;
          } else {
            state = kLetters;
          }
          break;
        case kName: {
          const char* q = p;
          while (q < end && *q != ' ' && *q != '\t' && *q != '\n' && *q != '\r') ++q;
          header.append(p, std::min(static_cast<size_t>(q - p),
                                    kNameLimit - std::min(kNameLimit, header.size())));
          p = q;
          if (p < end) state = kHeaderRest;
          break;
        }
        case kHeaderRest: {
          const void* nl = std::memchr(p, '\n', static_cast<size_t>(end - p));
          if (nl == nullptr) {
            p = end;
          } else {
            p = static_cast<const char*>(nl) + 1;
            state = kLineStart;
          }
          break;
        }
        case kLetters:
          p = joiner.AppendLine(p, end);
          if (p < end) {
            ++p;  // the line end
            state = kLineStart;
          }
          break;
      }
    }
  }
  if (first) OnErrorExit(kUnspecifiedError, "Sequence file has no records: " + path);
  if (open) on_record(joiner, header, record);
}

// Counts the lines that start with ">".
int CountRecords(ByteStream& in) {
  long long n = 0;
  bool line_start = true;
  for (std::string_view block = in.Next(); !block.empty(); block = in.Next()) {
    const char* p = block.data();
    const char* const end = p + block.size();
    while (p < end) {
      if (line_start && *p == '>') ++n;
      const void* nl = std::memchr(p, '\n', static_cast<size_t>(end - p));
      if (nl == nullptr) {
        line_start = false;
        break;
      }
      p = static_cast<const char*>(nl) + 1;
      line_start = true;
    }
  }
  if (n > INT_MAX) OnErrorExit(kUnspecifiedError, "Too many records");
  return static_cast<int>(n);
}

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

namespace {

// Every record of the stream checked and cut into windows (with their names
// when asked).
int ReadWindows(ByteStream& in, const std::string& path, const Settings& settings,
                SequenceSet& windows, std::vector<std::string>* names, int* record_length) {
  CheckCutSettings(settings);
  if (names != nullptr) names->clear();
  long previous = -1;
  int length = 0;
  std::string name;
  ForEachRecord(in, path, names != nullptr ? &name : nullptr,
                [&](const RecordJoiner& joiner, std::string& header, int record) {
                  length = CheckRecord(joiner, previous, path, record, settings);
                  if (record == 0) {
                    windows = SequenceSet(0, length);
                    // Every record takes at least its letters and a header
                    // line of two characters.
                    if (in.size_hint() > 0) {
                      windows.Reserve(static_cast<int>(
                          std::min<size_t>(in.size_hint() / (joiner.size() + 2) + 1, INT_MAX)));
                    }
                  }
                  windows.Append(joiner.letters().substr(static_cast<size_t>(settings.Offset),
                                                         static_cast<size_t>(length)));
                  if (names != nullptr) names->push_back(std::move(header));
                  previous = static_cast<long>(joiner.size());
                });
  CheckNotEmpty(length, path);
  if (record_length != nullptr) *record_length = static_cast<int>(previous);
  return length;
}

}  // namespace

int ReadFastaFile(const std::string& path, const Settings& settings, SequenceSet& windows,
                  std::vector<std::string>* names, int* record_length) {
  ByteStream in(path);
  return ReadWindows(in, path, settings, windows, names, record_length);
}

int ReadFastaText(const std::string* text, const std::string& path, const Settings& settings,
                  SequenceSet& windows, std::vector<std::string>* names) {
  if (text == nullptr) return ReadFastaFile(path, settings, windows, names);
  ByteStream in(text->data(), text->size(), path);
  return ReadWindows(in, path, settings, windows, names, nullptr);
}

int ReadFastaFileWithUndersampling(const std::string& path, const Settings& settings,
                                   SequenceSet& windows, int n_keep, CRandom& rng,
                                   int* record_length) {
  CheckCutSettings(settings);
  // The records are counted first: a file on disk is read twice, anything
  // else (a pipe) is read once and held whole.
  std::unique_ptr<ByteStream> in = std::make_unique<ByteStream>(path);
  SequenceSet all;
  int n = 0;
  int all_length = 0;
  if (in->regular_file()) {
    n = CountRecords(*in);
    in = std::make_unique<ByteStream>(path);
  } else {
    all_length = ReadWindows(*in, path, settings, all, nullptr, record_length);
    n = all.size();
  }
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
  int kept = 0;
  if (!in->regular_file()) {
    windows = SequenceSet(n_keep, all_length);
    for (int record = 0; record < n; ++record) {
      if (selected[record]) windows.Assign(kept++, all[record]);
    }
    if (kept != n_keep) OnErrorExit(kUnspecifiedError, "Under-sampling went wrong");
    return all_length;
  }
  long previous = -1;
  int length = 0;
  // Every record is checked, kept or not: whether a file is accepted must
  // not depend on the draw.
  ForEachRecord(*in, path, nullptr, [&](const RecordJoiner& joiner, std::string&, int record) {
    length = CheckRecord(joiner, previous, path, record, settings);
    previous = static_cast<long>(joiner.size());
    if (record >= n || !selected[record]) return;
    if (kept == 0) windows = SequenceSet(n_keep, length);
    windows.Assign(kept, joiner.letters().substr(static_cast<size_t>(settings.Offset),
                                                 static_cast<size_t>(length)));
    ++kept;
  });
  if (kept != n_keep) OnErrorExit(kUnspecifiedError, "Under-sampling went wrong");
  CheckNotEmpty(length, path);
  if (record_length != nullptr) *record_length = static_cast<int>(previous);
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
