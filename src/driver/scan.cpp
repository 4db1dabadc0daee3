// "varnik scan": the model's window slid over the positions of long
// sequences, read piece by piece, into BED, bedGraph, bigWig or TSV lines.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <unordered_map>

#include "core/error.h"
#include "core/output_file.h"
#include "core/parallel.h"
#include "core/progress.h"
#include "driver/score.h"
#include "driver/track_file.h"
#include "sequence/fasta_index.h"
#include "sequence/fasta_stream.h"
#include "sequence/protein.h"

namespace varnik {

namespace {

// Letters taken from the file per piece; the last window's length minus one
// is carried over to the next piece.
constexpr size_t kPiece = size_t{1} << 20;

// The complement of a normalised letter (ambiguity codes to theirs).
constexpr char Complement(char c) {
  switch (c) {
    case 'A':
      return 'T';
    case 'T':
      return 'A';
    case 'G':
      return 'C';
    case 'C':
      return 'G';
    case 'R':
      return 'Y';
    case 'Y':
      return 'R';
    case 'K':
      return 'M';
    case 'M':
      return 'K';
    case 'B':
      return 'V';
    case 'V':
      return 'B';
    case 'D':
      return 'H';
    case 'H':
      return 'D';
    default:
      return c;  // S, W, N, X and the gap are their own
  }
}

// The reverse complement of letters (the minus strand's window at p is the
// last W letters of its first n - p).
void ReverseComplement(const std::string& letters, std::string& out) {
  static constexpr auto kTable = [] {
    std::array<char, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = Complement(static_cast<char>(c));
    return t;
  }();
  out.resize(letters.size());
  const size_t n = letters.size();
  for (size_t i = 0; i < n; ++i) out[i] = kTable[static_cast<unsigned char>(letters[n - 1 - i])];
}

enum class ScanFormat { kBed, kBedGraph, kBigWig, kTsv };

struct ScanOptions {
  bool both = false;
  bool all_windows = false;  // else only the windows holding the model's core
  bool min_given = false;
  double min_score = 0;
  ScanFormat format = ScanFormat::kBed;
  bool output_given = false;
  std::string output;  // empty: standard output
};

// Windows per batch and strand: many (the tables' cache stays warm), within
// 64 MiB of cut letters over both strands and all threads.
int BatchOf(size_t width, int threads) {
  return static_cast<int>(std::clamp<size_t>(
      (size_t{32} << 20) / std::max<size_t>(width, 1) / static_cast<size_t>(std::max(threads, 1)),
      16, 131072));
}

double ParseScore(const std::string& text) {
  char* end = nullptr;
  const double x = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(x)) {
    OnErrorExit(kUnspecifiedError, "--min-score must be a number, not \"" + text + "\"");
  }
  return x;
}

ScanFormat ParseFormat(const std::string& text) {
  if (text == "bed") return ScanFormat::kBed;
  if (text == "bedgraph") return ScanFormat::kBedGraph;
  if (text == "bigwig") return ScanFormat::kBigWig;
  if (text == "tsv") return ScanFormat::kTsv;
  OnErrorExit(kUnspecifiedError,
              "--format must be bed, bedgraph, bigwig or tsv, not \"" + text + "\"");
}

// Letters a candidate window may hold: the four bases.
constexpr auto kBase = [] {
  std::array<unsigned char, 256> t{};
  for (char c : {'A', 'C', 'G', 'T'}) t[static_cast<unsigned char>(c)] = 1;
  return t;
}();

// The records of each FASTA file with their lengths, for a track that
// declares them first: from the file's index when it has one, else from a
// first pass over the file.
std::vector<std::vector<IndexedRecord>> RecordLengths(const std::vector<std::string>& fastas) {
  std::vector<std::vector<IndexedRecord>> all;
  std::unordered_map<std::string, std::string> file_of;
  for (const std::string& fasta : fastas) {
    struct stat st {};
    const std::string fai = FastaIndexPath(fasta);
    std::vector<IndexedRecord> records;
    if (stat(fai.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      records = ReadFastaIndex(fai);
    } else {
      FastaStream in(fasta);
      std::string name;
      std::vector<char> skip(kPiece);
      while (in.NextRecord(name)) {
        uint64_t n = 0;
        for (size_t got; (got = in.Read(skip.data(), skip.size())) > 0;) n += got;
        records.push_back({name, n});
      }
    }
    for (const IndexedRecord& r : records) {
      const auto [at, fresh] = file_of.emplace(r.name, fasta);
      if (!fresh) {
        Diagnose("the record " + r.name + " is in " + at->second +
                 (at->second == fasta ? " twice" : " and in " + fasta) +
                 ": a bigWig track holds one record of a name");
        OnErrorExit(kUnspecifiedError, "Records of one name in a bigWig track");
      }
    }
    all.push_back(std::move(records));
  }
  return all;
}

// A scored window's site: the record position of the model's first core
// letter, or of the window's first letter without a core (on the minus
// strand, of the reverse complement's window).
struct Site {
  long long position;
  float score;
  char strand;
  bool operator<(const Site& o) const {
    return position != o.position ? position < o.position : strand < o.strand;
  }
};

// Where the lines of a scan go, in each format. BED lines leave as their
// piece is scored; the sites of the other formats as soon as no later
// window can give a site before them, so memory stays within a few pieces.
class ScanSink {
 public:
  ScanSink(const ScanOptions& o, int W, int core_first, double cutoff,
           const std::vector<IndexedRecord>& records)
      : o_(o), W_(W), cutoff_(cutoff) {
    plus_offset_ = core_first;
    minus_offset_ = W - 1 - core_first;
    // Sites not yet written lie past the start of the next piece's first
    // site.
    lead_ = o.both ? std::min(plus_offset_, minus_offset_) : plus_offset_;
    if (o.format == ScanFormat::kBigWig) {
      track_.Open(o.output, records);
      return;
    }
    OpenOutput(out_, o.output);
    if (o.format == ScanFormat::kTsv) out_.Printf("name\tposition\tstrand\tscore\tcall\n");
  }

  void BeginRecord(const std::string& name, size_t index) {
    name_ = name;
    index_ = index;
    pending_.clear();
  }

  // The scores of the windows at record positions base .. base + count - 1
  // (NaN: not scored); minus is null on the plus strand alone.
  void Piece(long long base, int count, const float* plus, const float* minus) {
    if (o_.format == ScanFormat::kBed) {
      for (int p = 0; p < count; ++p) {
        for (int strand = 0; strand < (minus != nullptr ? 2 : 1); ++strand) {
          const float s = strand == 0 ? plus[p] : minus[p];
          if (!(static_cast<double>(s) > cutoff_)) continue;  // NaN included
          out_.Printf("%s\t%lld\t%lld\t.\t%.6f\t%c\n", name_.c_str(), base + p, base + p + W_,
                      static_cast<double>(s), strand == 0 ? '+' : '-');
        }
      }
      return;
    }
    auto listed = [this](float s) {
      return !std::isnan(s) && (!o_.min_given || static_cast<double>(s) > o_.min_score);
    };
    fresh_plus_.clear();
    fresh_minus_.clear();
    for (int p = 0; p < count; ++p) {
      if (listed(plus[p])) fresh_plus_.push_back({base + p + plus_offset_, plus[p], '+'});
      if (minus != nullptr && listed(minus[p])) {
        fresh_minus_.push_back({base + p + minus_offset_, minus[p], '-'});
      }
    }
    // Each list is in position order already: merged with what waits.
    merged_.clear();
    std::merge(fresh_plus_.begin(), fresh_plus_.end(), fresh_minus_.begin(), fresh_minus_.end(),
               std::back_inserter(merged_));
    waiting_.clear();
    std::merge(pending_.begin(), pending_.end(), merged_.begin(), merged_.end(),
               std::back_inserter(waiting_));
    const long long limit = base + count + lead_;
    const auto ready = std::lower_bound(waiting_.begin(), waiting_.end(), Site{limit, 0, 0});
    Write(waiting_.begin(), ready);
    pending_.assign(ready, waiting_.end());
  }

  void EndRecord() {
    Write(pending_.begin(), pending_.end());
    pending_.clear();
  }

  void Close() {
    if (o_.format == ScanFormat::kBigWig) {
      track_.Close();
    } else {
      out_.Close();
    }
  }

 private:
  using Iterator = std::vector<Site>::const_iterator;

  void Write(Iterator begin, Iterator end) {
    if (o_.format == ScanFormat::kTsv) {
      for (auto s = begin; s != end; ++s) {
        out_.Printf("%s\t%lld\t%c\t%.6f\t%d\n", name_.c_str(), s->position, s->strand,
                    static_cast<double>(s->score), static_cast<double>(s->score) > cutoff_ ? 1 : 0);
      }
      return;
    }
    // One value per position: where both strands have a site there, the
    // higher score.
    starts_.clear();
    values_.clear();
    for (auto s = begin; s != end;) {
      float best = s->score;
      const long long at = s->position;
      for (++s; s != end && s->position == at; ++s) best = std::max(best, s->score);
      if (o_.format == ScanFormat::kBedGraph) {
        out_.Printf("%s\t%lld\t%lld\t%.6f\n", name_.c_str(), at, at + 1, static_cast<double>(best));
      } else {
        starts_.push_back(static_cast<uint32_t>(at));
        values_.push_back(best);
      }
    }
    if (o_.format == ScanFormat::kBigWig) track_.Add(index_, starts_, values_);
  }

  const ScanOptions& o_;
  const int W_;
  const double cutoff_;
  int plus_offset_ = 0, minus_offset_ = 0, lead_ = 0;
  OutputFile out_;
  BigWigTrack track_;
  std::string name_;
  size_t index_ = 0;
  std::vector<Site> fresh_plus_, fresh_minus_, merged_, waiting_, pending_;
  std::vector<uint32_t> starts_;
  std::vector<float> values_;
};

[[noreturn]] void UsageError(const std::string& why) {
  Diagnose(why);
  OnErrorExit(kUnspecifiedError, std::string("Usage: ") + kScanUsageLine);
}

}  // namespace

PieceScanner::PieceScanner(const SavedScorer& scorer, bool both, bool all_windows, int threads,
                           double cutoff)
    : scorer_(scorer),
      both_(both),
      all_windows_(all_windows),
      threads_(threads),
      width_(scorer.window_letters()),
      cutoff_(cutoff) {
  if (!all_windows) core_ = scorer.core();
}

void PieceScanner::Score(const std::string& letters, std::vector<float>& plus,
                         std::vector<float>& minus) {
  const int W = width_;
  const long long windows = static_cast<long long>(letters.size()) - W + 1;
  const int count = static_cast<int>(std::max(windows, 0LL));
  plus.resize(static_cast<size_t>(count));
  minus.resize(both_ ? static_cast<size_t>(count) : 0);
  if (count == 0) return;
  constexpr float kNotScored = std::numeric_limits<float>::quiet_NaN();
  const SavedScorer& scorer = scorer_;
  const int threads = threads_;
  const bool all_windows = all_windows_;
  const std::vector<std::pair<int, char>>& core = core_;
  auto candidate = [&core](const char* window) {
    for (const auto& [p, letter] : core) {
      if (window[p] != letter) return false;
    }
    return true;
  };
  std::string& complement = complement_;
  std::vector<int>& others = others_;  // letters other than the four bases before each position
  std::atomic<long long> scored{0}, skipped{0};
  if (both_) ReverseComplement(letters, complement);
  const size_t n = letters.size();
  if (!all_windows) {
    others.resize(n + 1);
    others[0] = 0;
    for (size_t k = 0; k < n; ++k) {
      others[k + 1] = others[k] + (kBase[static_cast<unsigned char>(letters[k])] == 0);
    }
  }
  const bool both = both_;
  ParallelPieces(count, threads, 1024, [&](int begin, int end) {
    // Windows are scored in batches, one per strand (the tables work
    // through many windows position by position, and make use of windows
    // that follow one another letter by letter).
    const auto scratch = scorer.NewScratch();
    const size_t width = static_cast<size_t>(scorer.masked_length());
    const int kBatch = BatchOf(width, threads);
    struct Batch {
      std::string cut;
      std::vector<const char*> windows;
      std::vector<float*> target;
    } strand[2];
    std::vector<float> scores(static_cast<size_t>(kBatch));
    long long own = 0, own_skipped = 0;
    auto flush = [&](Batch& b) {
      if (b.windows.empty()) return;
      own += static_cast<long long>(b.windows.size());
      scorer.ScoreMany(b.windows.data(), static_cast<int>(b.windows.size()), scores.data(),
                       scratch.get(), cutoff_);
      for (size_t k = 0; k < b.windows.size(); ++k) *b.target[k] = scores[k];
      b.windows.clear();
      b.target.clear();
    };
    // A candidate window joins its strand's batch; any other gets no score.
    auto take = [&](Batch& b, const char* window, bool clean, float& score) {
      score = kNotScored;
      if (!candidate(window)) return;
      if (!clean) {
        ++own_skipped;
        return;
      }
      if (b.cut.empty()) b.cut.resize(static_cast<size_t>(kBatch) * width);
      b.windows.push_back(scorer.Prepare(window, b.cut.data() + b.windows.size() * width));
      b.target.push_back(&score);
      if (b.windows.size() == static_cast<size_t>(kBatch)) flush(b);
    };
    for (int p = begin; p < end; ++p) {
      // Both strands' windows at p hold the same letters.
      const bool clean = all_windows || others[static_cast<size_t>(p) + W] == others[p];
      take(strand[0], letters.data() + p, clean, plus[p]);
      if (both)
        take(strand[1], complement.data() + (n - static_cast<size_t>(p) - W), clean, minus[p]);
    }
    flush(strand[0]);
    flush(strand[1]);
    scored += own;
    skipped += own_skipped;
  });
  scored_ += scored;
  skipped_ += skipped;
}

int RunScan(const std::vector<std::string>& args, int threads, bool progress_lines) {
  ScanOptions o;
  size_t i = 2;
  for (; i < args.size() && args[i].compare(0, 2, "--") == 0; ++i) {
    const std::string& option = args[i];
    if (option == "--all-windows") {
      o.all_windows = true;
      continue;
    }
    if (option != "--strands" && option != "--min-score" && option != "--format" &&
        option != "--output") {
      Diagnose("unknown option " + option);
      std::fprintf(stderr, "%s\n", kScanUsageLine);
      return 1;
    }
    if (i + 1 >= args.size()) OnErrorExit(kUnspecifiedError, option + " needs a value");
    const std::string& value = args[++i];
    if (option == "--strands") {
      if (value != "plus" && value != "both") {
        OnErrorExit(kUnspecifiedError, "--strands must be plus or both, not \"" + value + "\"");
      }
      o.both = value == "both";
    } else if (option == "--format") {
      o.format = ParseFormat(value);
    } else if (option == "--output") {
      if (value.empty()) OnErrorExit(kUnspecifiedError, "--output needs a file name");
      o.output_given = true;
      o.output = value == "-" ? "" : value;
    } else {
      o.min_given = true;
      o.min_score = ParseScore(value);
    }
  }
  // [parameters] model fasta [output], or with --output: [parameters]
  // model fasta...
  const size_t n_model = ModelArguments(args, i);
  const size_t at = i + n_model;
  if (args.size() < at + 1 || (!o.output_given && args.size() > at + 2)) {
    if (args.size() > at + 2) {
      Diagnose("several FASTA files are scanned into the file --output names");
    }
    std::fprintf(stderr, "%s\n", kScanUsageLine);
    return 1;
  }
  std::vector<std::string> fastas(
      args.begin() + static_cast<long>(at),
      o.output_given ? args.end() : args.begin() + static_cast<long>(at) + 1);
  if (!o.output_given && args.size() > at + 1) o.output = args[at + 1];
  if (std::count(fastas.begin(), fastas.end(), "-") > 1) {
    UsageError("standard input (-) can be read only once");
  }
  if (o.format == ScanFormat::kBigWig) {
    if (o.output.empty()) UsageError("--format bigwig writes a file: name it (--output FILE)");
    if (std::count(fastas.begin(), fastas.end(), "-") > 0) {
      UsageError(
          "--format bigwig needs the records' lengths before the scan: it cannot read standard "
          "input");
    }
  }
  std::vector<std::string> inputs;
  SavedScorer scorer = OpenScorer(args, i, n_model, inputs, threads, progress_lines);
  inputs.insert(inputs.end(), fastas.begin(), fastas.end());
  // The bigWig's chromosomes, file by file (none for the other formats).
  std::vector<std::vector<IndexedRecord>> lengths(fastas.size());
  if (o.format == ScanFormat::kBigWig) {
    for (const std::string& f : fastas) inputs.push_back(FastaIndexPath(f));
  }
  RefuseOutputOverInputs(o.output, scorer, inputs);
  const int W = scorer.window_letters();
  if (scorer.length() <= 0 || scorer.masked_length() <= 0) {
    OnErrorExit(kUnspecifiedError, "The model's windows have no letters: nothing to scan");
  }
  const double cutoff = o.min_given ? o.min_score : static_cast<double>(scorer.model().threshold());
  std::vector<IndexedRecord> records;  // of all files, in order
  if (o.format == ScanFormat::kBigWig) {
    lengths = RecordLengths(fastas);
    for (const auto& file : lengths) records.insert(records.end(), file.begin(), file.end());
  }

  // Without --all-windows only the windows that hold the model's core, and
  // only the four bases, are scored; the others get no line.
  const std::vector<std::pair<int, char>> core =
      o.all_windows ? std::vector<std::pair<int, char>>() : scorer.core();
  int core_first = 0;
  if (!scorer.core().empty()) {
    core_first = W;
    for (const auto& [p, letter] : scorer.core()) core_first = std::min(core_first, p);
  }
  Progress progress(progress_lines, "scanning, letters read", 0);
  ScanSink sink(o, W, core_first, cutoff, records);
  PieceScanner pieces(scorer, o.both, o.all_windows, threads, cutoff);
  long long positions = 0, short_records = 0;
  size_t record_index = 0;
  std::string name, letters;
  std::vector<float> plus, minus;
  for (size_t f = 0; f < fastas.size(); ++f) {
    FastaStream in(fastas[f]);
    const std::string shown = fastas[f] == "-" ? "standard input" : fastas[f];
    size_t in_file = 0;
    while (in.NextRecord(name)) {
      if (name.empty()) {
        Diagnose(shown + ": line " + std::to_string(in.header_line()) +
                 ": a record without a name (its header line holds no word)");
        OnErrorExit(kUnspecifiedError, "Sequence contains errors");
      }
      const IndexedRecord* expected = nullptr;
      if (o.format == ScanFormat::kBigWig) {
        expected = in_file < lengths[f].size() ? &lengths[f][in_file] : nullptr;
        if (expected == nullptr || expected->name != name) {
          Diagnose(FastaIndexPath(fastas[f]) + " does not fit " + shown + ": its record " +
                   std::to_string(in_file + 1) + " is " +
                   (expected != nullptr ? expected->name : std::string("missing")) +
                   ", the file's is " + name);
          OnErrorExit(kUnspecifiedError, "FASTA index does not fit its file");
        }
      }
      sink.BeginRecord(name, record_index);
      letters.clear();
      long long base = 0;  // the record position of letters[0]
      uint64_t length = 0;
      bool more = true;
      while (more) {
        const size_t old = letters.size();
        letters.resize(old + kPiece);
        const size_t got = in.Read(&letters[old], kPiece);
        letters.resize(old + got);
        length += got;
        more = got == kPiece;
        progress.Advance(static_cast<long long>(got));
        const long long windows = static_cast<long long>(letters.size()) - W + 1;
        if (windows <= 0) continue;
        const int count = static_cast<int>(windows);
        pieces.Score(letters, plus, minus);
        sink.Piece(base, count, plus.data(), o.both ? minus.data() : nullptr);
        positions += count;
        // The last W - 1 letters start the windows of the next piece.
        letters.erase(0, static_cast<size_t>(count));
        base += count;
      }
      if (length < static_cast<uint64_t>(W)) ++short_records;
      if (expected != nullptr && expected->length != length) {
        Diagnose(FastaIndexPath(fastas[f]) + " does not fit " + shown + ": it gives the record " +
                 name + " " + std::to_string(expected->length) + " letters, the file " +
                 std::to_string(length));
        OnErrorExit(kUnspecifiedError, "FASTA index does not fit its file");
      }
      sink.EndRecord();
      ++record_index;
      ++in_file;
    }
    if (in_file < lengths[f].size()) {
      Diagnose(FastaIndexPath(fastas[f]) + " does not fit " + shown + ": it lists " +
               lengths[f][in_file].name + ", which the file does not hold");
      OnErrorExit(kUnspecifiedError, "FASTA index does not fit its file");
    }
  }
  sink.Close();
  std::string line = "varnik: scan: " + std::to_string(positions) + " positions" +
                     (o.both ? " on each strand" : "") + ", " + std::to_string(pieces.scored()) +
                     " windows scored" + (core.empty() ? "" : " (those holding the model's core)");
  if (!o.all_windows) {
    line += ", " + std::to_string(pieces.skipped()) + " skipped for letters other than A, C, G, T";
  }
  if (short_records > 0) {
    line += ", " + std::to_string(short_records) + " record" + (short_records == 1 ? "" : "s") +
            " shorter than the window";
  }
  std::fprintf(stderr, "%s\n", line.c_str());
  return 0;
}

}  // namespace varnik
