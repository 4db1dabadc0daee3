#include "learners/methods.h"

#include "core/error.h"
#include "learners/parameter_search.h"
#include "learners/stacking.h"
#include "recognizers/c45.h"
#include "recognizers/knn.h"
#include "recognizers/neural_network.h"
#include "recognizers/pwm.h"
#include "recognizers/stop_codon.h"
#include "recognizers/svm_recognizer.h"

namespace varnik {

namespace {

Settings WithMethod(const Settings& s, int code) {
  Settings m = s;
  m.R_method = code;
  return m;
}

void Search(const SequenceSet& positives, const SequenceSet& negatives, int L, Settings& s,
            const EnsembleContext& c, int code) {
  CrossValidatedParameters(positives.Pointers(), negatives.Pointers(), L, WithMethod(s, code),
                           *c.out, *c.svm_rng)
      .ApplyTo(s);
}

std::unique_ptr<Recognizer> TrainStop(const SequenceSet&, const SequenceSet&, int, Settings&,
                                      const EnsembleContext&) {
  StopCodonMethod();
}

std::unique_ptr<Recognizer> TrainTree(const SequenceSet& positives, const SequenceSet& negatives,
                                      int L, Settings& s, const EnsembleContext& c) {
  return TrainC45Recognizer(*c.engine, positives.Pointers(), negatives.Pointers(), L, s, *c.rng,
                            *c.out);
}

std::unique_ptr<Recognizer> StackTree(const SequenceSet& positives, const SequenceSet& negatives,
                                      int L, Settings& s, const EnsembleContext& c) {
  if (c.engine == nullptr) {
    OnErrorExit(kUnspecifiedError, "The decision-tree engine has no attribute tables");
  }
  Tree tree = TrainC45Classifier(*c.engine, positives.Pointers(), negatives.Pointers(), L, s,
                                 *c.rng, nullptr, nullptr);
  c.out->Printf("Tree nodes: %d\n", TreeSize(tree.get()));
  return std::make_unique<C45Recognizer>(WithMethod(s, kC45), std::move(tree), *c.engine, L);
}

std::unique_ptr<Recognizer> TrainSvm(const SequenceSet& positives, const SequenceSet& negatives,
                                     int L, Settings& s, const EnsembleContext& c) {
  if (s.CV_parameters) Search(positives, negatives, L, s, c, kSVM);
  return TrainSVMRecognizer(positives.Pointers(), negatives.Pointers(), L, s, *c.out, *c.svm_rng);
}

std::unique_ptr<Recognizer> StackSvm(const SequenceSet& positives, const SequenceSet& negatives,
                                     int L, Settings& s, const EnsembleContext& c) {
  Search(positives, negatives, L, s, c, kSVM);
  auto svm = TrainSVMClassifier(positives.Pointers(), negatives.Pointers(), L, s, c.out, nullptr,
                                *c.svm_rng);
  c.out->Printf("Support vectors: %d\n", SVMSize(*svm));
  return std::make_unique<SvmRecognizer>(WithMethod(s, kSVM), std::move(svm));
}

std::unique_ptr<Recognizer> StackStringSvm(const SequenceSet& positives,
                                           const SequenceSet& negatives, int L, Settings& s,
                                           const EnsembleContext& c) {
  s.Kernel = 5;  // lasting: later components and searches start from it
  auto svm = TrainSVMClassifier(positives.Pointers(), negatives.Pointers(), L, s, c.out, nullptr,
                                *c.svm_rng);
  c.out->Printf("Support vectors: %d\n", SVMSize(*svm));
  return std::make_unique<SvmRecognizer>(WithMethod(s, kSVM), std::move(svm));
}

std::unique_ptr<Recognizer> TrainKnn(const SequenceSet& positives, const SequenceSet& negatives,
                                     int L, Settings& s, const EnsembleContext& c) {
  if (s.CV_parameters) Search(positives, negatives, L, s, c, kKNN);
  return TrainkNN(positives, negatives, L, s, *c.out);
}

std::unique_ptr<Recognizer> StackKnn(const SequenceSet& positives, const SequenceSet& negatives,
                                     int L, Settings& s, const EnsembleContext& c) {
  if (s.CV_parameters) Search(positives, negatives, L, s, c, kKNN);
  auto knn = std::make_unique<KnnRecognizer>(WithMethod(s, kKNN));
  BuildkNN(*knn, positives, negatives, L, s.K);
  return knn;
}

// An ensemble with its listing; as the run's recogniser (kThreshold) also
// its threshold. The SVM parameters searched before the last boosting step
// stay for the later steps.
template <int kCode, bool kThreshold>
std::unique_ptr<Recognizer> TrainEnsemble(const SequenceSet& positives,
                                          const SequenceSet& negatives, int L, Settings& s,
                                          const EnsembleContext& c) {
  const Settings m = WithMethod(s, kCode);
  const std::vector<const char*> pos = positives.Pointers(), neg = negatives.Pointers();
  std::unique_ptr<EnsembleRecognizer> e = kCode == kEasyEnsemble
                                              ? TrainEasyEnsemble(pos, neg, L, m, c)
                                              : TrainBalanceCascadeEnsemble(pos, neg, L, m, c);
  if (s.Verbose > 1) WriteEnsembleListing(*e, *c.out);
  if (kThreshold && s.Sensitivity > 0) SetMultiEnsembleThreshold(*e, pos, L, *c.out);
  KeepSvmParameters(s, e->settings());
  return e;
}

std::unique_ptr<Recognizer> TrainPwm(const SequenceSet& positives, const SequenceSet& negatives,
                                     int L, Settings& s, const EnsembleContext& c) {
  return GetPositionWeightMatrix(positives, negatives, L, WithMethod(s, kPWM), *c.out);
}

std::unique_ptr<Recognizer> TrainNetwork(const SequenceSet& positives, const SequenceSet& negatives,
                                         int L, Settings& s, const EnsembleContext& c) {
  return TrainNeuralNetwork(positives, negatives, L, s.NN_hidden_nodes, WithMethod(s, kNeuralNet),
                            *c.rng);
}

std::unique_ptr<Recognizer> TrainStack(const SequenceSet& positives, const SequenceSet& negatives,
                                       int L, Settings& s, const EnsembleContext& c) {
  std::unique_ptr<StackedRecognizer> R =
      TrainStackerAndItsClassifiers(positives, negatives, L, s, c);
  // What the components and searches set stays for the rest of the run.
  KeepSvmParameters(s, R->settings());
  s.K = R->settings().K;
  return R;
}

}  // namespace

const std::vector<Method>& Methods() {
  // code, word, bit, position, counted, trees, ensemble, keeps windows,
  // component title, training, as a component.
  static const std::vector<Method> methods = {
      {kSTOP, "STOP", 1, 0, true, false, false, false, "STOP codon stacking component results\n",
       TrainStop, TrainStop},
      {kC45, "C45", 2, 1, true, true, false, false, "C4.5 stacking component results\n", TrainTree,
       StackTree, ReadC45Payload},
      {-1, "", 8, 3, true, false, false, false,
       "SVM with string kernel stacking component results\n", nullptr, StackStringSvm,
       ReadSvmPayload},
      {kSVM, "SVM", 4, 2, true, false, false, false, "SVM stacking component results\n", TrainSvm,
       StackSvm, ReadSvmPayload},
      {kKNN, "kNN", 64, 4, true, false, false, true, "k-NN stacking component results\n", TrainKnn,
       StackKnn, ReadKnnPayload},
      {kEasyEnsemble, "EasyEnsemble", 16, 5, true, false, true, false,
       "EasyEnsemble stacking component results\n", TrainEnsemble<kEasyEnsemble, true>,
       TrainEnsemble<kEasyEnsemble, false>, ReadEnsemblePayload},
      {kBalanceCascadeEnsemble, "BalanceCascadeEnsemble", 32, 6, true, false, true, false,
       "BalanceCascadeEnsemble stacking component results\n",
       TrainEnsemble<kBalanceCascadeEnsemble, true>, TrainEnsemble<kBalanceCascadeEnsemble, false>,
       ReadEnsemblePayload},
      {kPWM, "PWM", 128, 7, false, false, false, false, "PWM stacking component results\n",
       TrainPwm, TrainPwm, ReadPwmPayload},
      {kNeuralNet, "NeuralNet", 256, 8, false, false, false, false,
       "NeuralNet stacking component results\n", TrainNetwork, TrainNetwork, ReadNetworkPayload},
      {kStackingMethod, "", 0, -1, false, true, false, false, "", TrainStack, nullptr,
       ReadStackedPayload},
  };
  return methods;
}

const Method& MethodOfCode(int code) {
  for (const Method& m : Methods()) {
    if (m.code == code && m.code >= 0) return m;
  }
  OnErrorExit(kUnspecifiedError, "Bad recognition method");
}

const Method* MethodOfBit(int bit) {
  for (const Method& m : Methods()) {
    if (m.stacking_bit == bit && bit != 0) return &m;
  }
  return nullptr;
}

std::string MethodName(int code) {
  const Method& m = MethodOfCode(code);
  return m.word[0] != '\0' ? m.word : "Stacking";
}

int MethodOfName(const std::string& name) {
  for (const Method& m : Methods()) {
    if (m.code >= 0 && m.read != nullptr && MethodName(m.code) == name) return m.code;
  }
  return -1;
}

const std::vector<std::string>& MethodWords() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> w;
    for (int code = 0;; ++code) {
      bool found = false;
      for (const Method& m : Methods()) {
        if (m.code == code && m.word[0] != '\0') {
          w.emplace_back(m.word);
          found = true;
        }
      }
      if (!found) return w;
    }
  }();
  return words;
}

bool IsEnsemble(int code) {
  for (const Method& m : Methods()) {
    if (m.code == code && m.code >= 0) return m.ensemble;
  }
  return false;
}

bool Stacks(const Settings& s, int code) {
  if (!s.Stacking) return false;
  for (const Method& m : Methods()) {
    if (m.code == code && m.stacking_bit != 0 && (s.Stacking_methods & m.stacking_bit)) return true;
  }
  return false;
}

bool Trains(const Settings& s, int code) { return s.R_method == code || Stacks(s, code); }

bool StacksCountedComponents(const Settings& s) {
  for (const Method& m : Methods()) {
    if (m.counted_when_stacked && (s.Stacking_methods & m.stacking_bit)) return true;
  }
  return false;
}

int LearnerMethod(const Settings& s) {
  return IsEnsemble(s.R_method) ? s.Base_learner : s.R_method;
}

bool NeedsTreeEngine(const Settings& s) {
  if (s.Stacking) return true;
  for (const Method& m : Methods()) {
    if (m.code != s.R_method) continue;
    return m.grows_trees || (m.ensemble && s.Base_learner == kC45);
  }
  return false;
}

bool KeepsTrainingWindows(const Settings& s) {
  for (const Method& m : Methods()) {
    if (!m.keeps_windows) continue;
    if (s.Stacking ? (s.Stacking_methods & m.stacking_bit) != 0 : s.R_method == m.code) return true;
  }
  return false;
}

void KeepSvmParameters(Settings& to, const Settings& from) {
  to.Kernel = from.Kernel;
  to.Gamma = from.Gamma;
  to.C = from.C;
}

}  // namespace varnik
