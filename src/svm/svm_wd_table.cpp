#include "svm/svm_wd_table.h"

#include <algorithm>
#include <cstring>

#include "svm/internal/kernel.h"

namespace varnik {

namespace {

// Beyond this many nodes the tables would take gigabytes: the model is
// scored the exact way instead.
constexpr double kMostNodes = 64.0 * 1024 * 1024;

}  // namespace

std::unique_ptr<WdTable> WdTable::Build(const svm_model& model) {
  if (model.param.kernel_type != wd || model.nr_class != 2 || model.l <= 0 ||
      model.sv_letters.size() != static_cast<size_t>(model.l) || model.rho.empty() ||
      model.sv_coef.empty()) {
    return nullptr;
  }
  const int n = static_cast<int>(model.sv_letters[0].size());
  for (const std::string& s : model.sv_letters) {
    if (static_cast<int>(s.size()) != n) return nullptr;
  }
  if (n == 0 || 2.0 * model.l * n > kMostNodes) return nullptr;
  auto table = std::unique_ptr<WdTable>(new WdTable());
  WdTable& T = *table;
  T.n_ = n;
  T.d_ = std::max(model.param.degree, 0);
  const WdWeights w(T.d_, n);
  T.denominator_ = static_cast<double>(w.run(n));
  T.rho_ = model.rho[0];
  const int cap = std::min(T.d_, n);
  T.beta_prefix_.assign(static_cast<size_t>(cap) + 1, 0);
  for (int j = 1; j <= cap; ++j) T.beta_prefix_[j] = w.beta_prefix(j);
  T.sv_ = model.sv_letters;
  T.coef_ = model.sv_coef[0];
  T.root_.resize(static_cast<size_t>(n));
  std::vector<int> members(static_cast<size_t>(model.l));
  for (int t = 0; t < n; ++t) {
    for (int i = 0; i < model.l; ++i) members[i] = i;
    T.root_[t] = T.BuildNode(t, 0, members, 0, model.l);
  }
  // The table letters: the vectors' four most frequent letters (DNA; every
  // letter when there are more than five, as in amino-acid windows). A
  // window with another letter at a position walks that position's tree
  // from its root.
  long long count[256] = {};
  for (const std::string& s : T.sv_) {
    for (char c : s) ++count[static_cast<unsigned char>(c)];
  }
  std::vector<int> present;
  for (int c = 0; c < 256; ++c) {
    if (count[c] > 0) present.push_back(c);
  }
  std::stable_sort(present.begin(), present.end(),
                   [&](int a, int b) { return count[a] > count[b]; });
  if (present.size() <= 5) present.resize(std::min<size_t>(present.size(), 4));
  std::fill(std::begin(T.code_), std::end(T.code_), kNoCode);
  for (size_t k = 0; k < present.size(); ++k) T.code_[present[k]] = static_cast<unsigned char>(k);
  T.codes_ = static_cast<int>(present.size());
  T.letter_of_ = present;
  // As many levels as keep a position's table within 4,096 entries.
  int levels = 0;
  for (long long size = T.codes_; size <= 4096 && levels < 16; size *= T.codes_) ++levels;
  T.levels_.resize(static_cast<size_t>(n));
  T.entry_start_.resize(static_cast<size_t>(n));
  for (int t = 0; t < n; ++t) {
    T.levels_[t] = std::min(levels, std::min(T.d_, t + 1));
    T.entry_start_[t] = T.entries_.size();
    T.BuildEntries(t);
  }
  return table;
}

// Every combination of the last levels_[t] letters' codes, walked down the
// tree as Decision would walk it.
void WdTable::BuildEntries(int t) {
  const int L = levels_[t];
  size_t size = 1;
  for (int j = 0; j < L; ++j) size *= static_cast<size_t>(codes_);
  std::vector<unsigned char> z(static_cast<size_t>(t + 1), 0);
  const int64_t* P = beta_prefix_.data();
  for (size_t index = 0; index < size; ++index) {
    size_t rest = index;
    for (int j = 0; j < L; ++j) {
      z[t - j] = static_cast<unsigned char>(letter_of_[rest % codes_]);
      rest /= codes_;
    }
    Entry e;
    int32_t at = root_[t];
    int depth = 0;
    while (true) {
      const Node& node = nodes_[at];
      if (node.single >= 0) {
        const std::string& x = sv_[node.single];
        int k = depth;
        while (k < L && static_cast<unsigned char>(x[t - k]) == z[t - k]) ++k;
        if (k > depth) e.sum += coef_[node.single] * static_cast<double>(P[k] - P[depth]);
        if (k == L) {  // the comparison goes on past the table
          e.single = node.single;
          e.coef = coef_[node.single];
          for (int j = 0; j < 8 && t - L - j >= 0; ++j) {
            e.ahead |= static_cast<uint64_t>(static_cast<unsigned char>(x[t - L - j])) << (8 * j);
          }
        }
        break;
      }
      if (depth == L) {
        e.node = at;
        break;
      }
      const unsigned char c = z[t - depth];
      int g = 0;
      while (g < node.count && child_letter_[node.first + g] != c) ++g;
      if (g == node.count) break;
      at = child_node_[node.first + g];
      ++depth;
      e.sum += nodes_[at].weight;
    }
    entries_.push_back(e);
  }
}

// The node of the vectors members[begin, end), whose letters t, t - 1, ...,
// t - depth + 1 agree; its children split them by the letter at t - depth.
int32_t WdTable::BuildNode(int t, int depth, std::vector<int>& members, int begin, int end) {
  const int32_t index = static_cast<int32_t>(nodes_.size());
  nodes_.emplace_back();
  if (depth > 0) {
    double coef = 0;
    for (int m = begin; m < end; ++m) coef += coef_[members[m]];
    nodes_[index].weight =
        static_cast<double>(beta_prefix_[depth] - beta_prefix_[depth - 1]) * coef;
  }
  const int limit = std::min(d_, t + 1);
  if (end - begin == 1) {
    nodes_[index].single = members[begin];
    return index;
  }
  if (depth >= limit) return index;
  const int at = t - depth;
  auto letter = [&](int m) { return static_cast<unsigned char>(sv_[members[m]][at]); };
  std::stable_sort(members.begin() + begin, members.begin() + end, [&](int a, int b) {
    return static_cast<unsigned char>(sv_[a][at]) < static_cast<unsigned char>(sv_[b][at]);
  });
  std::vector<int> group_start;
  for (int m = begin; m < end; ++m) {
    if (m == begin || letter(m) != letter(m - 1)) group_start.push_back(m);
  }
  group_start.push_back(end);
  const int groups = static_cast<int>(group_start.size()) - 1;
  const int32_t first = static_cast<int32_t>(child_node_.size());
  nodes_[index].first = first;
  nodes_[index].count = groups;
  for (int g = 0; g < groups; ++g) {
    child_letter_.push_back(letter(group_start[g]));
    child_node_.push_back(-1);
  }
  for (int g = 0; g < groups; ++g) {
    const int32_t child = BuildNode(t, depth + 1, members, group_start[g], group_start[g + 1]);
    child_node_[first + g] = child;
  }
  return index;
}

void WdTable::Walk(int t, const unsigned char* z, int32_t at, int depth, double& sum) const {
  const int64_t* P = beta_prefix_.data();
  const int limit = std::min(d_, t + 1);
  const Node* node = &nodes_[at];
  while (true) {
    if (node->single >= 0) {
      // One vector left: its letters further back, compared directly.
      const unsigned char* x = reinterpret_cast<const unsigned char*>(sv_[node->single].data());
      int k = depth;
      while (k < limit && x[t - k] == z[t - k]) ++k;
      if (k > depth) sum += coef_[node->single] * static_cast<double>(P[k] - P[depth]);
      return;
    }
    if (depth >= limit) return;
    const unsigned char c = z[t - depth];
    const unsigned char* letters = child_letter_.data() + node->first;
    int g = 0;
    while (g < node->count && letters[g] != c) ++g;
    if (g == node->count) return;
    node = &nodes_[child_node_[node->first + g]];
    ++depth;
    sum += node->weight;
  }
}

void WdTable::AddPosition(int t, const unsigned char* z, double& sum) const {
  const int L = levels_[t];
  size_t index = 0;
  for (int j = L - 1; j >= 0; --j) {
    const unsigned char code = code_[z[t - j]];
    if (code == kNoCode) {
      Walk(t, z, root_[t], 0, sum);  // a letter the table does not know
      return;
    }
    index = index * static_cast<size_t>(codes_) + code;
  }
  const Entry& e = entries_[entry_start_[t] + index];
  sum += e.sum;
  if (e.node >= 0) {
    Walk(t, z, e.node, L, sum);
  } else if (e.single >= 0) {
    // One vector left: its next letters are in the entry, the rest in the
    // vector.
    const int limit = std::min(d_, t + 1);
    const int first = t - L;  // the letter at depth L
    uint64_t mine = 0;
    if (first >= 7) {
      std::memcpy(&mine, z + first - 7, 8);
      mine = __builtin_bswap64(mine);  // byte j: z[first - j]
    } else {
      for (int j = 0; j <= first; ++j) mine |= static_cast<uint64_t>(z[first - j]) << (8 * j);
    }
    const uint64_t differ = mine ^ e.ahead;
    int k = L + (differ == 0 ? 8 : __builtin_ctzll(differ) / 8);
    if (k > limit) k = limit;
    if (k == L + 8) {
      const unsigned char* x = reinterpret_cast<const unsigned char*>(sv_[e.single].data());
      while (k < limit && x[t - k] == z[t - k]) ++k;
    }
    if (k > L) sum += e.coef * static_cast<double>(beta_prefix_[k] - beta_prefix_[L]);
  }
}

double WdTable::Decision(const unsigned char* z) const {
  double sum = 0;
  for (int t = 0; t < n_; ++t) AddPosition(t, z, sum);
  return sum / denominator_ - rho_;
}

void WdTable::Decisions(const unsigned char* const* z, int count, double* out) const {
  for (int i = 0; i < count; ++i) out[i] = 0;
  for (int t = 0; t < n_; ++t) {
    for (int i = 0; i < count; ++i) AddPosition(t, z[i], out[i]);
  }
  for (int i = 0; i < count; ++i) out[i] = out[i] / denominator_ - rho_;
}

}  // namespace varnik
