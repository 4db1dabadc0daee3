#include "driver/run.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "common/error.h"
#include "common/output_file.h"
#include "common/random.h"
#include "driver/evaluation.h"
#include "driver/mask.h"
#include "driver/parameters.h"
#include "driver/recognizer.h"
#include "driver/saved_model.h"
#include "driver/settings.h"
#include "learners/neural_network.h"
#include "learners/parameter_search.h"
#include "recognizers/c45.h"
#include "recognizers/knn.h"
#include "recognizers/pwm.h"
#include "recognizers/stop_codon.h"
#include "sequence/fasta.h"
#include "sequence/protein.h"
#include "svm/svm_recognizer.h"

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
    R_.length = L_;
    ReadMask();
    if (mask_) L_ = ApplyMaskToBoth(positives_, negatives_);
    start_ = std::time(nullptr);
    TreatImbalance();
    SelectFeatures();
    Train();
    std::fputs("Training of the model finished\n", stdout);
    std::fflush(stdout);
    if (settings_.save_model) SaveModel(R_, SavedModelPath(args_[1], args_[4]));
    if (settings_.save_outputs) SaveTrainingOutputs();
    WriteElapsed(out_, "TRAINING", start_);
    if (settings_.Eval_training) {
      const EvaluationResults r = EvaluateRecognizer(R_, positives_, negatives_, L_, 0, settings_);
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

  // Reads the windows of one prefix and sets L_. Undersampling while reading
  // applies to the training negatives only.
  void ReadWindows(const std::string& prefix, SequenceSet& positives, SequenceSet& negatives,
                   bool training) {
    L_ = ReadFastaFile(WindowFilePath(prefix, "pos", settings_), settings_, positives);
    out_.Printf("Positive sequences: %d\n", positives.size());
    const std::string neg_path = WindowFilePath(prefix, "neg", settings_);
    if (settings_.Imbalance_method == kUndersampling && training) {
      L_ = ReadFastaFileWithUndersampling(neg_path, settings_, negatives, positives.size(), rng_);
    } else {
      L_ = ReadFastaFile(neg_path, settings_, negatives);
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

  void Train() {
    if (settings_.Stacking) NotBuiltYet("Stacking");
    switch (settings_.R_method) {
      case kPWM:
        GetPositionWeightMatrix(R_, positives_, negatives_, L_, settings_, out_);
        return;
      case kSVM:
        if (settings_.CV_parameters) {
          CrossValidatedParameters(positives_.Pointers(), negatives_.Pointers(), L_, settings_,
                                   out_, svm_rng_);
        }
        R_.svm = TrainSVMClassifier(positives_.Pointers(), negatives_.Pointers(), L_, settings_,
                                    &out_, &R_.threshold, svm_rng_);
        out_.Printf("Support vectors: %d\n", SVMSize(*R_.svm));
        return;
      case kKNN:
        if (settings_.CV_parameters) {
          CrossValidatedParameters(positives_.Pointers(), negatives_.Pointers(), L_, settings_,
                                   out_, svm_rng_);
        }
        R_.threshold = 0.0f;
        BuildkNN(R_, positives_, negatives_, L_, settings_.K);
        if (settings_.Sensitivity > 0) SetkNNThreshold(R_, settings_, out_);
        keep_training_ = true;
        return;
      case kSTOP:
        StopCodonMethod();
      case kNeuralNet:
        TrainNeuralNetwork(R_, positives_, negatives_, L_, settings_.NN_hidden_nodes, settings_,
                           rng_);
        return;
      case kC45: {
        R_.tree_engine = std::make_shared<TreeEngine>();
        ReadWindowNames(*R_.tree_engine, L_);
        R_.tree = TrainC45Classifier(*R_.tree_engine, positives_.Pointers(), negatives_.Pointers(),
                                     L_, settings_, rng_, &out_, &R_.threshold);
        out_.Printf("Tree nodes: %d\n", TreeSize(R_.tree.get()));
        return;
      }
      case kEasyEnsemble:
      case kBalanceCascadeEnsemble:
        NotBuiltYet("Recognition method " + RecognitionMethodWords()[settings_.R_method]);
      default:
        OnErrorExit(kUnspecifiedError, "Bad recognition method");
    }
  }

  std::vector<float> Scores(const SequenceSet& windows) const {
    std::vector<float> scores(static_cast<size_t>(windows.size()));
    for (int i = 0; i < windows.size(); ++i) {
      scores[i] = ClassifierOutput(R_, windows[i], L_, 0, settings_);
    }
    return scores;
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
        EvaluateRecognizer(R_, positives, negatives, L_, 0, settings_, &sc_pos, &sc_neg);
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
  Recognizer R_;
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
