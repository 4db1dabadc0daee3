// Boosted ensembles for imbalanced training sets: EasyEnsemble (each ensemble
// on all positives and its own random subset of as many negatives) and
// BalanceCascade (ensembles one after another on a pool of negatives that
// loses those each ensemble already rejects). The base classifiers are C4.5
// trees or SVMs on windows; an ensemble's vote is the alpha-weighted sum of
// their outputs, and the model's score is the mean of its ensembles' votes.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "core/output_file.h"
#include "core/random.h"
#include "core/recognizer.h"
#include "recognizers/c45.h"
#include "recognizers/svm_recognizer.h"
#include "svm/svm.h"
#include "tree/tree_engine.h"

namespace varnik {

struct Ensemble {
  int n_classifiers = 0;
  std::vector<Tree> trees;                       // C4.5 base classifiers
  std::vector<std::unique_ptr<svm_model>> lsvm;  // SVM base classifiers
  std::vector<float> alpha;                      // vote weights
  float threshold = 0.0f;                        // subtracted from the vote
};

struct MultiEnsemble {
  int n_ensembles = 0;
  std::vector<Ensemble> ensemble;
};

// An EasyEnsemble (kEasyEnsemble) or BalanceCascade
// (kBalanceCascadeEnsemble) model. Its settings are those it was trained
// with, the SVM parameters searched before the last boosting step included.
class EnsembleRecognizer : public Recognizer {
 public:
  EnsembleRecognizer(const Settings& settings, int method, int base_learner,
                     const TreeEngine* engine, int L);
  MultiEnsemble multiensemble;
  int base_learner;
  std::optional<TreeScorer> trees;  // reads windows for the C4.5 base classifiers

  // Scratch space of the base classifiers.
  struct Scratch : ScoreScratch {
    TreeScorer::Scratch tree;
    svm_scratch svm;
  };
  // Output of base classifier t of ensemble e (positive: a site).
  float BaseOutput(const Ensemble& e, int t, const char* window, int L, Scratch& scratch) const;
  // Sum over the steps of output times alpha, in single precision, minus the
  // ensemble's threshold.
  float EnsembleOutput(const Ensemble& e, const char* window, int L, Scratch& scratch) const;
  // The mean of the ensembles' outputs (not a number without ensembles).
  float MultiEnsembleOutput(const char* window, int L, Scratch& scratch) const;

  float Score(const char* window, int L, int offset, ScoreScratch* scratch) const override;
  std::unique_ptr<ScoreScratch> NewScratch() const override;
  // "ensembles n base", then per ensemble "ensemble classifiers threshold",
  // its alphas and its trees or SVMs.
  void WritePayload(ModelWriter& w) const override;
  using Recognizer::Score;
};

// The ensembles of a payload (settings.R_method tells EasyEnsemble from
// BalanceCascade).
std::unique_ptr<Recognizer> ReadEnsemblePayload(ModelReader& r, const Settings& settings, int L);

// What the ensembles train with: the run's tree engine (for C4.5 base
// learners) and generators, and the report.
struct EnsembleContext {
  TreeEngine* engine = nullptr;
  CRandom* rng = nullptr;
  SvmRandom* svm_rng = nullptr;
  OutputFile* out = nullptr;
};

// x = u c[m-1] in single precision (u from one draw); 0 when x <= c[0], else
// the first index with x <= c[i].
int RouletteSelection(const std::vector<float>& cumulative, int m, CRandom& rng);

std::unique_ptr<EnsembleRecognizer> TrainEasyEnsemble(const std::vector<const char*>& positives,
                                                      const std::vector<const char*>& negatives,
                                                      int L, const Settings& settings,
                                                      const EnsembleContext& context);

std::unique_ptr<EnsembleRecognizer> TrainBalanceCascadeEnsemble(
    const std::vector<const char*>& positives, const std::vector<const char*>& negatives, int L,
    const Settings& settings, const EnsembleContext& context);

// The model listing of the report ("Easy multiensemble ..." or "Cascade
// cascade ...", each ensemble's threshold, each base classifier's size and
// alpha).
void WriteEnsembleListing(const EnsembleRecognizer& R, OutputFile& out);

// Sets R's threshold from the scores of the training positives (by its
// Sensitivity) and writes the "Ensemble threshold" line.
void SetMultiEnsembleThreshold(EnsembleRecognizer& R, const std::vector<const char*>& positives,
                               int L, OutputFile& out);

}  // namespace varnik
