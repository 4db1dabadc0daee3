#include "driver/run.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "core/error.h"
#include "core/output_file.h"
#include "core/random.h"
#include "core/recognizer.h"
#include "core/settings.h"
#include "driver/evaluation.h"
#include "driver/mask.h"
#include "driver/parameters.h"
#include "driver/saved_model.h"
#include "learners/parameter_search.h"
#include "recognizers/c45.h"
#include "recognizers/knn.h"
#include "recognizers/neural_network.h"
#include "recognizers/pwm.h"
#include "recognizers/stop_codon.h"
#include "recognizers/svm_recognizer.h"
#include "sequence/fasta.h"
#include "sequence/protein.h"
#include "tree/tree_engine.h"

namespace varnik {

namespace {

void WriteElapsed(OutputFile& out, const char* label, std::time_t since) {
  const long seconds = static_cast<long>(std::time(nullptr) - since);
  out.Printf("%s time: %02ld:%02ld:%02ld\n", label, seconds / 3600, (seconds % 3600) / 60,
             seconds % 60);
}

[[noreturn]] void NotBuiltYet(const std::string& what) {
  OnErrorExit(kUnspecifiedError, what + " is not built yet");
}

class Run {
 public:
  explicit Run(const std::vector<std::string>& args) : args_(args) {}

  int Execute() {
    OpenReport();
    LoadGlobalParameters(args_[3], settings_, out_);
    ReadFifthArgument();
    SeedGenerator();
    ReadWindows(args_[1], positives_, negatives_, true);
    read_length_ = L_;
    ReadMask();
    if (mask_) L_ = ApplyMaskToBoth(positives_, negatives_);
    start_ = std::time(nullptr);
    TreatImbalance();
    SelectFeatures();
    PrepareTreeEngine();
    Train();
    model_->set_length(read_length_);
    std::fputs("Training of the model finished\n", stdout);
    std::fflush(stdout);
    if (settings_.save_model) SaveModel(*model_, SavedModelPath(args_[1], args_[4]));
    if (settings_.save_outputs) SaveTrainingOutputs();
    WriteElapsed(out_, "TRAINING", start_);
    if (settings_.Eval_training) {
      const EvaluationResults r = EvaluateRecognizer(*model_, positives_, negatives_, L_, 0);
      WriteTrainingResults(out_, r, positives_.size(), settings_.R_method);
    }
    if (!keep_training_) {
      positives_ = SequenceSet();
      negatives_ = SequenceSet();
    }
    if (strncasecmp(args_[2].c_str(), "NIL", 3) == 0) {
      out_.Close();
      return 1;
    }
    Test();
    out_.Close();
    return 0;
  }

 private:
  void OpenReport() {
    if (!out_.Open(args_[4])) OnErrorExit(kUnspecifiedError, "main: Cannot open output file\n");
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

  // The first file read fixes the window length of every later one.
  int FixLength(int length) {
    if (settings_.Length == 0) settings_.Length = length;
    return length;
  }

  // Reads the windows of one prefix and sets L_. Undersampling while reading
  // applies to the training negatives only.
  void ReadWindows(const std::string& prefix, SequenceSet& positives, SequenceSet& negatives,
                   bool training) {
    L_ = FixLength(ReadFastaFile(WindowFilePath(prefix, "pos", settings_), settings_, positives));
    out_.Printf("Positive sequences: %d\n", positives.size());
    const std::string neg_path = WindowFilePath(prefix, "neg", settings_);
    if (settings_.Imbalance_method == kUndersampling && training) {
      L_ = FixLength(
          ReadFastaFileWithUndersampling(neg_path, settings_, negatives, positives.size(), rng_));
    } else {
      L_ = FixLength(ReadFastaFile(neg_path, settings_, negatives));
    }
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

  int ApplyMaskToBoth(SequenceSet& positives, SequenceSet& negatives) {
    ApplyMask(positives, L_, mask_flags_);
    return ApplyMask(negatives, L_, mask_flags_);
  }

  void TreatImbalance() {
    switch (settings_.Imbalance_method) {
      case kImbalanceNone:
      case kUndersampling:
        return;
      case kSmote:
        NotBuiltYet("SMOTE");
      default:
        OnErrorExit(kUnspecifiedError, "Bad imbalance class method");
    }
  }

  void SelectFeatures() {
    if (settings_.FSAlgorithm == kFSRFE) NotBuiltYet("Recursive feature elimination");
    if (settings_.FSAlgorithm == kFSGA) NotBuiltYet("Genetic-algorithm feature selection");
  }

  // The tree engine reads its attribute tables once per run, when any
  // learner of the run grows trees; its windowing sizes, set by the first
  // windowed training, stay for every later one.
  void PrepareTreeEngine() {
    const bool ensemble =
        settings_.R_method == kEasyEnsemble || settings_.R_method == kBalanceCascadeEnsemble;
    if (settings_.Stacking || settings_.R_method == kC45 ||
        (ensemble && settings_.Base_learner == kC45)) {
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
    if (settings_.Stacking) NotBuiltYet("Stacking");
    switch (settings_.R_method) {
      case kPWM:
        model_ = GetPositionWeightMatrix(positives_, negatives_, L_, settings_, out_);
        return;
      case kSVM:
        SearchParameters();
        model_ = TrainSVMRecognizer(positives_.Pointers(), negatives_.Pointers(), L_, settings_,
                                    out_, svm_rng_);
        return;
      case kKNN:
        SearchParameters();
        model_ = TrainkNN(positives_, negatives_, L_, settings_, out_);
        keep_training_ = true;
        return;
      case kSTOP:
        StopCodonMethod();
      case kNeuralNet:
        model_ = TrainNeuralNetwork(positives_, negatives_, L_, settings_.NN_hidden_nodes,
                                    settings_, rng_);
        return;
      case kC45:
        model_ = TrainC45Recognizer(*tree_engine_, positives_.Pointers(), negatives_.Pointers(), L_,
                                    settings_, rng_, out_);
        return;
      case kEasyEnsemble:
      case kBalanceCascadeEnsemble:
        NotBuiltYet("Recognition method " + RecognitionMethodWords()[settings_.R_method]);
      default:
        OnErrorExit(kUnspecifiedError, "Bad recognition method");
    }
  }

  std::vector<float> Scores(const SequenceSet& windows) const {
    return ScoreWindows(*model_, windows, L_, 0);
  }

  void WriteOutputFile(const std::string& path, const std::vector<float>& pos,
                       const std::vector<float>& neg) const {
    OutputFile f;
    if (!f.Open(path)) OnErrorExit(kUnspecifiedError, "Cannot open file for saving outputs");
    for (float s : pos) f.Printf("%7.4lf 1\n", static_cast<double>(s));
    for (float s : neg) f.Printf("%7.4lf 0\n", static_cast<double>(s));
    f.Close();
  }

  void SaveTrainingOutputs() {
    WriteOutputFile(args_[1] + args_[4], Scores(positives_), Scores(negatives_));
  }

  void Test() {
    // The test windows get their own sets: the k-NN prototypes are the
    // training windows and must stay as they are.
    SequenceSet positives, negatives;
    ReadWindows(args_[2], positives, negatives, false);
    if (mask_) L_ = ApplyMaskToBoth(positives, negatives);
    const std::time_t test_start = std::time(nullptr);
    std::vector<float> sc_pos = Scores(positives);
    std::vector<float> sc_neg = Scores(negatives);
    std::sort(sc_pos.begin(), sc_pos.end());
    std::sort(sc_neg.begin(), sc_neg.end());
    if (settings_.save_outputs) WriteOutputFile(args_[2] + args_[4], sc_pos, sc_neg);
    const EvaluationResults r =
        EvaluateRecognizer(*model_, positives, negatives, L_, 0, &sc_pos, &sc_neg);
    WriteElapsed(out_, "TESTING", test_start);
    WriteTestingResults(out_, r, positives.size());
    WriteROCTable(out_, args_[4], sc_pos, sc_neg, settings_);
  }

  const std::vector<std::string>& args_;
  Settings settings_;
  OutputFile out_;
  CRandom rng_;
  SvmRandom svm_rng_;  // the SVM engine's shuffles, from the unseeded state
  SequenceSet positives_;
  SequenceSet negatives_;
  int L_ = 0;
  int read_length_ = 0;  // L_ after reading, before a mask
  std::unique_ptr<TreeEngine> tree_engine_;
  // May refer to the training windows (k-NN): declared after them, it goes first.
  std::unique_ptr<Recognizer> model_;
  bool mask_ = false;
  std::vector<int> mask_flags_;
  std::time_t start_ = 0;
  bool keep_training_ = false;
};

}  // namespace

int RunVarnik(const std::vector<std::string>& args) {
  if (args.size() < 5) {
    std::printf("%s\n", kUsageLine);
    return 1;
  }
  Run run(args);
  return run.Execute();
}

}  // namespace varnik
