// The decision-tree recogniser: one C4.5 tree over the window positions
// (one attribute per position, class 1 for positives, 0 for negatives); a
// window scores the positive share of its weight minus the negative share.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/output_file.h"
#include "core/random.h"
#include "core/recognizer.h"
#include "core/settings.h"
#include "tree/tree_engine.h"

namespace varnik {

// Gives the engine the attribute tables of windows of length L (classes "0"
// and "1", one attribute per position with the 18 letters), as the names
// file of the run would.
void ReadWindowNames(TreeEngine& engine, int L);

// A tree with what it needs to read windows: the value number of every letter
// at every position, taken from the engine's attribute tables.
class TreeScorer {
 public:
  TreeScorer(const TreeEngine& engine, int L)
      : codes_(engine.WindowLetterCodes(L)), max_class_(engine.MaxClass()) {}
  // Working space of one scoring thread.
  struct Scratch {
    std::vector<int32_t> description;
    std::vector<float> class_sum;
  };
  // 2 (ClassSum[1] - 0.5): in [-1, 1], positive means a site.
  float Output(const TreeNode* tree, const char* window, int L, Scratch& scratch) const;

 private:
  std::vector<TreeEngine::LetterCodes> codes_;
  int max_class_;
};

class C45Recognizer : public Recognizer {
 public:
  C45Recognizer(const Settings& settings, Tree tree, const TreeEngine& engine, int L)
      : Recognizer(settings, kC45), tree(std::move(tree)), scorer(engine, L) {}
  Tree tree;
  TreeScorer scorer;

  float Score(const char* window, int L, int offset, ScoreScratch* scratch) const override;
  std::unique_ptr<ScoreScratch> NewScratch() const override;
  void WritePayload(ModelWriter& w) const override;
  using Recognizer::Score;
};

// "tree n" and its n nodes in preorder, each "node type leaf items errors
// tested forks" and the class weights.
void WriteTree(const TreeNode* tree, ModelWriter& w);
// A tree of such a payload, checked against the attribute tables of windows
// of L letters (engine from ReadWindowNames).
Tree ReadTree(ModelReader& r, const TreeEngine& engine, int L);
// The C4.5 recogniser of a payload.
std::unique_ptr<Recognizer> ReadC45Payload(ModelReader& r, const Settings& settings, int L);

// Trains a tree (Trials, Prune_tree). When threshold is given, sets it from
// the scores of the positives and writes the "C4.5 threshold" line.
Tree TrainC45Classifier(TreeEngine& engine, const std::vector<const char*>& positives,
                        const std::vector<const char*>& negatives, int L, const Settings& settings,
                        CRandom& rng, OutputFile* out, float* threshold);

// The C4.5 recogniser of the run: the tree, its threshold line and the "Tree
// nodes" line.
std::unique_ptr<C45Recognizer> TrainC45Recognizer(TreeEngine& engine,
                                                  const std::vector<const char*>& positives,
                                                  const std::vector<const char*>& negatives, int L,
                                                  const Settings& settings, CRandom& rng,
                                                  OutputFile& out);

// The tree's output for one window (as TreeScorer::Output).
float C45Output(const TreeEngine& engine, const TreeNode* tree, const char* window, int L);

}  // namespace varnik
