// Choosing window positions: recursive feature elimination by linear-SVM
// weights, the fraction of ranked positions to keep by cross-validation, and
// a CHC-style genetic algorithm over bit strings of positions.
#pragma once

#include <vector>

#include "core/output_file.h"
#include "core/random.h"
#include "core/sequence_set.h"
#include "core/settings.h"
#include "learners/parameter_search.h"
#include "svm/svm.h"

namespace varnik {

struct FeatureInfo {
  float weight = 0.0f;       // sum of the step weights
  float step_weight = 0.0f;  // weight in the current step
  int feature = 0;           // feature number from 0 (a position, per position)
  int ranking = 0;           // removal order: larger means removed later
};

// Ranks the dim features of the rows (label 0 positive, 1 negative) by
// recursive elimination: an SVM on the features still in play, the weakest
// RFE_subset_size by |weight| out per step. Returns the records in feature
// order.
std::vector<FeatureInfo> RFE(const std::vector<const float*>& rows, const std::vector<int>& labels,
                             int dim, const Settings& settings, OutputFile& out, SvmRandom& rng);

// Rebuilds every window from its letters at the given positions, in that
// order; returns the new length.
int KeepPositions(SequenceSet& windows, const std::vector<int>& positions);

// The fraction of ranked positions to keep, chosen by cross-validated SVMs
// on windows cut to the best positions (fractions from FS_min_percent in
// steps of step, in single precision; a later fraction wins a tie). With
// another learner than the SVM, 0. svm is the last SVM parameter search's
// choice, which stays for the rest of the run.
struct FractionChoice {
  float fraction = 0.0f;
  SearchChoice svm;
};
FractionChoice CrossValidateFeatureSelection(float step, const SequenceSet& positives,
                                             const SequenceSet& negatives, int L,
                                             const std::vector<int>& ranking,
                                             const Settings& settings, OutputFile& out,
                                             SvmRandom& rng);

// ---- Genetic algorithm. An individual holds one 0/1 per position.
using Individual = std::vector<int>;

// Where the parents agree both children take the bit; at the 1st, 3rd, ...
// place where they differ child a takes a's bit and child b b's, at the 2nd,
// 4th, ... they exchange.
void HuxCrossover(const Individual& a, const Individual& b, Individual& child_a,
                  Individual& child_b);
// Flips each bit with probability q; true when any bit flipped.
bool RandomMutation(Individual& x, float q, CRandom& rng);
int HammingDistanceInteger(const Individual& a, const Individual& b);
// Index of the largest of values[first .. count - 1], the first on ties.
int OrderedSelection(const std::vector<float>& values, int first, int count);

// The fitness of a selection: alpha G + (1 - alpha) reduction, G from an
// F-fold cross-validated SVM on the kept positions, reduction the share of
// positions dropped.
class SelectionEvaluator {
 public:
  SelectionEvaluator(const SequenceSet& positives, const SequenceSet& negatives, int L,
                     const Settings& settings, SvmRandom& rng);
  float Evaluate(const Individual& x, float* G, float* reduction);
  // One pass of first-improvement hill climbing over the bits (ties are
  // accepted); returns the fitness kept, with its G and reduction.
  float LSMutation(Individual& x, float* G, float* reduction);

 private:
  const SequenceSet& positives_;
  const SequenceSet& negatives_;
  int L_;
  const Settings& settings_;
  SvmRandom& rng_;
  SequenceSet cut_pos_, cut_neg_;  // reused between evaluations
};

// The positions the genetic algorithm keeps (one flag per position).
std::vector<int> GAFeatureSelection(const SequenceSet& positives, const SequenceSet& negatives,
                                    int L, const Settings& settings, CRandom& rng,
                                    SvmRandom& svm_rng, OutputFile& out);

}  // namespace varnik
