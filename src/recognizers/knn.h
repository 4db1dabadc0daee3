// Hamming-distance k-nearest neighbours over the training windows.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/output_file.h"
#include "core/recognizer.h"
#include "core/sequence_set.h"
#include "core/settings.h"

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

// The k nearest prototypes of a window: slot distances ascending (2.0 for a
// slot no prototype has reached) and their labels (1 positive, 0 negative, -1
// none). With fewer prototypes than k, only as many slots are kept (the
// others could only stay empty). Prototypes are visited positives first, each
// list in order; one enters only when strictly closer than the current k-th,
// in front of the slots at its distance.
struct Neighbours {
  std::vector<float> distance;
  std::vector<signed char> label;
};

// The prototypes are the training windows themselves, shared with their
// owner, which must keep them alive as long as the recogniser. Scores weigh
// by distance when the recogniser's KNN_weight_by_distance is set.
class KnnRecognizer : public Recognizer {
 public:
  explicit KnnRecognizer(const Settings& settings) : Recognizer(settings, kKNN) {}
  int k = 0;
  int n_pos = 0;
  int n_neg = 0;
  int pos_length = 0;
  int neg_length = 0;
  std::vector<const char*> poss;
  std::vector<const char*> negs;
  // The prototypes' letters when the recogniser owns them (read from a model
  // file); empty when they are shared.
  std::string storage;

  float Score(const char* window, int L, int offset, ScoreScratch* scratch) const override;
  // Windows searched a block at a time (the same scores as one by one).
  void ScoreMany(const char* const* windows, int n, int L, int offset, float* out,
                 ScoreScratch* scratch) const override;
  std::unique_ptr<ScoreScratch> NewScratch() const override;
  void WritePayload(ModelWriter& w) const override;
  using Recognizer::Score;
};

// "knn k n_pos n_neg L" and one line per prototype, positives first; the
// recogniser owns the letters.
std::unique_ptr<Recognizer> ReadKnnPayload(ModelReader& r, const Settings& settings, int L);

// Fills the k-NN fields of R: k from K, the prototypes are the windows of the
// two sets (shared, not copied: the sets must outlive R).
void BuildkNN(KnnRecognizer& R, const SequenceSet& positives, const SequenceSet& negatives, int L,
              int K);
// The same from lists of window pointers (the windows must outlive R).
void BuildkNN(KnnRecognizer& R, std::vector<const char*> poss, std::vector<const char*> negs, int L,
              int K);
// Temporary sets would leave R pointing at freed windows.
void BuildkNN(KnnRecognizer&, SequenceSet&&, const SequenceSet&, int, int) = delete;
void BuildkNN(KnnRecognizer&, const SequenceSet&, SequenceSet&&, int, int) = delete;
void BuildkNN(KnnRecognizer&, SequenceSet&&, SequenceSet&&, int, int) = delete;

// Z of the weighted score after `filled` slots: each of the requested -
// filled empty slots at distance 2 adds exp(-2) in single precision, until
// Z stops changing; at least 1e-6. Its cost does not grow with requested.
float CompleteZ(float Z, int filled, int requested);

// The k nearest prototypes of the window, into nb.
void FindNeighbours(const KnnRecognizer& R, const char* window, int L, Neighbours& nb);

// The same from the mismatch counts of the window with every prototype
// (positives, then negatives, in the order of R's lists).
void FindNeighboursFromCounts(const KnnRecognizer& R, const int32_t* counts, int L, Neighbours& nb);

// The k-NN score from known mismatch counts (positives first), the same
// number FindNeighboursFromCounts and ScoreNeighbours give. The slots are kept
// as one queue of labels per count (oldest first): a newcomer enters in front
// of equal distances, so the oldest of the farthest count drops out. The
// score depends only on how many slots of each label each count holds.
struct KnnCountSlots {
  std::vector<std::vector<signed char>> labels;  // per count, in order of arrival
  std::vector<int> head;                         // first live entry per count
  std::vector<int> ones, zeros;                  // live slots per count and label
};
float KnnScoreFromCounts(const int32_t* counts, int n_pos, int n_neg, int L, int k,
                         bool weight_by_distance, KnnCountSlots& slots);

// The same scores for every k = first .. last, calling score(k, value) in
// order, without a walk over the prototypes per k: with D the k-th smallest
// count, the slots hold every prototype under D and, of those at D, the last
// k - #(under D) of the ones taken on arrival (those with fewer than k
// prototypes at D or under before them). One walk per distinct D.
void KnnScoresOfEachK(const int32_t* counts, int n_pos, int n_neg, int L, int first, int last,
                      bool weight_by_distance, KnnCountSlots& slots,
                      const std::function<void(int, float)>& score);

// The scores KnnScoreFromCounts gives for k = first .. last when every
// prototype has a slot (first >= max(n_pos + n_neg, 1)). They differ from k
// to k only by the weighted scores' sum Z, which takes exp(-2) per empty slot
// until it stops changing in single precision. Calls score(k, value) for k =
// first, first + 1, ... and stops at the k from which every later k has the
// same value; returns that k.
int KnnScoresOfEveryPrototype(const int32_t* counts, int n_pos, int n_neg, int L, int first,
                              int last, bool weight_by_distance,
                              const std::function<void(int, float)>& score);

// The score of the slots found for a recogniser of k neighbours.
float ScoreNeighbours(const Neighbours& nb, int k, bool weight_by_distance);

// Score of one window against R's prototypes: the balance of positive and
// negative labels among the k nearest, weighted by exp(-distance) when
// weight_by_distance is set. In [-k, k] unweighted, [-1, 1] weighted; 0 when
// k <= 0. nb is scratch space.
float ClassifySequencekNN(const KnnRecognizer& R, const char* window, int L,
                          bool weight_by_distance, Neighbours& nb);
float ClassifySequencekNN(const KnnRecognizer& R, const char* window, int L,
                          bool weight_by_distance);

// Sets R's threshold from the scores of its own positive prototypes (by its
// Sensitivity) and writes the "k-NN threshold" line.
void SetkNNThreshold(KnnRecognizer& R, OutputFile& out);

// The k-NN recogniser of the run: k from K, threshold 0, set from the
// positives when Sensitivity > 0. The sets must outlive it.
std::unique_ptr<KnnRecognizer> TrainkNN(const SequenceSet& positives, const SequenceSet& negatives,
                                        int L, const Settings& settings, OutputFile& out);
std::unique_ptr<KnnRecognizer> TrainkNN(SequenceSet&&, const SequenceSet&, int, const Settings&,
                                        OutputFile&) = delete;
std::unique_ptr<KnnRecognizer> TrainkNN(const SequenceSet&, SequenceSet&&, int, const Settings&,
                                        OutputFile&) = delete;

}  // namespace varnik
