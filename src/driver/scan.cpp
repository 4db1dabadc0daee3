// "varnik scan": the model's window slid over every position of long
// sequences, read piece by piece.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "core/error.h"
#include "core/output_file.h"
#include "core/parallel.h"
#include "core/progress.h"
#include "driver/score.h"
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

struct ScanOptions {
  bool both = false;
  bool all_windows = false;  // else only the windows holding the model's core
  bool min_given = false;
  double min_score = 0;
};

// Windows per batch: many (the tables' cache stays warm), within 64 MiB of
// letters over all threads.
int BatchOf(size_t width, int threads) {
  return static_cast<int>(std::clamp<size_t>(
      (size_t{32} << 20) / std::max<size_t>(width, 1) / static_cast<size_t>(std::max(threads, 1)),
      16, 32768));
}

double ParseScore(const std::string& text) {
  char* end = nullptr;
  const double x = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(x)) {
    OnErrorExit(kUnspecifiedError, "--min-score must be a number, not \"" + text + "\"");
  }
  return x;
}

}  // namespace

int RunScan(const std::vector<std::string>& args, int threads, bool progress_lines) {
  ScanOptions o;
  size_t i = 2;
  for (; i < args.size() && args[i].compare(0, 2, "--") == 0; ++i) {
    const std::string& option = args[i];
    if (option == "--all-windows") {
      o.all_windows = true;
      continue;
    }
    if (option != "--strands" && option != "--min-score") {
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
    } else {
      o.min_given = true;
      o.min_score = ParseScore(value);
    }
  }
  // [parameters] model fasta [output]
  const size_t n_model = ModelArguments(args, i);
  if (args.size() < i + n_model + 1 || args.size() > i + n_model + 2) {
    std::fprintf(stderr, "%s\n", kScanUsageLine);
    return 1;
  }
  const size_t at = i + n_model;
  std::vector<std::string> inputs;
  SavedScorer scorer = OpenScorer(args, i, n_model, inputs, threads, progress_lines);
  const std::string fasta = args[at];
  const std::string output = args.size() > at + 1 ? args[at + 1] : "";
  inputs.push_back(fasta);
  RefuseOutputOverInputs(output, scorer, inputs);
  const bool protein = scorer.settings().Use_protein_sequence != 0;
  const int W = protein ? 3 * scorer.length() : scorer.length();  // letters per window
  if (scorer.length() <= 0 || scorer.masked_length() <= 0) {
    OnErrorExit(kUnspecifiedError, "The model's windows have no letters: nothing to scan");
  }
  const double cutoff = o.min_given ? o.min_score : static_cast<double>(scorer.model().threshold());
  scorer.set_cutoff(cutoff);
  FastaStream in(fasta);
  Progress progress(progress_lines, "scanning, letters read", 0);
  OutputFile out;
  OpenOutput(out, output);

  // Without --all-windows only the windows that hold the model's core are
  // scored; the others get no line.
  const std::vector<std::pair<int, char>> core =
      o.all_windows ? std::vector<std::pair<int, char>>() : scorer.core();
  auto candidate = [&core](const char* window) {
    for (const auto& [p, letter] : core) {
      if (window[p] != letter) return false;
    }
    return true;
  };
  std::atomic<long long> scored{0};
  long long positions = 0;
  constexpr float kNotScored = std::numeric_limits<float>::quiet_NaN();
  std::string name, letters, complement;
  std::vector<float> plus, minus;
  while (in.NextRecord(name)) {
    letters.clear();
    long long base = 0;  // the record position of letters[0]
    bool more = true;
    while (more) {
      const size_t old = letters.size();
      letters.resize(old + kPiece);
      const size_t got = in.Read(&letters[old], kPiece);
      letters.resize(old + got);
      more = got == kPiece;
      progress.Advance(static_cast<long long>(got));
      const long long windows = static_cast<long long>(letters.size()) - W + 1;
      if (windows > 0) {
        const int count = static_cast<int>(windows);
        plus.resize(static_cast<size_t>(count));
        minus.resize(o.both ? static_cast<size_t>(count) : 0);
        if (o.both) ReverseComplement(letters, complement);
        const size_t n = letters.size();
        ParallelPieces(count, threads, 1024, [&](int begin, int end) {
          // Windows are scored in batches (the tables work through many
          // windows position by position).
          const auto scratch = scorer.NewScratch();
          const size_t width = static_cast<size_t>(scorer.masked_length());
          const int kBatch = BatchOf(width, threads);
          std::string cut(2 * kBatch * width, '\0');
          std::vector<const char*> batch;
          std::vector<float*> target;
          std::vector<float> scores(2 * kBatch);
          long long own = 0;
          auto flush = [&] {
            own += static_cast<long long>(batch.size());
            scorer.ScoreMany(batch.data(), static_cast<int>(batch.size()), scores.data(),
                             scratch.get());
            for (size_t k = 0; k < batch.size(); ++k) *target[k] = scores[k];
            batch.clear();
            target.clear();
          };
          // A candidate window joins the batch; any other gets no score.
          auto take = [&](const char* window, float& score) {
            if (!candidate(window)) {
              score = kNotScored;
              return;
            }
            batch.push_back(scorer.Prepare(window, cut.data() + batch.size() * width));
            target.push_back(&score);
          };
          for (int p = begin; p < end; ++p) {
            take(letters.data() + p, plus[p]);
            if (o.both) take(complement.data() + (n - static_cast<size_t>(p) - W), minus[p]);
            if (batch.size() + 2 > static_cast<size_t>(2 * kBatch)) flush();
          }
          flush();
          scored += own;
        });
        for (int p = 0; p < count; ++p) {
          for (int strand = 0; strand < (o.both ? 2 : 1); ++strand) {
            const float s = strand == 0 ? plus[p] : minus[p];
            if (!(static_cast<double>(s) > cutoff)) continue;  // NaN included
            out.Printf("%s\t%lld\t%lld\t.\t%.6f\t%c\n", name.c_str(), base + p, base + p + W,
                       static_cast<double>(s), strand == 0 ? '+' : '-');
          }
        }
        positions += count;
        // The last W - 1 letters start the windows of the next piece.
        letters.erase(0, static_cast<size_t>(count));
        base += count;
      }
    }
  }
  out.Close();
  std::fprintf(stderr, "varnik: scan: %lld positions%s, %lld windows scored%s\n", positions,
               o.both ? " on each strand" : "", scored.load(),
               core.empty() ? "" : " (those holding the model's core)");
  return 0;
}

}  // namespace varnik
