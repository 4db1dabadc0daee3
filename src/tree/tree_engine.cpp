#include "tree/tree_engine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "core/error.h"

namespace varnik {

namespace {

constexpr int MINOBJS = 2;
constexpr double Epsilon = 1e-3;
constexpr int kEndOfFile = -1;

// ln x / ln 2 for x > 0, else 0.
inline double Log2(double x) { return x <= 0 ? 0.0 : std::log(x) / 0.69314718055994530942; }

}  // namespace

int TreeSize(const TreeNode* T) {
  if (T->NodeType == 0) return 1;
  int sum = 1;
  for (int v = 1; v <= T->Forks; ++v) sum += TreeSize(T->Branch[v].get());
  return sum;
}

Tree CopyTree(const TreeNode* T) {
  auto copy = std::make_unique<TreeNode>();
  copy->NodeType = T->NodeType;
  copy->Leaf = T->Leaf;
  copy->Items = T->Items;
  copy->ClassDist = T->ClassDist;
  copy->Errors = T->Errors;
  copy->Tested = T->Tested;
  copy->Forks = T->Forks;
  copy->Branch.resize(T->Branch.size());
  for (size_t v = 1; v < T->Branch.size(); ++v) {
    if (T->Branch[v]) copy->Branch[v] = CopyTree(T->Branch[v].get());
  }
  return copy;
}

TreeEngine::TreeEngine() {
  // The normal deviate for the confidence factor CF = 0.25, interpolated
  // between tabulated tail probabilities (single precision).
  const float Val[] = {0, 0.001f, 0.005f, 0.01f, 0.05f, 0.10f, 0.20f, 0.40f, 1.00f};
  const float Dev[] = {4.0f, 3.09f, 2.58f, 2.33f, 1.65f, 1.28f, 0.84f, 0.25f, 0.0f};
  const float CF = 0.25f;
  int i = 0;
  while (CF > Val[i]) ++i;
  Coeff_ = Dev[i - 1] + (Dev[i] - Dev[i - 1]) * (CF - Val[i - 1]) / (Val[i] - Val[i - 1]);
  Coeff_ = Coeff_ * Coeff_;
}

// ---------------------------------------------------------------- names

bool TreeEngine::ReadName(const std::string& text, size_t& pos, std::string& buffer) {
  auto skip_line = [&] {
    while (pos < text.size() && text[pos] != '\n') ++pos;
    if (pos < text.size()) ++pos;
  };
  // Spaces, tabs, newlines and comments before the name.
  while (true) {
    if (pos >= text.size()) {
      Delimiter_ = kEndOfFile;
      return false;
    }
    const char c = text[pos];
    if (c == ' ' || c == '\t' || c == '\n') {
      ++pos;
    } else if (c == '|') {
      skip_line();
    } else {
      break;
    }
  }
  buffer.clear();
  Delimiter_ = kEndOfFile;
  while (pos < text.size()) {
    const char c = text[pos++];
    if (c == ':' || c == ',' || c == '\n' || c == '|') {
      if (c == '|') {
        skip_line();
        Delimiter_ = '\n';
      } else {
        Delimiter_ = c;
      }
      break;
    }
    if (c == '.') {
      const int next = pos < text.size() ? static_cast<unsigned char>(text[pos]) : kEndOfFile;
      if (next == '|' || next == ' ' || next == '\t' || next == '\n') {
        ++pos;  // the '.' ends the name; the character after it is the delimiter
        if (next == '|') {
          skip_line();
          Delimiter_ = '\n';
        } else {
          Delimiter_ = next;
        }
        break;
      }
      buffer.push_back('.');
      continue;
    }
    if (c == '\\') {
      if (pos < text.size()) buffer.push_back(text[pos++]);
      continue;
    }
    if (c == ' ') {
      if (buffer.empty() || buffer.back() != ' ') buffer.push_back(' ');
      continue;
    }
    buffer.push_back(c);
  }
  while (!buffer.empty() &&
         (buffer.back() == ' ' || buffer.back() == '\t' || buffer.back() == '\n')) {
    buffer.pop_back();
  }
  return true;
}

void TreeEngine::GetNames() {
  const std::string path = FileName_ + ".names";
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) {
    throw VarnikError(kUnspecifiedError, "\nERROR:  cannot open file " + path + "\n", true);
  }
  std::string text;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
  std::fclose(f);
  GetNamesFromText(text, path);
}

void TreeEngine::GetNamesFromText(const std::string& text, const std::string& path) {
  ClassName_.clear();
  AttName_.clear();
  MaxAttVal_.clear();
  AttValName_.clear();
  MaxDiscrVal_ = 0;
  size_t pos = 0;
  std::string name;
  do {
    if (!ReadName(text, pos, name)) break;
    ClassName_.push_back(name);
  } while (Delimiter_ == ',');
  MaxClass_ = static_cast<int>(ClassName_.size()) - 1;
  while (ReadName(text, pos, name)) {
    if (Delimiter_ != ':') {
      OnErrorExit(kUnspecifiedError,
                  "Names file " + path + ": colon expected after attribute name " + name);
    }
    AttName_.push_back(name);
    std::vector<std::string> values = {""};  // entry 0 unused
    do {
      if (!ReadName(text, pos, name)) break;
      values.push_back(name);
    } while (Delimiter_ == ',');
    MaxAttVal_.push_back(static_cast<int>(values.size()) - 1);
    MaxDiscrVal_ = std::max(MaxDiscrVal_, MaxAttVal_.back());
    AttValName_.push_back(std::move(values));
  }
  MaxAtt_ = static_cast<int>(AttName_.size()) - 1;
}

int TreeEngine::Which(const std::string& value, const std::vector<std::string>& list, int first,
                      int last) {
  for (int i = first; i <= last && i < static_cast<int>(list.size()); ++i) {
    if (list[i] == value) return i;
  }
  return first - 1;
}

// ---------------------------------------------------------------- cases

void TreeEngine::DescribeWindow(const char* window, int L, int32_t* description) const {
  for (int j = 0; j < L; ++j) {
    description[j] = j < static_cast<int>(AttValName_.size())
                         ? Which(std::string(1, window[j]), AttValName_[j], 1, MaxAttVal_[j])
                         : 0;
  }
}

std::vector<TreeEngine::LetterCodes> TreeEngine::WindowLetterCodes(int L) const {
  // One look-up per attribute and character instead of a name search.
  std::vector<LetterCodes> code(static_cast<size_t>(std::max(L, 0)));
  for (int j = 0; j < L; ++j) {
    for (int c = 0; c < 256; ++c) {
      code[j][c] = j < static_cast<int>(AttValName_.size())
                       ? static_cast<int16_t>(Which(std::string(1, static_cast<char>(c)),
                                                    AttValName_[j], 1, MaxAttVal_[j]))
                       : 0;
    }
  }
  return code;
}

void TreeEngine::BuildCases(const std::vector<const char*>& positives,
                            const std::vector<const char*>& negatives, int L) {
  const int n = static_cast<int>(positives.size() + negatives.size());
  const int cells = L + 1;
  CaseStorage_.assign(static_cast<size_t>(n) * cells, 0);
  Item_.resize(static_cast<size_t>(n));
  const std::vector<LetterCodes> code = WindowLetterCodes(L);
  for (int i = 0; i < n; ++i) {
    const bool positive = i < static_cast<int>(positives.size());
    const char* w = positive ? positives[i] : negatives[i - positives.size()];
    int32_t* d = CaseStorage_.data() + static_cast<size_t>(i) * cells;
    for (int j = 0; j < L; ++j) d[j] = code[j][static_cast<unsigned char>(w[j])];
    d[L] = positive ? 1 : 0;
    Item_[i] = d;
  }
  MaxItem_ = n - 1;
}

// ---------------------------------------------------------------- induction

void TreeEngine::InitialiseTreeData() {
  const size_t atts = static_cast<size_t>(MaxAtt_ + 1);
  Tested_.assign(atts, 0);
  Gain_.assign(atts, 0.0f);
  Info_.assign(atts, 0.0f);
  UnknownRate_.assign(atts, 0.0f);
  Freq_.assign(static_cast<size_t>(MaxDiscrVal_ + 1),
               std::vector<float>(static_cast<size_t>(MaxClass_ + 1), 0.0f));
  ValFreq_.assign(static_cast<size_t>(MaxDiscrVal_ + 1), 0.0f);
  ClassFreq_.assign(static_cast<size_t>(MaxClass_ + 1), 0.0f);
  Weight_.assign(static_cast<size_t>(MaxItem_ + 1), 1.0f);
  AllFreq_.assign(atts * static_cast<size_t>(MaxDiscrVal_ + 1) * static_cast<size_t>(MaxClass_ + 1),
                  0.0f);
  AllFreqValid_ = false;
  LogTable_.resize(static_cast<size_t>(MaxItem_ + 2));
  for (size_t x = 0; x < LogTable_.size(); ++x) LogTable_[x] = Log2(static_cast<double>(x));
  MultiVal_ = true;
  for (int a = 0; MultiVal_ && a <= MaxAtt_; ++a) MultiVal_ = MaxAttVal_[a] >= 0.3 * (MaxItem_ + 1);
}

void TreeEngine::ReleaseTreeData() {
  Tested_.clear();
  Gain_.clear();
  Info_.clear();
  Freq_.clear();
  ValFreq_.clear();
  ClassFreq_.clear();
  Weight_.clear();
}

void TreeEngine::InitialiseWeights() { Weight_.assign(static_cast<size_t>(MaxItem_ + 1), 1.0f); }

float TreeEngine::CountItems(int Fp, int Lp) const {
  if (AllKnown_) return static_cast<float>(Lp - Fp + 1);
  float sum = 0.0f;
  for (int i = Fp; i <= Lp; ++i) sum += Weight_[i];
  return sum;
}

void TreeEngine::Swap(int i, int j) {
  std::swap(Item_[i], Item_[j]);
  std::swap(Weight_[i], Weight_[j]);
}

int TreeEngine::Group(int v, int Fp, int Lp, const TreeNode* T) {
  const int att = T->Tested;
  for (int i = Fp; i <= Lp; ++i) {
    if (Item_[i][att] == v) Swap(Fp++, i);
  }
  return Fp - 1;
}

Tree TreeEngine::MakeLeaf(const std::vector<float>& ClassFreq, short NodeClass, float Cases,
                          float Errors) const {
  auto node = std::make_unique<TreeNode>();
  node->NodeType = 0;
  node->Leaf = NodeClass;
  node->Items = Cases;
  node->ClassDist = ClassFreq;
  node->Errors = Errors;
  return node;
}

double TreeEngine::LogOf(float x) const {
  if (x >= 0 && x < static_cast<float>(LogTable_.size())) {
    const size_t whole = static_cast<size_t>(x);
    if (static_cast<float>(whole) == x) return LogTable_[whole];
  }
  return Log2(x);
}

float TreeEngine::TotalInfo(const float* V, int first, int last) const {
  float sum = 0.0f, total = 0.0f;
  for (int v = first; v <= last; ++v) {
    sum = static_cast<float>(sum + V[v] * LogOf(V[v]));
    total += V[v];
  }
  return static_cast<float>(total * LogOf(total) - sum);
}

void TreeEngine::ComputeAllFrequencies(int Fp, int Lp) {
  const size_t per_value = static_cast<size_t>(MaxClass_ + 1);
  const size_t per_att = static_cast<size_t>(MaxDiscrVal_ + 1) * per_value;
  for (int a = 0; a <= MaxAtt_; ++a) {
    if (Tested_[a] == 0) std::fill_n(AllFreq_.begin() + a * per_att, per_att, 0.0f);
  }
  std::vector<int> open;
  for (int a = 0; a <= MaxAtt_; ++a) {
    if (Tested_[a] == 0) open.push_back(a);
  }
  const int cls = ClassCell();
  for (int i = Fp; i <= Lp; ++i) {
    const int32_t* row = Item_[i];
    const float w = Weight_[i];
    float* base = AllFreq_.data() + row[cls];
    for (int a : open) base[a * per_att + row[a] * per_value] += w;
  }
  NodeCount_ = CountItems(Fp, Lp);
  AllFreqValid_ = true;
}

float TreeEngine::ComputeGain(int MaxVal, float BaseInfo, float UnknFrac, float TotalItems) const {
  if (TotalItems <= 0) return static_cast<float>(-Epsilon);
  int reasonable = 0;
  for (int v = 1; v <= MaxVal; ++v) {
    if (ValFreq_[v] >= MINOBJS) ++reasonable;
  }
  if (reasonable < 2) return static_cast<float>(-Epsilon);
  float this_info = 0.0f;
  for (int v = 1; v <= MaxVal; ++v) this_info += TotalInfo(Freq_[v].data(), 0, MaxClass_);
  return (1 - UnknFrac) * (BaseInfo - this_info / TotalItems);
}

float TreeEngine::Worth(float ThisInfo, float ThisGain, float MinGain) {
  if (ThisGain >= MinGain - Epsilon && ThisInfo > Epsilon) return ThisGain / ThisInfo;
  return static_cast<float>(-Epsilon);
}

void TreeEngine::EvalDiscreteAtt(int Att, int Fp, int Lp, float Items) {
  const int max_val = MaxAttVal_[Att];
  for (int v = 0; v <= max_val; ++v) {
    std::fill(Freq_[v].begin(), Freq_[v].end(), 0.0f);
    ValFreq_[v] = 0.0f;
  }
  if (AllFreqValid_) {  // from the node's one pass
    const size_t per_value = static_cast<size_t>(MaxClass_ + 1);
    const float* slice = AllFreq_.data() + Att * static_cast<size_t>(MaxDiscrVal_ + 1) * per_value;
    for (int v = 0; v <= max_val; ++v) {
      std::copy_n(slice + v * per_value, per_value, Freq_[v].begin());
    }
  } else {
    const int cls = ClassCell();
    for (int i = Fp; i <= Lp; ++i) Freq_[Item_[i][Att]][Item_[i][cls]] += Weight_[i];
  }
  for (int v = 0; v <= max_val; ++v) {
    for (int c = 0; c <= MaxClass_; ++c) ValFreq_[v] += Freq_[v][c];
  }
  UnknownRate_[Att] = ValFreq_[0] / (AllFreqValid_ ? NodeCount_ : CountItems(Fp, Lp));
  if (Items <= ValFreq_[0]) {
    Gain_[Att] = static_cast<float>(-Epsilon);
    Info_[Att] = 0.0f;
    return;
  }
  const float known = Items - ValFreq_[0];
  float sum = 0.0f;
  for (int c = 0; c <= MaxClass_; ++c) {
    float class_count = 0.0f;
    for (int v = 1; v <= max_val; ++v) class_count += Freq_[v][c];
    sum = static_cast<float>(sum + class_count * LogOf(class_count));
  }
  const float base_info = static_cast<float>((known * LogOf(known) - sum) / known);
  Gain_[Att] = ComputeGain(max_val, base_info, UnknownRate_[Att], known);
  Info_[Att] = TotalInfo(ValFreq_.data(), 0, max_val) / Items;
}

Tree TreeEngine::FormTree(int Fp, int Lp) {
  const float Cases = CountItems(Fp, Lp);
  std::fill(ClassFreq_.begin(), ClassFreq_.end(), 0.0f);
  const int cls = ClassCell();
  for (int i = Fp; i <= Lp; ++i) ClassFreq_[Item_[i][cls]] += Weight_[i];
  short BestClass = 0;
  for (int c = 0; c <= MaxClass_; ++c) {
    if (ClassFreq_[c] > ClassFreq_[BestClass]) BestClass = static_cast<short>(c);
  }
  const float NoBestClass = ClassFreq_[BestClass];
  Tree Node = MakeLeaf(ClassFreq_, BestClass, Cases, Cases - NoBestClass);
  if (NoBestClass == Cases || Cases < 2 * MINOBJS) return Node;

  // Attributes with at least average gain compete on gain ratio.
  float total_gain = 0.0f;
  int possible = 0;
  ComputeAllFrequencies(Fp, Lp);
  for (int a = 0; a <= MaxAtt_; ++a) {
    Gain_[a] = static_cast<float>(-Epsilon);
    if (Tested_[a] != 0) continue;
    EvalDiscreteAtt(a, Fp, Lp, Cases);
    if (Gain_[a] > -Epsilon && (MultiVal_ || MaxAttVal_[a] < 0.3 * (MaxItem_ + 1))) {
      total_gain += Gain_[a];
      ++possible;
    }
  }
  AllFreqValid_ = false;
  const float AvGain = possible > 0 ? total_gain / possible : 1e6f;
  float BestVal = static_cast<float>(-Epsilon);
  int BestAtt = -1;
  for (int a = 0; a <= MaxAtt_; ++a) {
    if (Gain_[a] > -Epsilon) {
      const float val = Worth(Info_[a], Gain_[a], AvGain);
      if (val > BestVal) {
        BestAtt = a;
        BestVal = val;
      }
    }
  }
  if (BestAtt < 0) return Node;

  // Discrete test on the best attribute.
  Node->NodeType = 1;
  Node->Tested = BestAtt;
  Node->Forks = static_cast<short>(MaxAttVal_[BestAtt]);
  Node->Branch.clear();
  Node->Branch.resize(static_cast<size_t>(Node->Forks) + 1);
  Node->Errors = 0;
  const bool PrevAllKnown = AllKnown_;
  const int Kp = Group(0, Fp, Lp, Node.get()) + 1;
  if (Kp != Fp) AllKnown_ = false;
  const float KnownCases = Cases - CountItems(Fp, Kp - 1);
  UnknownRate_[BestAtt] = static_cast<float>((Cases - KnownCases) / (Cases + 0.001));
  ++Tested_[BestAtt];
  Node->Errors = 0;
  for (int v = 1; v <= Node->Forks; ++v) {
    const int Ep = Group(v, Kp, Lp, Node.get());
    if (Kp <= Ep) {
      const float Factor = CountItems(Kp, Ep) / KnownCases;
      for (int i = Fp; i < Kp; ++i) Weight_[i] *= Factor;
      Node->Branch[v] = FormTree(Fp, Ep);
      Node->Errors += Node->Branch[v]->Errors;
      Group(0, Fp, Ep, Node.get());
      for (int i = Fp; i < Kp; ++i) Weight_[i] /= Factor;
    } else {
      Node->Branch[v] = MakeLeaf(Node->ClassDist, BestClass, 0, 0);
    }
  }
  --Tested_[BestAtt];
  AllKnown_ = PrevAllKnown;
  // A test that does no better than a leaf collapses into it.
  if (Node->Errors >= Cases - NoBestClass - Epsilon) {
    Node->NodeType = 0;
    Node->Branch.clear();
    Node->Forks = 0;
  }
  return Node;
}

// ---------------------------------------------------------------- pruning

float TreeEngine::AddErrs(float N, float e) const {
  const float CF = 0.25f;
  if (e < 1e-6)
    return static_cast<float>(N * (1 - std::exp(std::log(static_cast<double>(CF)) / N)));
  if (e < 0.9999) {
    const float Val0 =
        static_cast<float>(N * (1 - std::exp(std::log(static_cast<double>(CF)) / N)));
    return Val0 + e * (AddErrs(N, 1.0f) - Val0);
  }
  if (e + 0.5 >= N) return static_cast<float>(0.67 * (N - e));
  const float Pr = static_cast<float>(
      (e + 0.5 + Coeff_ / 2 + std::sqrt(Coeff_ * ((e + 0.5) * (1 - (e + 0.5) / N) + Coeff_ / 4))) /
      (N + Coeff_));
  return N * Pr - e;
}

float TreeEngine::EstimateErrors(TreeNode* T, int Fp, int Lp, bool update) {
  const float Cases = CountItems(Fp, Lp);
  std::vector<float> local(static_cast<size_t>(MaxClass_ + 1), 0.0f);
  const int cls = ClassCell();
  for (int i = Fp; i <= Lp; ++i) local[Item_[i][cls]] += Weight_[i];
  short BestClass = T->Leaf;
  for (int c = 0; c <= MaxClass_; ++c) {
    if (local[c] > local[BestClass]) BestClass = static_cast<short>(c);
  }
  const float LeafErrors = Cases - local[BestClass];
  const float ExtraLeafErrors = AddErrs(Cases, LeafErrors);
  if (update) {
    T->Items = Cases;
    T->Leaf = BestClass;
    T->ClassDist = local;
  }
  if (T->NodeType == 0) {
    if (update) T->Errors = LeafErrors + ExtraLeafErrors;
    return LeafErrors + ExtraLeafErrors;
  }
  const int Kp = Group(0, Fp, Lp, T) + 1;
  const float KnownCases = CountItems(Kp, Lp);
  const bool PrevAllKnown = AllKnown_;
  if (Kp != Fp) AllKnown_ = false;
  float TreeErrors = 0.0f, MaxFactor = 0.0f;
  int MaxBr = 0;
  for (int v = 1; v <= T->Forks; ++v) {
    const int Ep = Group(v, Kp, Lp, T);
    if (Kp <= Ep) {
      const float Factor = CountItems(Kp, Ep) / KnownCases;
      if (Factor >= MaxFactor) {
        MaxBr = v;
        MaxFactor = Factor;
      }
      for (int i = Fp; i < Kp; ++i) Weight_[i] *= Factor;
      TreeErrors += EstimateErrors(T->Branch[v].get(), Fp, Ep, update);
      Group(0, Fp, Ep, T);
      for (int i = Fp; i < Kp; ++i) Weight_[i] /= Factor;
    }
  }
  AllKnown_ = PrevAllKnown;
  if (!update) return TreeErrors;
  if (MaxBr == 0) {  // no known case reached any branch
    T->Errors = TreeErrors;
    return T->Errors;
  }
  const float BranchErrors = EstimateErrors(T->Branch[MaxBr].get(), Fp, Lp, false);
  const float LeafTotal = LeafErrors + ExtraLeafErrors;
  if (LeafTotal <= BranchErrors + 0.1 && LeafTotal <= TreeErrors + 0.1) {
    T->NodeType = 0;
    T->Errors = LeafTotal;
    T->Branch.clear();
    T->Forks = 0;
    Changed_ = true;
  } else if (BranchErrors <= TreeErrors + 0.1) {
    // Subtree raising: the largest branch, pruned with all of T's cases,
    // takes T's place.
    EstimateErrors(T->Branch[MaxBr].get(), Fp, Lp, true);
    Tree raised = std::move(T->Branch[MaxBr]);
    *T = std::move(*raised);
    Changed_ = true;
  } else {
    T->Errors = TreeErrors;
  }
  return T->Errors;
}

bool TreeEngine::Prune(TreeNode* T) {
  InitialiseWeights();
  AllKnown_ = true;
  Changed_ = false;
  EstimateErrors(T, 0, MaxItem_, true);
  return Changed_;
}

// ---------------------------------------------------------------- trials

void TreeEngine::OneTree() {
  InitialiseTreeData();
  InitialiseWeights();
  Raw_.clear();
  Pruned_.clear();
  AllKnown_ = true;
  Raw_.push_back(FormTree(0, MaxItem_));
  if (PruneTree_) {
    Pruned_.push_back(CopyTree(Raw_[0].get()));
    Prune(Pruned_[0].get());
  }
}

void TreeEngine::FormTarget(int Size) {
  std::vector<int> count(static_cast<size_t>(MaxClass_ + 1), 0);
  const int cls = ClassCell();
  for (int i = 0; i <= MaxItem_; ++i) ++count[Item_[i][cls]];
  TargetClassFreq_.assign(static_cast<size_t>(MaxClass_ + 1), 0);
  std::vector<bool> done(static_cast<size_t>(MaxClass_ + 1), false);
  int k = 0;
  for (int c = 0; c <= MaxClass_; ++c) {
    if (count[c] > 0) {
      ++k;
    } else {
      done[c] = true;
    }
  }
  while (k > 0) {
    int smallest = -1;
    for (int c = 0; c <= MaxClass_; ++c) {
      if (!done[c] && (smallest < 0 || count[c] < count[smallest])) smallest = c;
    }
    TargetClassFreq_[smallest] = std::min(count[smallest], Size / k);
    Size -= TargetClassFreq_[smallest];
    done[smallest] = true;
    --k;
  }
}

Tree TreeEngine::Iterate(int Window, int IncExceptions) {
  const int N = MaxItem_ + 1;
  Tree Best;
  int BestTotalErrors = N;
  const int cls = ClassCell();
  while (true) {
    InitialiseWeights();
    AllKnown_ = true;
    Tree tree = FormTree(0, std::min(Window - 1, MaxItem_));
    const int Errors = static_cast<int>(tree->Errors + 0.5);
    int next = Window;
    if (Window <= MaxItem_) {
      for (int i = Window; i <= MaxItem_; ++i) {
        if (Category(Item_[i], tree.get()) != Item_[i][cls]) Swap(next++, i);
      }
    }
    const int Exceptions = Window <= MaxItem_ ? next - Window : 0;
    const int TotalErrors = Errors + Exceptions;
    if (!Best || TotalErrors < BestTotalErrors) {
      Best = std::move(tree);
      BestTotalErrors = TotalErrors;
    }
    if (Exceptions == 0) return Best;
    Window = std::min(Window + std::max(std::min(Exceptions, IncExceptions), Exceptions / 2), N);
  }
}

int TreeEngine::BestTree(CRandom& rng) {
  InitialiseTreeData();
  const int N = MaxItem_ + 1;
  Raw_.clear();
  Pruned_.clear();
  Raw_.resize(static_cast<size_t>(Trials_));
  Pruned_.resize(static_cast<size_t>(Trials_));
  if (Window_ == 0) {
    const double two_root = 2 * std::sqrt(static_cast<double>(N));
    Window_ = two_root > N / 5 ? static_cast<int>(two_root) : N / 5;
  }
  if (Increment_ == 0) Increment_ = Window_ > 9 ? Window_ / 5 : 1;
  FormTarget(Window_);
  const int cls = ClassCell();
  int best = 0;
  for (int t = 0; t < Trials_; ++t) {
    for (int i = 0; i < N; ++i) {
      const int n = N - i;
      const double r = (rng.Next() & 0x7fffffff) / 2147483648.0;
      Swap(i, static_cast<int>(i + n * r));
    }
    int placed = 0;
    for (int c = 0; c <= MaxClass_; ++c) {
      int need = TargetClassFreq_[c];
      for (int i = placed; i <= MaxItem_ && need > 0; ++i) {
        if (Item_[i][cls] == c) {
          Swap(placed++, i);
          --need;
        }
      }
    }
    Raw_[t] = Iterate(Window_, Increment_);
    Pruned_[t] = CopyTree(Raw_[t].get());
    Prune(Pruned_[t].get());
    if (Pruned_[t]->Errors < Pruned_[best]->Errors) best = t;
  }
  TargetClassFreq_.clear();
  return best;
}

short TreeEngine::Category(const int32_t* CaseDesc, const TreeNode* T) {
  ClassSum_.assign(static_cast<size_t>(MaxClass_ + 1), 0.0f);
  return TreeCategory(CaseDesc, T, MaxClass_, ClassSum_.data());
}

short TreeCategory(const int32_t* CaseDesc, const TreeNode* T, int MaxClass, float* ClassSum) {
  std::fill(ClassSum, ClassSum + MaxClass + 1, 0.0f);
  TreeClassify(CaseDesc, T, 1.0f, MaxClass, ClassSum);
  short best = 0;
  for (int c = 1; c <= MaxClass; ++c) {
    if (ClassSum[c] > ClassSum[best]) best = static_cast<short>(c);
  }
  return best;
}

void TreeClassify(const int32_t* CaseDesc, const TreeNode* T, float Wt, int MaxClass,
                  float* ClassSum) {
  if (T->NodeType == 0) {
    if (T->Items > 0) {
      for (int c = 0; c <= MaxClass; ++c) {
        if (T->ClassDist[c] != 0) ClassSum[c] += Wt * T->ClassDist[c] / T->Items;
      }
    } else {
      ClassSum[T->Leaf] += Wt;
    }
    return;
  }
  const int v = CaseDesc[T->Tested];
  if (v >= 1 && v <= T->Forks) {
    TreeClassify(CaseDesc, T->Branch[v].get(), Wt, MaxClass, ClassSum);
  } else {
    for (int b = 1; b <= T->Forks; ++b) {
      TreeClassify(CaseDesc, T->Branch[b].get(), Wt * T->Branch[b]->Items / T->Items, MaxClass,
                   ClassSum);
    }
  }
}

}  // namespace varnik
