// The decision value of a two-class weighted-degree model as a sum of table
// look-ups: the kernel is a sum over positions t and k-mer lengths k of beta_k
// [the k-mers ending at t agree], so the support vectors' coefficients can be
// folded once into, for every end position, a tree of the k-mers read
// backwards from it. Scoring a window walks one path per position, whatever
// the number of support vectors. The sums are taken in another order than
// svm_predict_values takes them: values agree up to rounding.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
  // position over all of them, so that one position's tree stays in the
  // processor's cache, each window's look-ups fetched ahead of its turn.
  // Each value is the number Decision gives, to the last bit.
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
  // The first levels of each position's tree as one table indexed by the
  // codes of the last letters (the most recent last): the weight of their
  // matching depths and where the walk goes on.
  struct Entry {
    double sum = 0;
    int32_t node = -1;    // a tree node to walk on from, or
    int32_t single = -1;  // one vector left, whose letters are compared from the last level
    uint64_t ahead = 0;   // its letters there: byte 7 - j the one at depth levels + j
  };
  void BuildEntries(int t);
  // The entry of window z at position t in entries_; -1 when one of its
  // letters has no code.
  int64_t EntryIndex(int t, const unsigned char* z) const;
  template <bool kFast>
  void AddPosition(int t, const unsigned char* z, int64_t entry, double& sum) const;

  int n_ = 0, d_ = 0;
  double denominator_ = 1, rho_ = 0;
  std::vector<int64_t> beta_prefix_;       // sum of beta_k for k = 1 .. j, j up to min(d, n)
  std::vector<unsigned char> sv_letters_;  // the vectors' letters, n_ each
  std::vector<unsigned char> columns_;     // the same by position, while building
  std::vector<int32_t> single_at_;         // while building: the node each vector is alone in
  std::vector<int> single_depth_;          // and its depth
  std::vector<double> coef_;
  std::vector<Node> nodes_;
  std::vector<Other> others_;
  std::vector<int32_t> root_;        // by end position
  int codes_ = 0;                    // the table letters' codes: 0 .. codes_ - 1
  unsigned char code_[256] = {};     // by letter; kNoCode for letters outside the table
  std::vector<int> letter_of_;       // by code
  std::vector<int> levels_;          // by end position: the levels in its table
  std::vector<size_t> entry_start_;  // by end position: its table in entries_
  std::vector<Entry> entries_;
};

}  // namespace varnik
