#include "tree/tree_engine.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/error.h"
#include "recognizers/c45.h"
#include "test_util.h"

namespace varnik {
namespace {

// An engine with the attribute tables of windows of length L.
std::shared_ptr<TreeEngine> EngineFor(int L) {
  auto engine = std::make_shared<TreeEngine>();
  testing::TempDir dir;
  const std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  ReadWindowNames(*engine, L);
  std::filesystem::current_path(cwd);
  return engine;
}

TEST(TreeNamesTest, WindowNamesFile) {
  auto e = EngineFor(3);
  EXPECT_EQ(e->ClassName(), (std::vector<std::string>{"0", "1"}));
  EXPECT_EQ(e->MaxClass(), 1);
  EXPECT_EQ(e->MaxAtt(), 2);
  EXPECT_EQ(e->AttName(), (std::vector<std::string>{"x0", "x1", "x2"}));
  EXPECT_EQ(e->MaxDiscrVal(), 18);
  EXPECT_EQ(e->MaxAttVal()[1], 18);
  EXPECT_EQ(e->AttValName()[0][1], "A");
  EXPECT_EQ(e->AttValName()[0][3], "U");
  EXPECT_EQ(e->AttValName()[0][18], "-");
  int32_t d[5];
  e->DescribeWindow("Ca*", 3, d);
  EXPECT_EQ(d[0], 5);  // C
  EXPECT_EQ(d[1], 0);  // lower case: unknown
  EXPECT_EQ(d[2], 0);
  EXPECT_EQ(TreeEngine::Which("G", e->AttValName()[0], 1, 18), 4);
  EXPECT_EQ(TreeEngine::Which("Z", e->AttValName()[0], 1, 18), 0);
  EXPECT_EQ(EngineFor(1)->AttName(), (std::vector<std::string>{"x0"}));
}

TEST(TreeNamesTest, ReadNameRules) {
  TreeEngine e;
  const std::string text = "  a b  c, d.e:f\\,g.|comment\nlast.\th | x\n";
  size_t pos = 0;
  std::string name;
  ASSERT_TRUE(e.ReadName(text, pos, name));
  EXPECT_EQ(name, "a b c");  // a run of spaces is one space
  EXPECT_EQ(e.Delimiter(), ',');
  ASSERT_TRUE(e.ReadName(text, pos, name));
  EXPECT_EQ(name, "d.e");  // a '.' followed by a letter is kept
  EXPECT_EQ(e.Delimiter(), ':');
  ASSERT_TRUE(e.ReadName(text, pos, name));
  EXPECT_EQ(name, "f,g");          // backslash escapes
  EXPECT_EQ(e.Delimiter(), '\n');  // ".|" ends it and the comment runs to the line end
  ASSERT_TRUE(e.ReadName(text, pos, name));
  EXPECT_EQ(name, "last");
  EXPECT_EQ(e.Delimiter(), '\t');
  ASSERT_TRUE(e.ReadName(text, pos, name));
  EXPECT_EQ(name, "h");
  EXPECT_EQ(e.Delimiter(), '\n');
  EXPECT_FALSE(e.ReadName(text, pos, name));
  EXPECT_EQ(e.Delimiter(), -1);

  TreeEngine missing;
  missing.SetFileName("/nonexistent/stem");
  try {
    missing.GetNames();
    FAIL();
  } catch (const VarnikError& err) {
    EXPECT_TRUE(err.raw());
    EXPECT_STREQ(err.what(), "\nERROR:  cannot open file /nonexistent/stem.names\n");
    EXPECT_EQ(err.code(), 1);
  }
}

TEST(PruningTest, AddErrsValues) {
  TreeEngine e;
  EXPECT_FLOAT_EQ(e.AddErrs(1, 0), 0.75f);
  EXPECT_FLOAT_EQ(e.AddErrs(2, 0), 1.0f);
  EXPECT_NEAR(e.AddErrs(4, 0), 1.1716, 1e-4);
  EXPECT_NEAR(e.AddErrs(10, 0), 1.2945, 1e-4);
  EXPECT_NEAR(e.AddErrs(10, 1), 1.4406, 1e-4);
  EXPECT_NEAR(e.AddErrs(10, 2), 1.5477, 1e-4);
  EXPECT_NEAR(e.AddErrs(100, 10), 2.8147, 1e-4);
  EXPECT_NEAR(e.AddErrs(6, 0.5f), 1.2821, 1e-4);
  EXPECT_FLOAT_EQ(e.AddErrs(3, 2.5f), 0.335f);
}

using Windows = testing::WindowLists;

Tree Grow(TreeEngine& e, const Windows& w, int L, bool prune) {
  Settings s;
  s.Prune_tree = prune;
  CRandom rng(1);
  return TrainC45Classifier(e, w.P(), w.N(), L, s, rng, nullptr, nullptr);
}

TEST(TreeInductionTest, OneSeparatingPositionGivesARootWithEighteenBranches) {
  auto e = EngineFor(3);
  Windows w;
  const char* fill[] = {"AC", "GT", "TA", "CG", "AA", "CC"};
  for (int i = 0; i < 6; ++i) {
    w.pos.push_back(std::string(fill[i]) + "G");
    w.neg.push_back(std::string(fill[5 - i]) + "T");
  }
  Tree t = Grow(*e, w, 3, false);
  ASSERT_EQ(t->NodeType, 1);
  EXPECT_EQ(t->Tested, 2);
  EXPECT_EQ(t->Forks, 18);
  EXPECT_EQ(TreeSize(t.get()), 19);
  // An empty branch is a leaf without weight that gives the parent's class.
  EXPECT_EQ(t->Branch[1]->Items, 0);
  EXPECT_EQ(t->Branch[4]->Items, 6);  // G
  EXPECT_EQ(C45Output(*e, t.get(), "AAG", 3), 1.0f);
  EXPECT_EQ(C45Output(*e, t.get(), "AAT", 3), -1.0f);
  // Unknown at the tested position: every branch, weighted by its cases.
  EXPECT_EQ(C45Output(*e, t.get(), "AAg", 3), 0.0f);
}

TEST(TreeInductionTest, SmallOrPureNodesAreLeavesAndUselessTestsCollapse) {
  auto e = EngineFor(2);
  Windows few;
  few.pos = {"AA", "CC"};
  few.neg = {"GG"};
  Tree t = Grow(*e, few, 2, false);
  EXPECT_EQ(t->NodeType, 0);  // fewer than 4 cases
  EXPECT_EQ(t->Errors, 1);
  // Position 0 splits the cases, but every branch is as mixed as the root:
  // the test makes as many errors as the leaf and collapses.
  Windows mixed;
  mixed.pos = {"AA", "AC", "CA", "CC"};
  mixed.neg = {"AG", "AT", "CG", "CT"};
  Tree u = Grow(*e, mixed, 2, false);
  // Position 1 separates perfectly: that test is kept, position 0 is not used.
  ASSERT_EQ(u->NodeType, 1);
  EXPECT_EQ(u->Tested, 1);
  Windows useless;
  useless.pos = {"AA", "CA", "AA", "CA"};
  useless.neg = {"AA", "CA", "AA", "CA"};
  Tree v = Grow(*e, useless, 2, false);
  EXPECT_EQ(v->NodeType, 0);
}

TEST(TreeScoreTest, LeafShares) {
  TreeEngine e;
  e.GetNamesFromText("0, 1.\nx0: A.\n", "leaf.names");
  TreeNode leaf;
  leaf.Items = 4;
  leaf.ClassDist = {1, 3};
  leaf.Leaf = 1;
  EXPECT_EQ(C45Output(e, &leaf, "A", 1), 0.5f);
  leaf.Items = 0;
  leaf.Leaf = 0;
  EXPECT_EQ(C45Output(e, &leaf, "A", 1), -1.0f);
  leaf.Leaf = 1;
  EXPECT_EQ(C45Output(e, &leaf, "A", 1), 1.0f);
}

// Windows with a noisy signal at position 0 and noise elsewhere.
Windows Noisy(unsigned seed, int n, int L) {
  CRandom rng(seed);
  Windows w;
  for (int i = 0; i < 2 * n; ++i) {
    std::string s(static_cast<size_t>(L), 'A');
    for (char& c : s) c = "ACGT"[rng.UniformIndex(4)];
    const bool pos = i < n;
    s[0] = (pos ? rng.UniformNumber() < 0.8 : rng.UniformNumber() < 0.2) ? 'G' : 'T';
    (pos ? w.pos : w.neg).push_back(s);
  }
  return w;
}

TEST(PruningTest, PruningSimplifiesANoisyTree) {
  auto e = EngineFor(6);
  const Windows w = Noisy(3, 60, 6);
  Tree raw = Grow(*e, w, 6, false);
  auto e2 = EngineFor(6);
  Tree pruned = Grow(*e2, w, 6, true);
  EXPECT_LT(TreeSize(pruned.get()), TreeSize(raw.get()));
  // Pruning a copy of the raw tree again with the same cases.
  e->BuildCases(w.P(), w.N(), 6);
  e->InitialiseTreeData();
  Tree copy = CopyTree(raw.get());
  EXPECT_EQ(TreeSize(copy.get()), TreeSize(raw.get()));
  EXPECT_TRUE(e->Prune(copy.get()));
  EXPECT_EQ(TreeSize(copy.get()), TreeSize(pruned.get()));
  // After pruning every node's Items are the cases that reach it.
  EXPECT_EQ(copy->Items, 120);
}

// A test node on attribute a with a leaf for every value; values listed in
// classes get leaves of that class.
Tree TestNode(TreeEngine& e, int a, const std::vector<std::pair<int, short>>& classes) {
  auto node = std::make_unique<TreeNode>();
  node->NodeType = 1;
  node->Tested = a;
  node->Forks = 18;
  node->ClassDist = {0, 0};
  node->Branch.resize(19);
  for (int v = 1; v <= 18; ++v) node->Branch[v] = e.MakeLeaf({0, 0}, 1, 0, 0);
  for (const auto& [v, c] : classes) node->Branch[v]->Leaf = c;
  return node;
}

TEST(PruningTest, SubtreeRaisingAndLeafReplacement) {
  // Attribute 0 hardly matters (one case has C there); attribute 1 decides.
  auto e = EngineFor(2);
  Windows w;
  for (int i = 0; i < 10; ++i) w.pos.push_back("AA");
  w.pos.push_back("CA");
  for (int i = 0; i < 10; ++i) w.neg.push_back("AC");
  e->BuildCases(w.P(), w.N(), 2);
  e->InitialiseTreeData();
  // Root tests attribute 0; its branch A tests attribute 1 (A: class 1,
  // C: class 0); its branch C is a leaf.
  Tree root = TestNode(*e, 0, {{5, 1}});
  root->Branch[1] = TestNode(*e, 1, {{1, 1}, {5, 0}});
  EXPECT_TRUE(e->Prune(root.get()));
  // The largest branch (A, 20 of 21 cases) estimates no worse than the whole
  // test: it is raised and takes all 21 cases.
  ASSERT_EQ(root->NodeType, 1);
  EXPECT_EQ(root->Tested, 1);
  EXPECT_EQ(root->Items, 21);
  EXPECT_EQ(root->Branch[1]->Items, 11);
  EXPECT_EQ(root->Branch[5]->Items, 10);
  EXPECT_EQ(TreeSize(root.get()), 19);

  // With the classes mixed on both sides, no test beats a leaf.
  Windows mixed;
  for (int i = 0; i < 10; ++i) {
    mixed.pos.push_back(i % 2 ? "AA" : "AC");
    mixed.neg.push_back(i % 2 ? "AC" : "AA");
  }
  e->BuildCases(mixed.P(), mixed.N(), 2);
  e->InitialiseTreeData();
  Tree t = TestNode(*e, 1, {{1, 1}, {5, 0}});
  EXPECT_TRUE(e->Prune(t.get()));
  EXPECT_EQ(t->NodeType, 0);
  EXPECT_EQ(t->Items, 20);
  EXPECT_EQ(TreeSize(t.get()), 1);
}

TEST(WindowingTest, WindowSizesAndTargets) {
  struct Case {
    int n, window, increment;
  } cases[] = {{20, 8, 1}, {50, 14, 2}, {100, 20, 4}, {1000, 200, 40}};
  for (const Case& c : cases) {
    auto e = EngineFor(2);
    Windows w = Noisy(5, c.n / 2, 2);
    Settings s;
    s.TRIALS = 2;
    CRandom rng(1);
    TrainC45Classifier(*e, w.P(), w.N(), 2, s, rng, nullptr, nullptr);
    EXPECT_EQ(e->Window(), c.window) << c.n;
    EXPECT_EQ(e->Increment(), c.increment) << c.n;
  }
  auto e = EngineFor(2);
  Windows w;
  for (int i = 0; i < 100; ++i) w.pos.push_back("AC");
  for (int i = 0; i < 900; ++i) w.neg.push_back("GT");
  e->BuildCases(w.P(), w.N(), 2);
  e->FormTarget(200);
  EXPECT_EQ(e->TargetClassFreq(), (std::vector<int>{100, 100}));
  e->FormTarget(150);
  EXPECT_EQ(e->TargetClassFreq(), (std::vector<int>{75, 75}));
}

// The structure of a tree as text, to compare trees.
std::string Shape(const TreeNode* t) {
  std::string s = std::to_string(t->NodeType) + ":" + std::to_string(t->Tested) + ":" +
                  std::to_string(t->Items) + "(";
  for (int v = 1; v <= t->Forks; ++v) s += Shape(t->Branch[v].get());
  return s + ")";
}

TEST(WindowingTest, TrialsRepeatWithTheSameSeed) {
  const Windows w = Noisy(9, 80, 8);
  Settings s;
  s.TRIALS = 4;
  auto a = EngineFor(8), b = EngineFor(8);
  CRandom r1(42), r2(42);
  Tree ta = TrainC45Classifier(*a, w.P(), w.N(), 8, s, r1, nullptr, nullptr);
  Tree tb = TrainC45Classifier(*b, w.P(), w.N(), 8, s, r2, nullptr, nullptr);
  EXPECT_EQ(Shape(ta.get()), Shape(tb.get()));
  EXPECT_EQ(r1.Next(), r2.Next());
  // One trial draws no random numbers.
  s.TRIALS = 1;
  CRandom r3(42), r4(42);
  Tree one = TrainC45Classifier(*a, w.P(), w.N(), 8, s, r3, nullptr, nullptr);
  EXPECT_EQ(r3.Next(), r4.Next());
  // The parameter table refuses 0 trials; a caller that passes it still gets
  // the single tree.
  s.TRIALS = 0;
  CRandom r5(42);
  EXPECT_EQ(Shape(TrainC45Classifier(*a, w.P(), w.N(), 8, s, r5, nullptr, nullptr).get()),
            Shape(one.get()));
}

TEST(C45ThresholdTest, SecondLowestOfTenPositives) {
  auto e = EngineFor(6);
  const Windows w = Noisy(11, 10, 6);
  Settings s;
  testing::TempDir dir;
  OutputFile out;
  ASSERT_TRUE(out.Open(dir / "r"));
  float threshold = -5;
  CRandom rng(1);
  Tree t = TrainC45Classifier(*e, w.P(), w.N(), 6, s, rng, &out, &threshold);
  out.Close();
  std::vector<float> scores;
  for (const auto& p : w.pos) scores.push_back(C45Output(*e, t.get(), p.c_str(), 6));
  std::sort(scores.begin(), scores.end());
  EXPECT_EQ(threshold, scores[1]);
  char line[64];
  std::snprintf(line, sizeof line, "C4.5 threshold: %lf\n", static_cast<double>(scores[1]));
  EXPECT_EQ(testing::ReadFile(dir / "r"), line);
  s.Sensitivity = 0;
  OutputFile out2;
  ASSERT_TRUE(out2.Open(dir / "r2"));
  TrainC45Classifier(*e, w.P(), w.N(), 6, s, rng, &out2, &threshold);
  out2.Close();
  EXPECT_EQ(threshold, 0.0f);
  EXPECT_EQ(testing::ReadFile(dir / "r2"), "C4.5 threshold: 0.000000\n");
}

}  // namespace
}  // namespace varnik
