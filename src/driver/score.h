// "varnik score" and "varnik scan": a saved recogniser applied to new
// sequences, its windows cut as training cut them.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/output_file.h"
#include "core/sequence_set.h"
#include "core/settings.h"
#include "recognizers/svm_recognizer.h"
#include "svm/svm_wd_table.h"

namespace varnik {

inline constexpr const char* kScoreUsageLine = "varnik score [parameters] model fasta [output]";
inline constexpr const char* kScanUsageLine =
    "varnik scan [--strands plus|both] [--min-score X] [--all-windows] "
    "[--format bed|bedgraph|bigwig|tsv] [--output FILE] [parameters] model fasta [output]";

// A saved model with what cuts its windows: a self-contained model file, or
// a saved SVM with the parameters file of its training. Weighted-degree
// models also get their support vectors folded into tables (scores equal
// the exact ones up to rounding in the last digits); other models score the
// exact way.
class SavedScorer {
 public:
  // The saved SVM (its header and ".svm" file) with its parameters.
  SavedScorer(const std::string& params_path, const std::string& model_path, int threads,
              bool progress);
  // A self-contained model file.
  SavedScorer(const std::string& model_path, int threads, bool progress);
  const Settings& settings() const { return settings_; }
  const Recognizer& model() const { return *model_; }
  bool self_contained() const { return self_contained_; }
  // The letters every training window held at these positions (empty for a
  // saved SVM and for protein windows).
  const std::vector<std::pair<int, char>>& core() const { return core_; }
  // The window length before a mask and feature selection (as read, after
  // a translation) and after them.
  int length() const { return model_->length(); }
  int masked_length() const { return masked_length_; }
  bool masked() const { return !mask_.empty(); }
  // Letters of a window as a record holds them (three per letter scored of
  // protein windows).
  int window_letters() const {
    return settings_.Use_protein_sequence ? 3 * model_->length() : model_->length();
  }
  // A window of length() letters (DNA: 3 length() with protein windows) as
  // the model scores it: translated, cut by the mask, narrowed to the
  // positions feature selection kept, into out (masked_length() letters).
  // Returns out, or the window itself when it is scored as it stands.
  const char* Prepare(const char* window, char* out) const;
  std::unique_ptr<ScoreScratch> NewScratch() const { return model_->NewScratch(); }
  // The scores of windows of masked_length() letters.
  void ScoreMany(const char* const* windows, int count, float* out, ScoreScratch* scratch) const {
    ScoreMany(windows, count, out, scratch, cutoff_);
  }
  // The same with windows next to cutoff (not the scorer's own) scored the
  // exact way.
  void ScoreMany(const char* const* windows, int count, float* out, ScoreScratch* scratch,
                 double cutoff) const;
  bool tabled() const { return table_ != nullptr; }

 private:
  void FoldTables();
  Settings settings_;
  std::unique_ptr<Recognizer> model_;
  bool self_contained_ = false;
  std::unique_ptr<WdTable> table_;
  std::vector<int> mask_;
  std::vector<int> kept_;
  std::vector<std::pair<int, char>> core_;
  int masked_length_ = 0;
  double cutoff_ = 0;
};

// Scores the windows of pieces of a record as scan does: plus[p] the window
// at letters[p], minus[p] (with both strands) its reverse complement; NaN
// for a window that is not scored (unless all windows are: one without the
// model's core, or, with it, holding letters other than A, C, G, T).
class PieceScanner {
 public:
  // Scores next to cutoff are the exact ones (see SavedScorer::ScoreMany).
  PieceScanner(const SavedScorer& scorer, bool both, bool all_windows, int threads, double cutoff);
  // The letters' windows (letters.size() - W + 1 of them, W the window's
  // letters).
  void Score(const std::string& letters, std::vector<float>& plus, std::vector<float>& minus);
  int window_letters() const { return width_; }
  // Windows scored, and candidates skipped for other letters, so far.
  long long scored() const { return scored_; }
  long long skipped() const { return skipped_; }

 private:
  const SavedScorer& scorer_;
  bool both_, all_windows_;
  int threads_;
  int width_;
  double cutoff_;
  std::vector<std::pair<int, char>> core_;  // empty with all windows
  std::string complement_;
  std::vector<int> others_;
  long long scored_ = 0, skipped_ = 0;
};

// Opens the output file, or standard output when the name is empty; message
// is the error's when the file cannot be made.
void OpenOutput(OutputFile& out, const std::string& output,
                const std::string& message = "Cannot open file for saving outputs");

// How many arguments from args[first] name the model: 1 for a self-contained
// model file (told by its first line), 2 for a parameters file and a saved
// SVM.
size_t ModelArguments(const std::vector<std::string>& args, size_t first);
// The scorer of the n_model arguments from args[first] (there must be as
// many). Sets inputs to the files it reads.
SavedScorer OpenScorer(const std::vector<std::string>& args, size_t first, size_t n_model,
                       std::vector<std::string>& inputs, int threads, bool progress);

// Refuses an output file that is one of the inputs or the scorer's mask file.
void RefuseOutputOverInputs(const std::string& output, const SavedScorer& scorer,
                            const std::vector<std::string>& inputs);

// The scores of windows read for the scorer (read letters each, as the
// reader cut them; source names them in messages), on up to threads threads.
std::vector<float> ScoreWindowsOf(const SavedScorer& scorer, const SequenceSet& windows, int read,
                                  const std::string& source, int threads, bool progress);

// args[0] is the command name, args[1] "score". Writes one line per window,
// "name<TAB>score<TAB>call" (call 1 when the score is above the model's
// threshold), to the output file or standard output. Returns the exit status.
int RunScore(const std::vector<std::string>& args, int threads, bool progress);

// args[1] is "scan": slides the model's window over the positions of the
// records (and of their reverse complements with --strands both) and writes
// a BED line per window scoring above the threshold (or --min-score), or the
// scored windows' sites as a bedGraph, bigWig or TSV track.
int RunScan(const std::vector<std::string>& args, int threads, bool progress);

}  // namespace varnik
