// The decision value of a two-class weighted-degree model as a sum of table
// look-ups: the kernel is a sum over positions t and k-mer lengths k of beta_k
// [the k-mers ending at t agree], so the support vectors' coefficients can be
// folded once into, for every end position, a tree of the k-mers read
// backwards from it. Scoring a window walks one path per position, whatever
// the number of support vectors. The sums are taken in another order than
// svm_predict_values takes them (each position's weights from the root down,
// then the positions in order): values agree up to rounding, and do not
// depend on how many levels the tables hold.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/huge_page_allocator.h"
#include "svm/svm.h"

namespace varnik {

class WdTable {
 public:
  // Null when the model is not a two-class wd model on letters of one length.
  static std::unique_ptr<WdTable> Build(const svm_model& model);

  int length() const { return n_; }
  // The first decision value for a window of length() letters (its codes, as
  // the model's support vectors hold them).
  double Decision(const unsigned char* window) const;
  // The same for many windows at once, out[i] for windows[i]: position by
  // position over all of them, so that one position's tables stay in the
  // processor's cache; windows one letter apart (a scan's) have their
  // letters' codes read once; entries are taken eight windows at a time on
  // processors with AVX-512, and the walks below them in turns, each node
  // fetched ahead. Each value is the number Decision gives, to the last bit.
  void Decisions(const unsigned char* const* windows, int count, double* out) const;
  // Nodes over all positions (for tests and the memory figure).
  size_t nodes() const { return nodes_.size(); }
  // The bytes the tables take.
  size_t bytes() const;

 private:
  static constexpr unsigned char kNoCode = 255;
  // A node of a position's tree: the vectors whose letters t, t - 1, ...,
  // t - depth + 1 agree.
  struct alignas(32) Node {
    double weight = 0;  // beta_depth times the coefficients of its vectors
    union {
      int32_t child[4] = {-1, -1, -1, -1};  // by the code of the letter at t - depth
      uint64_t ahead[2];  // of a single vector: its letters at t - depth, t - depth - 1, ...
    };
    int32_t single = -1;  // one vector alone below: compared letter by letter
    int32_t others = -1;  // children of letters without a code: others_[others ..], up to a 0
  };
  struct Other {
    unsigned char letter;
    int32_t node;
  };
  int32_t BuildNode(int t, int depth, std::vector<int>& members, std::vector<int>& scratch,
                    int begin, int end);
  int32_t ChildOf(const Node& node, unsigned char letter) const;
  // The walk down position t's tree from a node at `depth` (its weight
  // counted), adding the weights of the matching depths to sum.
  // kFast: single vectors compared through their nodes' letters.
  template <bool kFast>
  void Walk(int t, const unsigned char* z, int32_t node, int depth, double& sum) const;
  // One step of that walk at `node` (at `depth`, limit = min(d, t + 1)):
  // the child to go on to, or -1 when the walk ends there (a single
  // vector's run added to sum).
  template <bool kFast>
  int32_t WalkStep(int t, const unsigned char* z, const Node& node, int depth, int limit,
                   double& sum) const;
  // How far back from depth the letters of vector v and of z agree (at most
  // limit), letter by letter.
  int Match(int t, const unsigned char* z, int32_t v, int depth, int limit) const;
  // The same 8 letters at a time: first the `words` words of ahead (what an
  // entry or node keeps of v), then v's own letters.
  int FastMatch(int t, const unsigned char* z, int32_t v, int depth, int limit,
                const uint64_t* ahead = nullptr, int words = 0) const;
  // The letters of v at t - depth, t - depth - 1, ..., 16 of them as two
  // words FastMatch compares (0 before the window's start).
  void Ahead(int t, int32_t v, int depth, uint64_t out[2]) const;
  const unsigned char* letters(int32_t v) const {
    return sv_letters_.data() + static_cast<size_t>(v) * static_cast<size_t>(n_);
  }
  // The first levels of each position's tree as tables indexed by the codes
  // of the last letters (the most recent the lowest digit): the weights of
  // their matching depths, summed from the root, and where the walk goes on.
  // A position has one table for each number of levels up to its own, for
  // windows with a letter outside the table that many letters back.
  enum : uint32_t { kDone, kSingle, kNode };
  struct alignas(16) Entry {
    double sum = 0;      // the weights of the matching depths within the table
    uint32_t ahead = 0;  // kSingle: the vector's letters past the table, byte 3 - j the one
                         // at depth levels + j (0 before the window's start)
    uint32_t packed = 0;
    // kDone, kSingle or kNode.
    uint32_t kind() const { return packed >> 30; }
    // kSingle: the depth the vector's run of matching letters starts at.
    int from() const { return static_cast<int>((packed >> 26) & 15); }
    // kSingle: the vector (coef_ holds a 0 past the vectors, for kDone);
    // kNode: the node at the table's depth.
    int32_t next() const { return static_cast<int32_t>(packed & ((1u << 26) - 1)); }
    void set(uint32_t kind, int from, int32_t next) {
      packed = (kind << 30) | (static_cast<uint32_t>(from) << 26) | static_cast<uint32_t>(next);
    }
  };
  static constexpr int kMostLevels = 15;
  static constexpr size_t kNodeIndices = size_t{1} << 26;  // what next() can hold
  void BuildEntries(int t, int levels);
  // The entry of window z at position t, and its levels: as many of the
  // last letters as the table knows, up to the position's levels.
  size_t Locate(int t, const unsigned char* z, int& levels) const;
  size_t table_start(int t, int levels) const {
    return table_start_[static_cast<size_t>(t) * (kMostLevels + 1) + static_cast<size_t>(levels)];
  }
  // What position t adds to a window's sum from its entry: the entry's sum,
  // then the walk on from it, each position summed from 0 in depth order.
  template <bool kFast>
  double PositionSum(int t, const unsigned char* z, const Entry& e, int levels) const;
  // Decisions for windows of DNA (four table letters) of at least four
  // letters: each window's last letters' codes carried from one position to
  // the next.
  void DnaDecisions(const unsigned char* const* windows, int count, double* out) const;

  int n_ = 0, d_ = 0;
  double denominator_ = 1, rho_ = 0;
  std::vector<int64_t> beta_prefix_;       // sum of beta_k for k = 1 .. j, j up to min(d, n)
  std::vector<unsigned char> sv_letters_;  // the vectors' letters, n_ each
  std::vector<unsigned char> columns_;     // the same by position, while building
  std::vector<int32_t> single_at_;         // while building: the node each vector is alone in
  std::vector<int> single_depth_;          // and its depth
  std::vector<double> coef_;               // by vector, then a 0
  std::vector<Node, HugePageAllocator<Node>> nodes_;
  std::vector<Other> others_;
  std::vector<int32_t> root_;        // by end position
  int codes_ = 0;                    // the table letters' codes: 0 .. codes_ - 1
  unsigned char code_[256] = {};     // by letter; kNoCode for letters outside the table
  std::vector<int> letter_of_;       // by code
  std::vector<int> levels_;          // by end position: the levels of its full table
  std::vector<size_t> table_start_;  // by end position and levels: the table in entries_
  std::vector<Entry, HugePageAllocator<Entry>> entries_;
};

}  // namespace varnik
