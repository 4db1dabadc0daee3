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

namespace {

void WriteNodes(const TreeNode* T, ModelWriter& w) {
  std::vector<std::string> v = {ModelWriter::Of(T->NodeType), ModelWriter::Of(T->Leaf),
                                ModelWriter::Of(T->Items),    ModelWriter::Of(T->Errors),
                                ModelWriter::Of(T->Tested),   ModelWriter::Of(T->Forks)};
  for (float d : T->ClassDist) v.push_back(ModelWriter::Of(d));
  w.Line("node", v);
  if (T->NodeType == 0) return;
  for (int b = 1; b <= T->Forks; ++b) WriteNodes(T->Branch[b].get(), w);
}

// A path tests each position at most once: depth stays within L + 1.
Tree ReadNodes(ModelReader& r, const TreeEngine& engine, int L, int depth, long long& left) {
  if (left-- <= 0) r.Fail("the tree has more nodes than its count");
  if (depth > L + 1) r.Fail("the tree is deeper than its window has positions");
  const int classes = engine.MaxClass() + 1;
  const std::vector<std::string_view> f = r.Expect("node");
  if (f.size() != static_cast<size_t>(6 + classes)) {
    r.Fail("a node holds " + std::to_string(f.size()) + " fields, not " +
           std::to_string(6 + classes));
  }
  auto T = std::make_unique<TreeNode>();
  T->NodeType = static_cast<short>(r.Whole(f[0], 0, 1));
  T->Leaf = static_cast<short>(r.Whole(f[1], 0, classes - 1));
  T->Items = r.Single(f[2]);
  T->Errors = r.Single(f[3]);
  T->Tested = static_cast<int>(r.Whole(f[4], 0, std::max(L - 1, 0)));
  T->Forks = static_cast<short>(r.Whole(f[5], 0, 32767));
  for (int c = 0; c < classes; ++c) T->ClassDist.push_back(r.Single(f[6 + c]));
  if (T->NodeType == 0) {
    T->Forks = 0;
    return T;
  }
  const std::vector<int>& values = engine.MaxAttVal();
  if (T->Tested >= static_cast<int>(values.size()) || T->Forks != values[T->Tested]) {
    r.Fail("a test on position " + std::to_string(T->Tested) + " with " + std::to_string(T->Forks) +
           " branches, not one per letter");
  }
  T->Branch.resize(static_cast<size_t>(T->Forks) + 1);
  for (int b = 1; b <= T->Forks; ++b) T->Branch[b] = ReadNodes(r, engine, L, depth + 1, left);
  return T;
}

}  // namespace

void WriteTree(const TreeNode* tree, ModelWriter& w) {
  w.Line("tree", {ModelWriter::Of(TreeSize(tree))});
  WriteNodes(tree, w);
}

Tree ReadTree(ModelReader& r, const TreeEngine& engine, int L) {
  long long left = r.ExpectCount("tree", 1, 1LL << 40);
  r.RefuseCount(left, 10, "tree nodes");
  const long long count = left;
  Tree tree = ReadNodes(r, engine, L, 0, left);
  if (left != 0) {
    r.Fail("the tree has " + std::to_string(count - left) + " nodes, its count " +
           std::to_string(count));
  }
  return tree;
}

void C45Recognizer::WritePayload(ModelWriter& w) const { WriteTree(tree.get(), w); }

std::unique_ptr<Recognizer> ReadC45Payload(ModelReader& r, const Settings& settings, int L) {
  TreeEngine engine;
  ReadWindowNames(engine, L);
  Tree tree = ReadTree(r, engine, L);
  return std::make_unique<C45Recognizer>(settings, std::move(tree), engine, L);
}

}  // namespace varnik
