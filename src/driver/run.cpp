#include "driver/run.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <new>

#include "core/error.h"
#include "core/output_file.h"
#include "core/parallel.h"
#include "core/random.h"
#include "core/recognizer.h"
#include "core/settings.h"
#include "driver/curves.h"
#include "driver/evaluation.h"
#include "driver/explain.h"
#include "driver/file_roles.h"
#include "driver/mask.h"
#include "driver/model_file.h"
#include "driver/parameters.h"
#include "driver/saved_model.h"
#include "driver/score.h"
#include "learners/ensemble.h"
#include "learners/feature_selection.h"
#include "learners/methods.h"
#include "learners/parameter_search.h"
#include "learners/stacking.h"
#include "recognizers/c45.h"
#include "recognizers/knn.h"
#include "recognizers/neural_network.h"
#include "recognizers/pwm.h"
#include "recognizers/stop_codon.h"
#include "recognizers/svm_recognizer.h"
#include "sequence/encoding.h"
#include "sequence/fasta.h"
#include "sequence/imbalance.h"
#include "sequence/protein.h"
#include "tree/tree_engine.h"

namespace varnik {

namespace {

void WriteElapsed(OutputFile& out, const char* label, std::time_t since) {
  const long seconds = static_cast<long>(std::time(nullptr) - since);
  out.Printf("%s time: %02ld:%02ld:%02ld\n", label, seconds / 3600, (seconds % 3600) / 60,
             seconds % 60);
}

class Run {
 public:
  Run(const std::vector<std::string>& args, int threads, bool progress, std::string model_path,
      long long memory_bytes)
      : args_(args), model_path_(std::move(model_path)) {
    settings_.threads = threads;
    settings_.progress = progress;
    settings_.memory_bytes = memory_bytes;
  }

  // No line on standard output, no closing line, and a warning about a
  // parameters line ends the run.
  void set_quiet() {
    quiet_ = true;
    settings_.messages_on_stderr = true;
  }
  const TrainingOutcome& outcome() const { return outcome_; }

  int Execute() {
    // The parameters file is read once (it may be a pipe); a failure to read
    // it is reported once the report is open, as it always was.
    ParameterFile params;
    std::exception_ptr params_failure;
    try {
      params = ParameterFile::Read(args_[3], "LoadString");
    } catch (const VarnikError&) {
      params_failure = std::current_exception();
    }
    RefuseClashingFiles(params);
    OpenReport();
    if (params_failure) std::rethrow_exception(params_failure);
    LoadGlobalParameters(params, settings_, out_);
    if (quiet_) {
      WarnAboutParameters(params, settings_, [](const std::string& warning) {
        OnErrorExit(kUnspecifiedError, warning);
      });
    } else {
      WarnAboutParameters(params, settings_);
    }
    ReadFifthArgument();
    CheckParameterValues(params, settings_);
    SeedGenerator();
    ReadWindows(args_[1], positives_, negatives_, true);
    read_length_ = L_;
    if (!model_path_.empty() && !settings_.Use_protein_sequence) FindCore();
    ReadMask();
    if (mask_) L_ = ApplyMaskToBoth(positives_, negatives_, mask_flags_);
    start_ = std::time(nullptr);
    TreatImbalance();
    if (!SelectFeatures()) {  // Exit_after_FS
      WriteElapsed(out_, "FEATURE SELECTION", start_);
      out_.Close();
      return 1;
    }
    PrepareTreeEngine();
    Train();
    model_->set_length(read_length_);
    if (!quiet_) {
      std::fputs("Training of the model finished\n", stdout);
      std::fflush(stdout);
    }
    if (settings_.save_model) SaveModel(*model_, SavedModelPath(args_[1], args_[4]));
    if (!model_path_.empty()) {
      WriteModelFile(model_path_, *model_, Window(), positives_.size(), negatives_.size());
    }
    if (settings_.save_outputs) SaveTrainingOutputs();
    WriteElapsed(out_, "TRAINING", start_);
    if (settings_.Eval_training) {
      const EvaluationResults r = EvaluateRecognizer(*model_, positives_, negatives_, L_, 0,
                                                     nullptr, nullptr, settings_.threads);
      WriteTrainingResults(out_, r, positives_.size(), settings_.R_method);
      outcome_.training_evaluated = true;
      outcome_.training = r;
    }
    // The training windows are released unless a recogniser refers to them
    // (k-NN) or the stacking report still needs the positives.
    if (!keep_training_) {
      if (!settings_.Stacking) positives_ = SequenceSet();
      negatives_ = SequenceSet();
    }
    dropped_negatives_ = SequenceSet();
    if (strncasecmp(args_[2].c_str(), "NIL", 3) == 0) {
      out_.Close();
      if (!quiet_) {
        std::fprintf(stderr, "varnik: trained, no test windows; report %s\n", args_[4].c_str());
      }
      return 1;
    }
    Test();
    out_.Close();
    if (quiet_) return 0;
    std::fprintf(stderr, "varnik: test %s, G-measure %.4f, error %.4f; report %s\n",
                 MeasuresText(auc_, ap_).c_str(), static_cast<double>(results_.G_measure),
                 static_cast<double>(results_.error), args_[4].c_str());
    return 0;
  }

 private:
  // No file the run writes may be one it reads, nor another file it writes:
  // the report would truncate the parameters before they are read, an
  // outputs file could replace the windows or the report. Checked before
  // anything is written.
  void RefuseClashingFiles(const ParameterFile& params) const {
    std::vector<NamedFile> inputs = {{args_[3], "parameters file"}};
    // The data directory and the mask file, read quietly: any problem with
    // them is reported once the report is open.
    const Settings written = SettingsAsWritten(params);
    const std::string& data_directory = written.Datad;
    const std::string& mask = written.Mask_file;
    if (!MaskFileIsNil(mask)) inputs.push_back({mask, "mask file"});
    const bool test = strncasecmp(args_[2].c_str(), "NIL", 3) != 0;
    const char* home = std::getenv("HOME");
    for (int t = 0; t < (test ? 2 : 1); ++t) {
      for (const char* suffix : {"pos", "neg"}) {
        const std::string local = args_[1 + t] + suffix;
        const std::string role = std::string(t == 0 ? "training" : "test") + " windows file";
        inputs.push_back({local, role});
        if (home != nullptr)
          inputs.push_back({std::string(home) + "/" + data_directory + "/" + local, role});
      }
    }
    std::vector<NamedFile> outputs = {{args_[4], "report"},
                                      {args_[4] + "-auc", "AUC file"},
                                      {args_[4] + "-roc.svg", "ROC picture"},
                                      {args_[4] + "-pr.svg", "precision-recall picture"},
                                      {args_[4] + "-curve.tsv", "curve table"}};
    const std::string fifth = args_.size() > 5 ? args_[5] : "";
    if (fifth.compare(0, 12, "save-outputs") == 0) {
      outputs.push_back({args_[1] + args_[4], "training outputs file"});
      if (test) outputs.push_back({args_[2] + args_[4], "test outputs file"});
    }
    if (!model_path_.empty()) outputs.push_back({model_path_, "model file"});
    if (fifth == "save-model") {
      const std::string model = SavedModelPath(args_[1], args_[4]);
      outputs.push_back({model, "model file"});
      outputs.push_back({model + ".svm", "SVM model file"});
    }
    varnik::RefuseClashingFiles(outputs, inputs);
  }

  void OpenReport() {
    if (!out_.Open(args_[4])) {
      Diagnose("cannot create report file " + args_[4] + ": " + SystemReason());
      OnErrorExit(kUnspecifiedError, "main: Cannot open output file\n");
    }
    // A run that fails keeps the report written so far.
    out_.set_keep_on_error(true);
  }

  void ReadFifthArgument() {
    if (args_.size() > 5) {
      const std::string& a = args_[5];
      if (a.compare(0, 12, "save-outputs") == 0) settings_.save_outputs = true;
      if (a == "save-model") settings_.save_model = true;
    }
    if (settings_.save_model && settings_.R_method != kSVM) {
      OnErrorExit(kUnspecifiedError, "Not yet implemented");
    }
  }

  void SeedGenerator() {
    if (settings_.Seed == 0) {
      settings_.Seed = -static_cast<int>(std::time(nullptr));
      out_.Printf("Random seed: %d\n", settings_.Seed);
    } else {
      out_.Printf("Random seed: %d (fixed)\n", settings_.Seed);
    }
    rng_.Seed(static_cast<unsigned int>(settings_.Seed));
  }

  // The first file read fixes the window length of every later one; longer
  // windows of a later file are cut to it, which is said when the length
  // was not asked for.
  int FixLength(int length, int record_length, const std::string& path) {
    if (settings_.Length == 0) {
      settings_.Length = length;
      length_fixed_by_ = path;
    } else if (!length_fixed_by_.empty() && record_length > settings_.Offset + settings_.Length) {
      Warn(path + ": windows of " + std::to_string(record_length) + " letters are cut to the " +
           std::to_string(settings_.Length) + " letters from " + ParameterKey(&Settings::Offset) +
           " " + std::to_string(settings_.Offset) + " that " + length_fixed_by_ + " gave the run");
    }
    return length;
  }

  // Reads the windows of one prefix and sets L_. Undersampling while reading
  // applies to the training negatives only.
  void ReadWindows(const std::string& prefix, SequenceSet& positives, SequenceSet& negatives,
                   bool training) {
    int record_length = 0;
    const std::string pos_path = WindowFilePath(prefix, "pos", settings_);
    L_ = ReadFastaFile(pos_path, settings_, positives, nullptr, &record_length);
    L_ = FixLength(L_, record_length, pos_path);
    if (training) record_length_ = record_length;
    out_.Printf("Positive sequences: %d\n", positives.size());
    const std::string neg_path = WindowFilePath(prefix, "neg", settings_);
    if (settings_.Imbalance_method == kUndersampling && training) {
      L_ = ReadFastaFileWithUndersampling(neg_path, settings_, negatives, positives.size(), rng_,
                                          &record_length);
    } else {
      L_ = ReadFastaFile(neg_path, settings_, negatives, nullptr, &record_length);
    }
    L_ = FixLength(L_, record_length, neg_path);
    out_.Printf("Negative sequences: %d\n", negatives.size());
    if (settings_.Use_protein_sequence) {
      ConvertToProtein(positives, L_);
      L_ = ConvertToProtein(negatives, L_);
    }
  }

  void ReadMask() {
    if (MaskFileIsNil(settings_.Mask_file)) return;
    mask_flags_ = ReadMaskFile(settings_.Mask_file, L_);
    mask_ = true;
  }

  int ApplyMaskToBoth(SequenceSet& positives, SequenceSet& negatives,
                      const std::vector<int>& flags) {
    ApplyMask(positives, L_, flags);
    return ApplyMask(negatives, L_, flags);
  }

  void TreatImbalance() {
    switch (settings_.Imbalance_method) {
      case kImbalanceNone:
      case kUndersampling:
        return;
      case kSmote: {
        const VdmMatrix vdm = ConstructValueDifferencesMatrix(positives_, negatives_, L_);
        SMOTEOverSampling(positives_, settings_.Smote_k, L_, vdm, settings_.Smote_N, rng_);
        // The negatives left out stay aside when every window's output is
        // still to be evaluated or written.
        const bool keep_rest = settings_.Eval_training || settings_.save_outputs;
        UndersampleData(negatives_, positives_.size(), rng_,
                        keep_rest ? &dropped_negatives_ : nullptr);
        return;
      }
      default:
        OnErrorExit(kUnspecifiedError, "Bad imbalance class method");
    }
  }

  // Narrows the training windows to the positions feature selection
  // chooses (the test windows get the same cut); false when the run is to
  // end after it.
  bool SelectFeatures() {
    if (settings_.FSAlgorithm != kFSRFE && settings_.FSAlgorithm != kFSGA) return true;
    SearchParameters();
    if (settings_.FSAlgorithm == kFSRFE) {
      RankPositions();
      if (settings_.Exit_after_FS) return false;
      if (std::fabs(settings_.FS_percent_to_keep) < 1e-6) {
        std::vector<int> ranking;
        for (const FeatureInfo& b : base_info_) ranking.push_back(b.feature);
        const FractionChoice choice = CrossValidateFeatureSelection(
            0.1f, positives_, negatives_, L_, ranking, settings_, out_, svm_rng_);
        choice.svm.ApplyTo(settings_);
        settings_.FS_percent_to_keep = choice.fraction;
        out_.Printf("Percentage to keep obtained using cross-validation: %lf\n",
                    static_cast<double>(settings_.FS_percent_to_keep));
      }
      // The negatives set aside by the imbalance step get the same cut: their
      // outputs are still to be written.
      SequenceSet none;
      CutToRankedPositions(L_, dropped_negatives_, none);
      L_ = CutToRankedPositions(L_, positives_, negatives_);
      out_.Printf("Selected %d bases (features)\n", L_);
      return true;
    }
    ga_flags_ = GAFeatureSelection(positives_, negatives_, L_, settings_, rng_, svm_rng_, out_);
    out_.Printf("GA feature selection\nFeature\tselected\n");
    for (int j = 0; j < L_; ++j) out_.Printf("%d\t%d\n", j + 1, ga_flags_[j]);
    if (settings_.Exit_after_FS) return false;
    if (std::count(ga_flags_.begin(), ga_flags_.end(), 0) == L_) {
      OnErrorExit(kUnspecifiedError, "The genetic algorithm kept no window position");
    }
    ApplyMask(dropped_negatives_, L_, ga_flags_);  // set aside, still to be written
    L_ = ApplyMaskToBoth(positives_, negatives_, ga_flags_);
    return true;
  }

  // Recursive feature elimination over the encoded features, its table, and
  // the ranking of the window positions (base_info_, best first).
  void RankPositions() {
    const ScalarData data = ConvertToScalarData(positives_, negatives_, L_, settings_.Kernel);
    std::vector<const float*> rows(static_cast<size_t>(data.ndata));
    for (int i = 0; i < data.ndata; ++i) rows[i] = data.row(i);
    // Labels as the scalar rows hold them (kRowPositive): RFE reads only the
    // size of the weights, which the side a class stands on does not change.
    const std::vector<int> labels(data.labels.begin(), data.labels.end());
    std::vector<FeatureInfo> f = RFE(rows, labels, data.dim, settings_, out_, svm_rng_);
    std::sort(f.begin(), f.end(),
              [](const FeatureInfo& a, const FeatureInfo& b) { return a.ranking > b.ranking; });
    out_.Printf("Feature selection info\nRanking\tFeature\tWeight\n");
    for (size_t i = 0; i < f.size(); ++i) {
      out_.Printf("%d\t%d\t%lf\n", static_cast<int>(i) + 1, f[i].feature + 1,
                  static_cast<double>(f[i].weight));
    }
    if (settings_.Kernel == 5) {  // one feature per position
      base_info_ = std::move(f);
      return;
    }
    const int per = std::max(data.dim / std::max(L_, 1), 1);
    base_info_.assign(static_cast<size_t>(L_), FeatureInfo());
    for (int j = 0; j < L_; ++j) base_info_[j].feature = j;
    for (size_t i = 0; i < f.size(); ++i) {
      FeatureInfo& b = base_info_[f[i].feature / per];
      b.step_weight += static_cast<float>(static_cast<int>(i) / per);
      b.weight += f[i].weight / static_cast<float>(per);
    }
    std::stable_sort(
        base_info_.begin(), base_info_.end(),
        [](const FeatureInfo& a, const FeatureInfo& b) { return a.step_weight < b.step_weight; });
    out_.Printf("Sequence position info\nRanking\tPosition\tAverage ranking\tAverage weight\n");
    for (int k = 0; k < L_; ++k) {
      out_.Printf("%d\t%d\t\t%lf\t%lf\n", k + 1, base_info_[k].feature + 1,
                  static_cast<double>(base_info_[k].step_weight),
                  static_cast<double>(base_info_[k].weight));
    }
  }

  // The best L FS_percent_to_keep ranked positions of windows of L letters,
  // in ranking order.
  std::vector<int> RankedPositions(int L) const {
    const int kept = static_cast<int>(static_cast<float>(L) * settings_.FS_percent_to_keep);
    if (kept < 1 || kept > static_cast<int>(base_info_.size())) {
      OnErrorExit(kUnspecifiedError, "Feature selection keeps no window position (" +
                                         ParameterKey(&Settings::FS_percent_to_keep) + " " +
                                         std::to_string(settings_.FS_percent_to_keep) + " of " +
                                         std::to_string(L) + " positions)");
    }
    std::vector<int> positions;
    for (int k = 0; k < kept; ++k) positions.push_back(base_info_[k].feature);
    return positions;
  }

  // Keeps the ranked positions of both sets; returns the new length.
  int CutToRankedPositions(int L, SequenceSet& positives, SequenceSet& negatives) const {
    const std::vector<int> positions = RankedPositions(L);
    KeepPositions(positives, positions);
    return KeepPositions(negatives, positions);
  }

  // The tree engine reads its attribute tables once per run, when any
  // learner of the run grows trees; its windowing sizes, set by the first
  // windowed training, stay for every later one.
  void PrepareTreeEngine() {
    if (NeedsTreeEngine(settings_)) {
      tree_engine_ = std::make_unique<TreeEngine>();
      ReadWindowNames(*tree_engine_, L_);
    }
  }

  // The parameter search, when it is on; the run keeps what it chose.
  void SearchParameters() {
    if (!settings_.CV_parameters) return;
    CrossValidatedParameters(positives_.Pointers(), negatives_.Pointers(), L_, settings_, out_,
                             svm_rng_)
        .ApplyTo(settings_);
  }

  // The method is chosen here, once: everything after training scores
  // through the recogniser.
  void Train() {
    const Method& method = MethodOfCode(settings_.R_method);
    const EnsembleContext context{tree_engine_.get(), &rng_, &svm_rng_, &out_};
    if (method.train == nullptr) OnErrorExit(kUnspecifiedError, "Bad recognition method");
    model_ = method.train(positives_, negatives_, L_, settings_, context);
    keep_training_ = KeepsTrainingWindows(settings_);
  }

  // The positions at which every training window read holds one and the
  // same base.
  void FindCore() {
    for (int p = 0; p < L_; ++p) {
      const char c = positives_.size() > 0   ? positives_[0][p]
                     : negatives_.size() > 0 ? negatives_[0][p]
                                             : 'N';
      if (c != 'A' && c != 'C' && c != 'G' && c != 'T') continue;
      bool same = true;
      for (const SequenceSet* set : {&positives_, &negatives_}) {
        for (int i = 0; i < set->size() && same; ++i) same = (*set)[i][p] == c;
      }
      if (same) core_.emplace_back(p, c);
    }
  }

  // How the recogniser's windows are made from a record, for its model file.
  ModelWindow Window() const {
    ModelWindow w;
    w.record_length = record_length_;
    w.offset = settings_.Offset;
    w.sequence_length = settings_.Length;
    w.protein = settings_.Use_protein_sequence;
    w.read_length = read_length_;
    int masked = read_length_;
    if (mask_) {
      for (int f : mask_flags_) w.mask.push_back(f != 0 ? 1 : 0);
      masked = static_cast<int>(std::count(w.mask.begin(), w.mask.end(), 1));
    }
    if (settings_.FSAlgorithm == kFSRFE) w.kept = RankedPositions(masked);
    if (settings_.FSAlgorithm == kFSGA) {
      for (int j = 0; j < static_cast<int>(ga_flags_.size()); ++j) {
        if (ga_flags_[j] != 0) w.kept.push_back(j);
      }
    }
    w.length = L_;
    w.core = core_;
    return w;
  }

  std::vector<float> Scores(const SequenceSet& windows) const {
    return ScoreWindows(*model_, windows, L_, 0, settings_.threads);
  }

  void WriteOutputFile(const std::string& path, const std::vector<float>& pos,
                       const std::vector<float>& neg) const {
    OutputFile f;
    if (!f.Open(path)) {
      Diagnose("cannot create outputs file " + path + ": " + SystemReason());
      OnErrorExit(kUnspecifiedError, "Cannot open file for saving outputs");
    }
    for (float s : pos) f.Printf("%7.4lf 1\n", static_cast<double>(s));
    for (float s : neg) f.Printf("%7.4lf 0\n", static_cast<double>(s));
    f.Close();
  }

  // Every negative read gets its line, those the imbalance step left aside
  // too (after the kept ones, as the cut left them).
  void SaveTrainingOutputs() {
    if (settings_.Stacking) {
      SaveStackingOutputs(args_[1] + args_[4], static_cast<const StackedRecognizer&>(*model_),
                          {&positives_}, {&negatives_, &dropped_negatives_}, L_, 0);
      return;
    }
    std::vector<float> negative_scores = Scores(negatives_);
    const std::vector<float> aside = Scores(dropped_negatives_);
    negative_scores.insert(negative_scores.end(), aside.begin(), aside.end());
    WriteOutputFile(args_[1] + args_[4], Scores(positives_), negative_scores);
  }

  void Test() {
    // The test windows get their own sets: the k-NN prototypes are the
    // training windows and must stay as they are.
    SequenceSet positives, negatives;
    ReadWindows(args_[2], positives, negatives, false);
    if (mask_) L_ = ApplyMaskToBoth(positives, negatives, mask_flags_);
    if (settings_.FSAlgorithm == kFSRFE) L_ = CutToRankedPositions(L_, positives, negatives);
    if (settings_.FSAlgorithm == kFSGA) L_ = ApplyMaskToBoth(positives, negatives, ga_flags_);
    const auto* stacked = model_->method() == kStackingMethod
                              ? static_cast<const StackedRecognizer*>(model_.get())
                              : nullptr;
    if (stacked != nullptr) {
      WriteStackingComponentsResults(out_, *stacked, positives, negatives, L_, positives_);
    }
    const std::time_t test_start = std::time(nullptr);
    std::vector<float> sc_pos = Scores(positives);
    std::vector<float> sc_neg = Scores(negatives);
    std::sort(sc_pos.begin(), sc_pos.end());
    std::sort(sc_neg.begin(), sc_neg.end());
    if (settings_.save_outputs) {
      if (stacked != nullptr) {
        SaveStackingOutputs(args_[2] + args_[4], *stacked, {&positives}, {&negatives}, L_, 0);
      } else {
        WriteOutputFile(args_[2] + args_[4], sc_pos, sc_neg);
      }
    }
    const EvaluationResults r =
        EvaluateRecognizer(*model_, positives, negatives, L_, 0, &sc_pos, &sc_neg);
    WriteElapsed(out_, "TESTING", test_start);
    WriteTestingResults(out_, r, positives.size());
    outcome_.roc = WriteROCTable(out_, args_[4], sc_pos, sc_neg, settings_);
    results_ = r;
    auc_ = DelongInterval(sc_pos, sc_neg);
    const Curves curves = CurvesOf(sc_pos, sc_neg);
    ap_ = AveragePrecision(curves);
    outcome_.tested = true;
    outcome_.test = r;
    outcome_.auc = auc_;
    outcome_.ap = ap_;
    if (settings_.Write_AUC_data && !out_.direct()) {
      const OperatingPoint at{model_->threshold(), r.sensitivity, r.specificity, r.precision};
      WriteRocPicture(args_[4] + "-roc.svg", "ROC curve of " + args_[4], curves, auc_, at);
      WritePrPicture(args_[4] + "-pr.svg", "Precision-recall curve of " + args_[4], curves, ap_,
                     at);
      WriteCurveTable(args_[4] + "-curve.tsv", curves);
    }
  }

  const std::vector<std::string>& args_;
  Settings settings_;
  OutputFile out_;
  CRandom rng_;
  SvmRandom svm_rng_;  // the SVM engine's shuffles, from the unseeded state
  SequenceSet positives_;
  SequenceSet negatives_;
  SequenceSet dropped_negatives_;  // left aside by the imbalance step
  int L_ = 0;
  int read_length_ = 0;                     // L_ after reading, before a mask
  int record_length_ = 0;                   // of the training positives' records, before the cut
  std::string model_path_;                  // --model: the self-contained model file, or empty
  std::vector<std::pair<int, char>> core_;  // of the training windows, for the model file
  std::string length_fixed_by_;             // the file whose windows set Sequence_length
  std::unique_ptr<TreeEngine> tree_engine_;
  // May refer to the training windows (k-NN): declared after them, it goes first.
  std::unique_ptr<Recognizer> model_;
  bool mask_ = false;
  std::vector<int> mask_flags_;
  std::vector<FeatureInfo> base_info_;  // positions ranked by RFE, best first
  std::vector<int> ga_flags_;           // positions kept by the genetic algorithm
  std::time_t start_ = 0;
  bool keep_training_ = false;
  EvaluationResults results_;  // of the test windows, for the closing summary
  AucInterval auc_;
  double ap_ = 0;
  bool quiet_ = false;
  TrainingOutcome outcome_;
};

}  // namespace

namespace {

void PrintHelp() {
  std::printf("%s\n", kUsageLine);
  std::printf(
      "\n"
      "Trains a recogniser of sites on the windows <train-file>pos and <train-file>neg,\n"
      "tests it on <test-file>pos and <test-file>neg (NIL: no test) and writes the\n"
      "report to <output>. The parameters file chooses the method and its settings.\n"
      "  save-outputs   also write every window's score to <train-file><output> and\n"
      "                 <test-file><output>\n"
      "  save-model     also save the trained SVM to <train-file>.<output>.model\n"
      "  --model FILE   (before the arguments) also write the trained recogniser, of any\n"
      "                 method, as one self-contained model file (gzip when FILE ends\n"
      "                 in .gz)\n"
      "\n"
      "varnik score [parameters] model fasta [output]: scores every window of the FASTA\n"
      "file with a saved model (cut as the model file, or the parameters of a saved SVM,\n"
      "say), one line name, score, call each\n"
      "varnik scan [--strands plus|both] [--min-score X] [--all-windows]\n"
      "  [--format bed|bedgraph|bigwig|tsv] [--output FILE] [parameters] model fasta [output]:\n"
      "slides the saved model's window over the records (and their reverse complements\n"
      "with --strands both): BED lines for the windows scoring above the model's\n"
      "threshold (or X), or a bedGraph, bigWig or TSV of the scored windows' sites. With a\n"
      "model file that records a core, only the windows holding it (and only A, C, G, T)\n"
      "are scored, unless --all-windows. With --output every argument after the model is\n"
      "a FASTA file; - is standard input.\n"
      "varnik explain model [output]: what a weighted-degree or linear SVM, or a PWM, of\n"
      "a model file bases its decision on: the importance of every window position and\n"
      "the strongest k-mers or the letters' weights, as a table (to standard output\n"
      "without output) and a picture output.svg\n"
      "FASTA files may be gzip-compressed.\n"
      "  --threads N    work on N threads (default: VARNIK_THREADS, else every core);\n"
      "                 the results are the same for any N\n"
      "  --progress     progress lines on standard error (given when it is a terminal)\n"
      "  --memory SIZE  what the SVM trainings' kernel caches may take (K, M, G; default:\n"
      "                 half of the machine's memory); the models are the same for any SIZE\n"
      "  -h, --help     this text\n"
      "  --version      the program's version\n");
}

}  // namespace

// The options before the arguments, taken out of args: "--threads N" (else
// VARNIK_THREADS, else every core the process may use) and "--progress"
// (else progress only when standard error is a terminal).
struct LeadingOptions {
  int threads = 1;
  bool progress = false;
  std::string model;           // --model FILE, for training runs
  long long memory_bytes = 0;  // --memory SIZE (0: not given)
};

// "--memory SIZE": a number of bytes, with K, M or G for 1024, 1024^2 or
// 1024^3 of them.
long long ParseMemory(const std::string& text) {
  char* end = nullptr;
  const double x = std::strtod(text.c_str(), &end);
  double unit = 1;
  if (end != nullptr && *end != '\0' && end[1] == '\0') {
    unit = *end == 'K' || *end == 'k'   ? 1024.0
           : *end == 'M' || *end == 'm' ? 1048576.0
           : *end == 'G' || *end == 'g' ? 1073741824.0
                                        : 0;
    if (unit != 0) ++end;
  }
  const double bytes = x * unit;
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' ||
      !(bytes >= 1) || bytes > 9.0e18) {
    OnErrorExit(
        kUnspecifiedError,
        "--memory must be a size such as 4G, 500M or 2000000 (bytes), not \"" + text + "\"");
  }
  return static_cast<long long>(bytes);
}

namespace {

// How many arguments the leading option args[i] takes with its name (0: it
// is none).
size_t LeadingOptionWidth(const std::vector<std::string>& args, size_t i) {
  if (i >= args.size()) return 0;
  if (args[i] == "--progress") return 1;
  return args[i] == "--threads" || args[i] == "--model" || args[i] == "--memory" ? 2 : 0;
}

}  // namespace

LeadingOptions TakeLeadingOptions(std::vector<std::string>& args) {
  auto parse = [](const std::string& text, const std::string& where) {
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < 1 || n > 4096) {
      OnErrorExit(kUnspecifiedError,
                  where + " must be a number of threads from 1 to 4096, not \"" + text + "\"");
    }
    return static_cast<int>(n);
  };
  LeadingOptions o;
  bool threads_given = false;
  o.progress = isatty(STDERR_FILENO) != 0;
  while (LeadingOptionWidth(args, 1) > 0) {
    if (args[1] == "--memory") {
      if (args.size() < 3) OnErrorExit(kUnspecifiedError, "--memory needs a size");
      o.memory_bytes = ParseMemory(args[2]);
      args.erase(args.begin() + 1, args.begin() + 3);
      continue;
    }
    if (args[1] == "--progress") {
      o.progress = true;
      args.erase(args.begin() + 1);
      continue;
    }
    if (args[1] == "--model") {
      if (args.size() < 3 || args[2].empty())
        OnErrorExit(kUnspecifiedError, "--model needs a file");
      o.model = args[2];
      args.erase(args.begin() + 1, args.begin() + 3);
      continue;
    }
    if (args.size() < 3) OnErrorExit(kUnspecifiedError, "--threads needs a number");
    o.threads = parse(args[2], "--threads");
    threads_given = true;
    args.erase(args.begin() + 1, args.begin() + 3);
  }
  if (!threads_given) {
    const char* env = std::getenv("VARNIK_THREADS");
    o.threads = env != nullptr ? parse(env, "VARNIK_THREADS") : AvailableCores();
  }
  return o;
}

namespace {

// Whether the command (after the leading options) writes data to standard
// output: score, scan and explain.
bool WritesData(const std::vector<std::string>& args) {
  size_t i = 1;
  while (size_t width = LeadingOptionWidth(args, i)) i += width;
  return i < args.size() && (args[i] == "score" || args[i] == "scan" || args[i] == "explain");
}

}  // namespace

int RunVarnik(const std::vector<std::string>& given) {
  std::vector<std::string> args = given;
  if (WritesData(args)) {
    // Standard output is the data stream: every message goes to standard
    // error, the error line too.
    try {
      const LeadingOptions o = TakeLeadingOptions(args);
      if (!o.model.empty()) {
        OnErrorExit(kUnspecifiedError,
                    "--model names the model a training run writes; score, "
                    "scan and explain take theirs as an argument");
      }
      if (args[1] == "score") return RunScore(args, o.threads, o.progress);
      if (args[1] == "explain") return RunExplain(args);
      return RunScan(args, o.threads, o.progress);
    } catch (const VarnikError& e) {
      throw e.OnStandardError();
    } catch (const std::bad_alloc&) {
      throw VarnikError(kCannotAllocateMemory, "out of memory").OnStandardError();
    }
  }
  const LeadingOptions o = TakeLeadingOptions(args);
  if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
    PrintHelp();
    return 0;
  }
  if (args.size() == 2 && args[1] == "--version") {
    std::printf("%s\n", kVersion);
    return 0;
  }
  if (args.size() < 5) {
    std::printf("%s\n", kUsageLine);
    return 1;
  }
  // A fifth argument that asks for nothing would end in a run that saved
  // nothing it was asked to: refused, as are further arguments.
  if (args.size() > 6) {
    Diagnose("too many arguments: " + args[6] + " and after it");
    std::printf("%s\n", kUsageLine);
    return 1;
  }
  if (args.size() == 6 && args[5].compare(0, 12, "save-outputs") != 0 && args[5] != "save-model") {
    Diagnose("the fifth argument must be save-outputs or save-model, not " + args[5]);
    std::printf("%s\n", kUsageLine);
    return 1;
  }
  Run run(args, o.threads, o.progress, o.model, o.memory_bytes);
  return run.Execute();
}

TrainingOutcome TrainInProcess(const std::vector<std::string>& args, int threads,
                               const std::string& model_path, long long memory_bytes) {
  Run run(args, threads, false, model_path, memory_bytes);
  run.set_quiet();
  run.Execute();
  return run.outcome();
}

}  // namespace varnik
