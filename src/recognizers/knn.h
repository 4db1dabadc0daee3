// Hamming-distance k-nearest neighbours over the training windows.
#pragma once

#include <cstdint>
#include <vector>

#include "common/output_file.h"
#include "driver/recognizer.h"
#include "driver/settings.h"
#include "sequence/sequence_set.h"

namespace varnik {

// Fraction of the L positions where the windows differ, in single precision.
float HammingDistance(const char* a, const char* b, int L);

// Number of positions where a and b differ. Once the count is known to exceed
// limit, counting stops and some value above limit is returned. Picks the
// fastest build the processor runs (knn_kernels.h); CountMismatchesPortable
// is the build for every x86-64 processor.
int CountMismatches(const char* a, const char* b, int L, int limit);
int CountMismatchesPortable(const char* a, const char* b, int L, int limit);
// True when the AVX2 build is compiled in and the processor runs it.
bool UseAvx2Search();

// Fills the k-NN fields of R: k from K, the prototypes are the windows of the
// two sets (shared, not copied: the sets must outlive R).
void BuildkNN(Recognizer& R, const SequenceSet& positives, const SequenceSet& negatives, int L,
              int K);
// The same from lists of window pointers (the windows must outlive R).
void BuildkNN(Recognizer& R, std::vector<const char*> poss, std::vector<const char*> negs, int L,
              int K);
// Temporary sets would leave R pointing at freed windows.
void BuildkNN(Recognizer&, SequenceSet&&, const SequenceSet&, int, int) = delete;
void BuildkNN(Recognizer&, const SequenceSet&, SequenceSet&&, int, int) = delete;
void BuildkNN(Recognizer&, SequenceSet&&, SequenceSet&&, int, int) = delete;

// The k nearest prototypes of a window: slot distances ascending (2.0 for a
// slot no prototype has reached) and their labels (1 positive, 0 negative, -1
// none). With fewer prototypes than k, only as many slots are kept (the
// others could only stay empty). Prototypes are visited positives first, each list in order; one
// enters only when strictly closer than the current k-th, in front of the
// slots at its distance.
struct Neighbours {
  std::vector<float> distance;
  std::vector<signed char> label;
};
void FindNeighbours(const Recognizer& R, const char* window, int L, Neighbours& nb);

// The same from the mismatch counts of the window with every prototype
// (positives, then negatives, in the order of R's lists).
void FindNeighboursFromCounts(const Recognizer& R, const int32_t* counts, int L, Neighbours& nb);

// The k-NN score from known mismatch counts (positives first), the same
// number FindNeighboursFromCounts and ScoreNeighbours give. The slots are kept
// as one queue of labels per count (oldest first): a newcomer enters in front
// of equal distances, so the oldest of the farthest count drops out. The
// score depends only on how many slots of each label each count holds.
struct KnnCountSlots {
  std::vector<std::vector<signed char>> labels;  // per count, in order of arrival
  std::vector<int> head;                         // first live entry per count
};
float KnnScoreFromCounts(const int32_t* counts, int n_pos, int n_neg, int L, int k,
                         bool weight_by_distance, KnnCountSlots& slots);

// The score of the slots found for a recogniser of k neighbours.
float ScoreNeighbours(const Neighbours& nb, int k, bool weight_by_distance);

// Score of one window against R's prototypes: the balance of positive and
// negative labels among the k nearest, weighted by exp(-distance) when
// weight_by_distance is set. In [-k, k] unweighted, [-1, 1] weighted; 0 when
// k <= 0.
float ClassifySequencekNN(const Recognizer& R, const char* window, int L, bool weight_by_distance);

// Sets R.threshold from the scores of R's own positive prototypes and writes
// the "k-NN threshold" line.
void SetkNNThreshold(Recognizer& R, const Settings& settings, OutputFile& out);

}  // namespace varnik
