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

// The engine's names are those of the C4.5 tables: functions and data alike
// in capitalised words, data members with a trailing underscore. Its state
// is its own; what the recognisers and the tests need is reached through the
// functions below.
class TreeEngine {
 public:
  TreeEngine();

  // ---- Attribute tables (names file).
  // Reads FileName() + ".names".
  void GetNames();
  // The same from the text of a names file (path names it in messages).
  void GetNamesFromText(const std::string& text, const std::string& path);
  // Reads the next name from the text at pos into buffer; false at the end.
  bool ReadName(const std::string& text, size_t& pos, std::string& buffer);
  // Index of value among list[first .. last], or first - 1.
  static int Which(const std::string& value, const std::vector<std::string>& list, int first,
                   int last);
  const std::string& FileName() const { return FileName_; }
  void SetFileName(const std::string& stem) { FileName_ = stem; }
  int MaxClass() const { return MaxClass_; }
  const std::vector<std::string>& ClassName() const { return ClassName_; }
  int MaxAtt() const { return MaxAtt_; }
  const std::vector<std::string>& AttName() const { return AttName_; }
  const std::vector<int>& MaxAttVal() const { return MaxAttVal_; }
  const std::vector<std::vector<std::string>>& AttValName() const { return AttValName_; }
  int MaxDiscrVal() const { return MaxDiscrVal_; }
  // The character that ended the last name read (-1 at the end of the text).
  int Delimiter() const { return Delimiter_; }

  // Two classes (0 and 1) over the L positions of a window.
  void SetTwoClassWindows(int L) {
    MaxClass_ = 1;
    MaxAtt_ = L - 1;
  }

  // ---- Cases. A description holds MaxAtt + 2 cells: the value number of
  // every attribute (0 unknown) and the class.
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
  Tree FormTree(int Fp, int Lp);
  Tree MakeLeaf(const std::vector<float>& ClassFreq, short NodeClass, float Cases,
                float Errors) const;

  // ---- Pruning.
  bool Prune(TreeNode* T);
  float AddErrs(float N, float e) const;
  void SetPruneTree(bool prune) { PruneTree_ = prune; }

  // ---- Trials, windowing and classification.
  void SetTrials(short trials) { Trials_ = trials; }
  // The window and its increment, chosen by the first windowed training and
  // kept for every later one.
  int Window() const { return Window_; }
  int Increment() const { return Increment_; }
  // Another engine's choice, taken over (engines that train side by side).
  void SetWindowing(int window, int increment) {
    Window_ = window;
    Increment_ = increment;
  }
  void OneTree();
  int BestTree(CRandom& rng);
  void FormTarget(int Size);
  const std::vector<int>& TargetClassFreq() const { return TargetClassFreq_; }
  // Tree t of the last training (raw or pruned), taken out; ClearTrees
  // drops the others.
  Tree TakeTree(int t, bool pruned) { return std::move(pruned ? Pruned_[t] : Raw_[t]); }
  void ClearTrees() {
    Raw_.clear();
    Pruned_.clear();
  }
  // The class of a case, its class weights kept by the engine.
  short Category(const int32_t* CaseDesc, const TreeNode* T);

 private:
  void InitialiseWeights();
  float CountItems(int Fp, int Lp) const;
  void Swap(int i, int j);
  int Group(int v, int Fp, int Lp, const TreeNode* T);
  void EvalDiscreteAtt(int Att, int Fp, int Lp, float Items);
  float ComputeGain(int MaxVal, float BaseInfo, float UnknFrac, float TotalItems) const;
  float TotalInfo(const float* V, int first, int last) const;
  static float Worth(float ThisInfo, float ThisGain, float MinGain);
  float EstimateErrors(TreeNode* T, int Fp, int Lp, bool update);
  Tree Iterate(int Window, int IncExceptions);
  int ClassCell() const { return MaxAtt_ + 1; }
  // Frequencies of every attribute not yet tested, from one pass over the
  // node's cases (each cell summed in case order, as a pass per attribute
  // would): FormTree fills them before evaluating the attributes.
  void ComputeAllFrequencies(int Fp, int Lp);
  // Log2 of whole numbers up to the number of cases, looked up.
  double LogOf(float x) const;

  int MaxClass_ = -1;
  std::vector<std::string> ClassName_;
  int MaxAtt_ = -1;  // attribute numbers are ints: windows of any length work
  std::vector<std::string> AttName_;
  std::vector<int> MaxAttVal_;
  std::vector<std::vector<std::string>> AttValName_;  // [a][v], v from 1
  int MaxDiscrVal_ = 0;
  std::string FileName_;
  int Delimiter_ = 0;
  int MaxItem_ = -1;
  std::vector<int32_t*> Item_;
  bool Changed_ = false;
  bool PruneTree_ = true;
  short Trials_ = 1;
  int Window_ = 0;
  int Increment_ = 0;
  std::vector<Tree> Raw_, Pruned_;
  std::vector<int> TargetClassFreq_;
  std::vector<float> ClassSum_;
  std::vector<float> Weight_;
  bool AllKnown_ = true;
  bool MultiVal_ = false;
  std::vector<float> UnknownRate_;
  std::vector<int32_t> CaseStorage_;
  std::vector<unsigned char> Tested_;
  std::vector<float> Gain_, Info_;
  std::vector<std::vector<float>> Freq_;
  std::vector<float> ValFreq_, ClassFreq_;
  float Coeff_;
  std::vector<float> AllFreq_;
  bool AllFreqValid_ = false;
  float NodeCount_ = 0;
  std::vector<double> LogTable_;
};

}  // namespace varnik
