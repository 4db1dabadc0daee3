#include "recognizers/c45.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/error.h"
#include "common/numeric.h"
#include "sequence/alphabet.h"

namespace varnik {

namespace {

// Removes the file when it goes out of scope, on every path.
class RemoveOnExit {
 public:
  explicit RemoveOnExit(std::string path) : path_(std::move(path)) {}
  ~RemoveOnExit() { std::remove(path_.c_str()); }
  RemoveOnExit(const RemoveOnExit&) = delete;
  RemoveOnExit& operator=(const RemoveOnExit&) = delete;

 private:
  std::string path_;
};

}  // namespace

void ReadWindowNames(TreeEngine& engine, int L) {
  // A name nobody else can take: created exclusively by mkstemps.
  char name[] = "varnik-names-XXXXXX.names";
  const int fd = mkstemps(name, 6);
  if (fd < 0) OnErrorExit(kUnspecifiedError, "Cannot create the names file for the decision tree");
  RemoveOnExit guard(name);
  std::FILE* f = fdopen(fd, "w");
  if (f == nullptr) {
    close(fd);
    OnErrorExit(kUnspecifiedError, "Cannot write the names file for the decision tree");
  }
  std::fprintf(f, "0, 1.    | classes\n");
  for (int d = 0; d < L; ++d) std::fprintf(f, "x%d: A,T,U,G,C,R,Y,K,M,S,W,B,D,H,V,N,X,-\n", d);
  const bool failed = std::ferror(f) != 0;
  if (std::fclose(f) != 0 || failed) {
    OnErrorExit(kUnspecifiedError, "Cannot write the names file for the decision tree");
  }
  const std::string file(name);
  engine.FileName = file.substr(0, file.size() - 6);
  engine.GetNames();
}

Tree TrainC45Classifier(TreeEngine& engine, const std::vector<const char*>& positives,
                        const std::vector<const char*>& negatives, int L, const Settings& settings,
                        CRandom& rng, OutputFile* out, float* threshold) {
  if (settings.TRIALS < 1) OnErrorExit(kUnspecifiedError, "Trials must be at least 1");
  engine.MaxClass = 1;
  engine.MaxAtt = L - 1;
  engine.g_prune_tree = settings.Prune_tree;
  engine.TRIALS = settings.TRIALS;
  engine.BuildCases(positives, negatives, L);
  int best = 0;
  if (settings.TRIALS == 1) {
    engine.OneTree();
  } else {
    best = engine.BestTree(rng);
  }
  Tree tree = std::move(settings.Prune_tree ? engine.Pruned[best] : engine.Raw[best]);
  engine.ReleaseTreeData();
  engine.Raw.clear();
  engine.Pruned.clear();
  if (threshold != nullptr) {
    *threshold = 0.0f;
    if (settings.Sensitivity > 0 && !positives.empty()) {
      std::vector<float> scores;
      for (const char* w : positives) scores.push_back(C45Output(engine, tree.get(), w, L));
      std::sort(scores.begin(), scores.end());
      *threshold = scores[SensitivityIndex(static_cast<int>(scores.size()), settings.Sensitivity)];
    }
    if (out != nullptr) out->Printf("C4.5 threshold: %lf\n", static_cast<double>(*threshold));
  }
  return tree;
}

float C45Output(TreeEngine& engine, const TreeNode* tree, const char* window, int L) {
  thread_local std::vector<int32_t> description;
  description.assign(static_cast<size_t>(L) + 2, 0);
  engine.MaxAtt = L - 1;
  engine.DescribeWindow(window, L, description.data());
  engine.Category(description.data(), tree);
  return static_cast<float>(2 * (static_cast<double>(engine.ClassSum[1]) - 0.5));
}

}  // namespace varnik
