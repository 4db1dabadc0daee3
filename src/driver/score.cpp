#include "driver/score.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/error.h"
#include "core/output_file.h"
#include "core/parallel.h"
#include "core/progress.h"
#include "driver/file_roles.h"
#include "driver/mask.h"
#include "driver/model_file.h"
#include "driver/parameters.h"
#include "driver/saved_model.h"
#include "sequence/fasta.h"
#include "sequence/protein.h"

namespace varnik {

void RefuseOutputOverInputs(const std::string& output, const SavedScorer& scorer,
                            const std::vector<std::string>& inputs) {
  std::vector<NamedFile> in;
  for (const std::string& i : inputs) in.push_back({i, "input file"});
  if (!scorer.self_contained() && !MaskFileIsNil(scorer.settings().Mask_file)) {
    in.push_back({scorer.settings().Mask_file, "mask file"});
  }
  if (output.empty()) {
    RefuseStandardOutputOver(in);
  } else {
    RefuseClashingFiles({{output, "output"}}, in);
  }
}

SavedScorer::SavedScorer(const std::string& params_path, const std::string& model_path, int threads,
                         bool progress) {
  // The windows are cut as training cut them: the same parameters, echoed
  // nowhere.
  settings_.threads = threads;
  settings_.progress = progress;
  settings_.messages_on_stderr = true;
  const ParameterFile params = ParameterFile::Read(params_path, "LoadString");
  OutputFile sink;
  LoadGlobalParameters(params, settings_, sink);
  WarnAboutParameters(params, settings_);
  CheckParameterValues(params, settings_);
  std::unique_ptr<SvmRecognizer> svm = LoadModel(model_path);
  masked_length_ = svm->length();
  if (!MaskFileIsNil(settings_.Mask_file)) {
    mask_ = ReadMaskFile(settings_.Mask_file, svm->length());
    masked_length_ = 0;
    for (int f : mask_) masked_length_ += f != 0;
  }
  CheckWindowLength(*svm, masked_length_, model_path);
  model_ = std::move(svm);
  cutoff_ = model_->threshold();
  FoldTables();
}

SavedScorer::SavedScorer(const std::string& model_path, int threads, bool progress) {
  SelfContainedModel m = ReadModelFile(model_path);
  self_contained_ = true;
  // The windows are cut as training cut them: the model's own window.
  settings_ = m.settings;
  settings_.Offset = m.window.offset;
  settings_.Length = m.window.sequence_length;
  settings_.Use_protein_sequence = m.window.protein;
  settings_.threads = threads;
  settings_.progress = progress;
  settings_.messages_on_stderr = true;
  mask_ = std::move(m.window.mask);
  kept_ = std::move(m.window.kept);
  core_ = std::move(m.window.core);
  masked_length_ = m.window.length;
  model_ = std::move(m.recognizer);
  cutoff_ = model_->threshold();
  FoldTables();
}

void SavedScorer::FoldTables() {
  if (model_->method() != kSVM) return;
  table_ = WdTable::Build(*static_cast<const SvmRecognizer&>(*model_).svm);
  if (table_ != nullptr && table_->length() != masked_length_) table_.reset();
}

const char* SavedScorer::Prepare(const char* window, char* out) const {
  const bool protein = settings_.Use_protein_sequence != 0;
  const int L = model_->length();
  if (!protein && mask_.empty() && kept_.empty()) return window;
  // Each step reads the letters of the one before it; the last writes out.
  char first[4096], second[4096];
  std::string long_first, long_second;
  auto room = [L](char* fixed, std::string& grown) {
    if (L <= 4096) return fixed;
    grown.resize(static_cast<size_t>(L));
    return grown.data();
  };
  if (protein) {
    char* to = mask_.empty() && kept_.empty() ? out : room(first, long_first);
    for (int c = 0; c < L; ++c) to[c] = TranslateCodon(window + 3 * c);
    window = to;
  }
  if (!mask_.empty()) {
    char* to = kept_.empty() ? out : room(second, long_second);
    int k = 0;
    for (int p = 0; p < L; ++p) {
      if (mask_[p] != 0) to[k++] = window[p];
    }
    window = to;
  }
  if (!kept_.empty()) {
    for (size_t i = 0; i < kept_.size(); ++i) out[i] = window[kept_[i]];
  }
  return out;
}

size_t ModelArguments(const std::vector<std::string>& args, size_t first) {
  return first < args.size() && IsModelFile(args[first]) ? 1 : 2;
}

SavedScorer OpenScorer(const std::vector<std::string>& args, size_t first, size_t n_model,
                       std::vector<std::string>& inputs, int threads, bool progress) {
  if (n_model == 1) {
    inputs = {args[first]};
    return SavedScorer(args[first], threads, progress);
  }
  inputs = {args[first], args[first + 1], args[first + 1] + ".svm"};
  return SavedScorer(args[first], args[first + 1], threads, progress);
}

void SavedScorer::ScoreMany(const char* const* windows, int count, float* out,
                            ScoreScratch* scratch, double cutoff) const {
  if (table_ != nullptr) {
    std::vector<double> decisions(static_cast<size_t>(count));
    table_->Decisions(reinterpret_cast<const unsigned char* const*>(windows), count,
                      decisions.data());
    for (int i = 0; i < count; ++i) {
      out[i] = static_cast<float>(decisions[i]);
      // Next to the cut-off a difference in the last digits could change
      // the call: such windows are scored the exact way.
      if (std::fabs(static_cast<double>(out[i]) - cutoff) <= 1e-5 * (1 + std::fabs(cutoff))) {
        out[i] = model_->Score(windows[i], masked_length_, 0, scratch);
      }
    }
    return;
  }
  model_->ScoreMany(windows, count, masked_length_, 0, out, scratch);
}

void OpenOutput(OutputFile& out, const std::string& output, const std::string& message) {
  if (output.empty()) {
    out.OpenStandardOutput();
    return;
  }
  if (!out.Open(output)) {
    Diagnose("cannot create " + output + ": " + SystemReason());
    OnErrorExit(kUnspecifiedError, message);
  }
}

std::vector<float> ScoreWindowsOf(const SavedScorer& scorer, const SequenceSet& windows, int read,
                                  const std::string& source, int threads, bool progress) {
  const int L = scorer.settings().Use_protein_sequence ? read / 3 : read;
  if (scorer.settings().Use_protein_sequence && read % 3 != 0) {
    OnErrorExit(kUnspecifiedError, "Cannot convert to protein if incomplete codons");
  }
  if (L != scorer.length()) {
    OnErrorExit(kUnspecifiedError, "The windows of " + source + " have " + std::to_string(L) +
                                       " letters, the model's " + std::to_string(scorer.length()));
  }
  std::vector<float> scores(static_cast<size_t>(windows.size()));
  Progress lines(progress, "scoring windows", windows.size());
  ParallelPieces(windows.size(), threads, 64, [&](int begin, int end) {
    const auto scratch = scorer.NewScratch();
    const size_t width = static_cast<size_t>(scorer.masked_length());
    // Many windows per batch, within 32 MiB of letters over all threads.
    const int kBatch = static_cast<int>(std::clamp<size_t>(
        (size_t{32} << 20) / std::max<size_t>(width, 1) / static_cast<size_t>(std::max(threads, 1)),
        16, 16384));
    std::string cut(kBatch * width, '\0');
    std::vector<const char*> batch;
    for (int first = begin; first < end; first += kBatch) {
      const int count = std::min(kBatch, end - first);
      batch.clear();
      for (int i = 0; i < count; ++i) {
        batch.push_back(scorer.Prepare(windows[first + i], cut.data() + i * width));
      }
      scorer.ScoreMany(batch.data(), count, scores.data() + first, scratch.get());
      lines.Advance(count);
    }
  });
  return scores;
}

int RunScore(const std::vector<std::string>& args, int threads, bool progress) {
  // score model fasta [output], or score parameters model fasta [output].
  const size_t n_model = ModelArguments(args, 2);
  if (args.size() < 3 + n_model || args.size() > 4 + n_model) {
    std::fprintf(stderr, "%s\n", kScoreUsageLine);
    return 1;
  }
  const size_t at = 2 + n_model;
  std::vector<std::string> inputs;
  const SavedScorer scorer = OpenScorer(args, 2, n_model, inputs, threads, progress);
  const std::string& fasta_path = args[at];
  const std::string output = args.size() > at + 1 ? args[at + 1] : "";
  inputs.push_back(fasta_path);
  RefuseOutputOverInputs(output, scorer, inputs);
  SequenceSet windows;
  std::vector<std::string> names;
  const int read = ReadFastaFile(fasta_path, scorer.settings(), windows, &names);
  const std::vector<float> scores =
      ScoreWindowsOf(scorer, windows, read, fasta_path, threads, progress);
  OutputFile out;
  OpenOutput(out, output);
  const float threshold = scorer.model().threshold();
  for (int i = 0; i < windows.size(); ++i) {
    const int call = scores[i] > threshold ? 1 : 0;
    out.Printf("%s\t%.6f\t%d\n", names[i].c_str(), static_cast<double>(scores[i]), call);
  }
  out.Close();
  return 0;
}

}  // namespace varnik
