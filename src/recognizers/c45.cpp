#include "recognizers/c45.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "core/error.h"
#include "core/numeric.h"
#include "sequence/alphabet.h"

namespace varnik {

void ReadWindowNames(TreeEngine& engine, int L) {
  // The names file's text, read by the engine from memory: no file exists
  // even for a moment.
  std::string text = "0, 1.    | classes\n";
  char line[96];
  for (int d = 0; d < L; ++d) {
    std::snprintf(line, sizeof line, "x%d: A,T,U,G,C,R,Y,K,M,S,W,B,D,H,V,N,X,-\n", d);
    text += line;
  }
  engine.SetFileName("dummy");
  engine.GetNamesFromText(text, "dummy.names");
}

Tree TrainC45Classifier(TreeEngine& engine, const std::vector<const char*>& positives,
                        const std::vector<const char*>& negatives, int L, const Settings& settings,
                        CRandom& rng, OutputFile* out, float* threshold) {
  engine.SetTwoClassWindows(L);
  engine.SetPruneTree(settings.Prune_tree);
  // The parameter table refuses fewer than 1 trial; the engine grows at
  // least one tree for any caller.
  engine.SetTrials(std::max<short>(1, settings.TRIALS));
  engine.BuildCases(positives, negatives, L);
  int best = 0;
  if (settings.TRIALS == 1) {
    engine.OneTree();
  } else {
    best = engine.BestTree(rng);
  }
  Tree tree = engine.TakeTree(best, settings.Prune_tree);
  engine.ReleaseTreeData();
  engine.ClearTrees();
  if (threshold != nullptr) {
    const TreeScorer scorer(engine, L);
    *threshold =
        TrainingThreshold(static_cast<int>(positives.size()), settings.Sensitivity,
                          WithoutSensitivity::kZero, 1, 1, [&](int begin, int end, float* out) {
                            TreeScorer::Scratch scratch;
                            for (int i = begin; i < end; ++i) {
                              out[i] = scorer.Output(tree.get(), positives[i], L, scratch);
                            }
                          });
    if (out != nullptr) out->Printf("C4.5 threshold: %lf\n", static_cast<double>(*threshold));
  }
  return tree;
}

float TreeScorer::Output(const TreeNode* tree, const char* window, int L, Scratch& scratch) const {
  scratch.description.assign(static_cast<size_t>(std::max(L, 0)) + 2, 0);
  scratch.class_sum.resize(static_cast<size_t>(max_class_) + 1);
  const int known = std::min(L, static_cast<int>(codes_.size()));
  for (int j = 0; j < known; ++j) {
    scratch.description[j] = codes_[j][static_cast<unsigned char>(window[j])];
  }
  TreeCategory(scratch.description.data(), tree, max_class_, scratch.class_sum.data());
  return static_cast<float>(2 * (static_cast<double>(scratch.class_sum[1]) - 0.5));
}

namespace {

struct C45Scratch : ScoreScratch {
  TreeScorer::Scratch tree;
};

}  // namespace

std::unique_ptr<ScoreScratch> C45Recognizer::NewScratch() const {
  return std::make_unique<C45Scratch>();
}

float C45Recognizer::Score(const char* window, int L, int, ScoreScratch* scratch) const {
  if (scratch == nullptr) return Score(window, L);
  return scorer.Output(tree.get(), window, L, static_cast<C45Scratch*>(scratch)->tree);
}

std::unique_ptr<C45Recognizer> TrainC45Recognizer(TreeEngine& engine,
                                                  const std::vector<const char*>& positives,
                                                  const std::vector<const char*>& negatives, int L,
                                                  const Settings& settings, CRandom& rng,
                                                  OutputFile& out) {
  float threshold = 0.0f;
  Tree tree = TrainC45Classifier(engine, positives, negatives, L, settings, rng, &out, &threshold);
  auto R = std::make_unique<C45Recognizer>(settings, std::move(tree), engine, L);
  R->set_threshold(threshold);
  out.Printf("Tree nodes: %d\n", TreeSize(R->tree.get()));
  return R;
}

float C45Output(const TreeEngine& engine, const TreeNode* tree, const char* window, int L) {
  TreeScorer::Scratch scratch;
  return TreeScorer(engine, L).Output(tree, window, L, scratch);
}

}  // namespace varnik
