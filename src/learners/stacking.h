// Stacking: several component recognisers trained on the same windows, and a
// second-level learner (an SVM or a k-NN on real rows) trained on the
// vectors of their scaled scores.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/output_file.h"
#include "core/recognizer.h"
#include "core/sequence_set.h"
#include "learners/ensemble.h"

namespace varnik {

// A component: its bit in Stacking_methods and the trained recogniser.
struct StackingComponent {
  int bit = 0;
  std::unique_ptr<Recognizer> recognizer;
};

class StackedRecognizer : public Recognizer {
 public:
  StackedRecognizer(const Settings& settings) : Recognizer(settings, kStackingMethod) {}
  std::vector<StackingComponent> components;  // in input vector order
  std::vector<float> scale_a, scale_b;        // per input
  std::unique_ptr<RowRecognizer> stacker;

  struct Scratch : ScoreScratch {
    std::vector<std::unique_ptr<ScoreScratch>> components;
    std::unique_ptr<ScoreScratch> stacker;
    std::vector<float> inputs;
  };
  // The scaled component scores of a window, in input vector order.
  void Inputs(const char* window, int L, int offset, Scratch& scratch) const;

  float Score(const char* window, int L, int offset, ScoreScratch* scratch) const override;
  std::unique_ptr<ScoreScratch> NewScratch() const override;
  // "stacked n stacker", each component ("component bit threshold" and its
  // payload), the scaling and the stacker.
  void WritePayload(ModelWriter& w) const override;
  using Recognizer::Score;
};

// The stacked recogniser of a payload.
std::unique_ptr<Recognizer> ReadStackedPayload(ModelReader& r, const Settings& settings, int L);

// Trains the components chosen by Stacking_methods (in training order: stop
// codon, C4.5, string-kernel SVM, SVM, k-NN, EasyEnsemble, BalanceCascade,
// PWM, network, with their report lines), the stacker on the interleaved
// rows of scaled scores, and the threshold. The recogniser's settings are
// the run's as training leaves them (Kernel 5 after the string-kernel
// component, the searched parameters). The k-NN component refers to the
// windows, which must then outlive it.
std::unique_ptr<StackedRecognizer> TrainStackerAndItsClassifiers(const SequenceSet& positives,
                                                                 const SequenceSet& negatives,
                                                                 int L, const Settings& settings,
                                                                 const EnsembleContext& context);

// One line per window, positives first: each scaled component score as
// "%7.4lf ", the stacked score and "+1" or "-1".
void SaveStackingOutputs(const std::string& path, const StackedRecognizer& R,
                         const std::vector<const SequenceSet*>& positives,
                         const std::vector<const SequenceSet*>& negatives, int L, int offset);

}  // namespace varnik
