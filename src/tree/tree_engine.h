// The C4.5 decision-tree engine: attribute tables read from a names file,
// cases built in memory, tree induction by gain ratio, pessimistic pruning,
// windowing over several trials, and classification. All of its state lives
// in one TreeEngine object.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/random.h"

namespace varnik {

// One node of a decision tree; a node owns its subtrees.
struct TreeNode {
  short NodeType = 0;  // 0 leaf, 1 test on a discrete attribute
  short Leaf = 0;      // the most frequent class
  float Items = 0;     // total weight of the node's cases
  std::vector<float> ClassDist;
  float Errors = 0;
  int Tested = 0;                                 // the attribute tested
  short Forks = 0;                                // number of branches
  std::vector<std::unique_ptr<TreeNode>> Branch;  // 1 .. Forks; entry 0 unused
};
using Tree = std::unique_ptr<TreeNode>;

// The class of a case by the tree: its weight is shared among the leaves it
// reaches (every branch of a test on an unknown value, by the branches'
// weights); the class weights go to ClassSum (MaxClass + 1 cells), and the
// heaviest class wins, the lower class on ties.
short TreeCategory(const int32_t* CaseDesc, const TreeNode* T, int MaxClass, float* ClassSum);
void TreeClassify(const int32_t* CaseDesc, const TreeNode* T, float Wt, int MaxClass,
                  float* ClassSum);

// Number of nodes.
int TreeSize(const TreeNode* T);
// A deep copy.
Tree CopyTree(const TreeNode* T);

class TreeEngine {
 public:
  // ---- Attribute tables (names file).
  int MaxClass = -1;
  std::vector<std::string> ClassName;
  int MaxAtt = -1;  // attribute numbers are ints: windows of any length work
  std::vector<std::string> AttName;
  std::vector<int> MaxAttVal;
  std::vector<std::vector<std::string>> AttValName;  // [a][v], v from 1
  int MaxDiscrVal = 0;
  std::string FileName;
  int Delimiter = 0;

  // Reads FileName + ".names".
  void GetNames();
  // The same from the text of a names file (path names it in messages).
  void GetNamesFromText(const std::string& text, const std::string& path);
  // Reads the next name from the text at pos into buffer; false at the end.
  bool ReadName(const std::string& text, size_t& pos, std::string& buffer);
  // Index of value among list[first .. last], or first - 1.
  static int Which(const std::string& value, const std::vector<std::string>& list, int first,
                   int last);

  // ---- Cases. A description holds MaxAtt + 2 cells: the value number of
  // every attribute (0 unknown) and the class.
  int MaxItem = -1;
  std::vector<int32_t*> Item;
  // Sets the cases from windows of length L (positives class 1 first, then
  // negatives class 0); the engine owns their storage.
  void BuildCases(const std::vector<const char*>& positives,
                  const std::vector<const char*>& negatives, int L);
  // Fills description cells 0 .. L-1 from a window.
  void DescribeWindow(const char* window, int L, int32_t* description) const;
  // The value number of every character at each of L positions, as
  // DescribeWindow finds it.
  using LetterCodes = std::array<int16_t, 256>;
  std::vector<LetterCodes> WindowLetterCodes(int L) const;

  // ---- Induction.
  void InitialiseTreeData();
  void ReleaseTreeData();
  void InitialiseWeights();
  Tree FormTree(int Fp, int Lp);
  float CountItems(int Fp, int Lp) const;
  void Swap(int i, int j);
  int Group(int v, int Fp, int Lp, const TreeNode* T);
  Tree MakeLeaf(const std::vector<float>& ClassFreq, short NodeClass, float Cases,
                float Errors) const;
  void EvalDiscreteAtt(int Att, int Fp, int Lp, float Items);
  float ComputeGain(int MaxVal, float BaseInfo, float UnknFrac, float TotalItems) const;
  float TotalInfo(const float* V, int first, int last) const;
  static float Worth(float ThisInfo, float ThisGain, float MinGain);

  // ---- Pruning.
  bool Prune(TreeNode* T);
  float EstimateErrors(TreeNode* T, int Fp, int Lp, bool update);
  float AddErrs(float N, float e) const;
  bool Changed = false;
  bool g_prune_tree = true;

  // ---- Trials, windowing and classification.
  short TRIALS = 1;
  int WINDOW = 0;
  int INCREMENT = 0;
  std::vector<Tree> Raw, Pruned;
  std::vector<int> TargetClassFreq;
  std::vector<float> ClassSum;
  void OneTree();
  int BestTree(CRandom& rng);
  void FormTarget(int Size);
  Tree Iterate(int Window, int IncExceptions);
  // The class of a case, its class weights left in ClassSum.
  short Category(const int32_t* CaseDesc, const TreeNode* T);

  // Working data (public for tests).
  std::vector<float> Weight;
  bool AllKnown = true;
  bool MultiVal = false;
  std::vector<float> UnknownRate;

 private:
  std::vector<int32_t> case_storage_;
  std::vector<unsigned char> Tested_;
  std::vector<float> Gain_, Info_;
  std::vector<std::vector<float>> Freq_;
  std::vector<float> ValFreq_, ClassFreq_;
  float Coeff_;
  int ClassCell() const { return MaxAtt + 1; }
  // Frequencies of every attribute not yet tested, from one pass over the
  // node's cases (each cell summed in case order, as a pass per attribute
  // would): FormTree fills them before evaluating the attributes.
  std::vector<float> all_freq_;
  bool all_freq_valid_ = false;
  float node_count_ = 0;
  void ComputeAllFrequencies(int Fp, int Lp);
  // Log2 of whole numbers up to the number of cases, looked up.
  std::vector<double> log_table_;
  double LogOf(float x) const;

 public:
  TreeEngine();
};

}  // namespace varnik
