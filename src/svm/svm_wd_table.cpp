#include "svm/svm_wd_table.h"

#include <algorithm>
#include <cstring>

#include "svm/internal/kernel.h"

namespace varnik {

namespace {

// Beyond this many nodes the tables would take gigabytes: the model is
// scored the exact way instead.
constexpr double kMostNodes = 64.0 * 1024 * 1024;
// Tables this small stay in the caches while windows are scored.
constexpr size_t kCachedBytes = size_t{8} << 20;

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
  T.sv_letters_.reserve(static_cast<size_t>(model.l) * static_cast<size_t>(n));
  for (const std::string& s : model.sv_letters)
    T.sv_letters_.insert(T.sv_letters_.end(), s.begin(), s.end());
  T.coef_ = model.sv_coef[0];
  // The table letters: the vectors' four most frequent letters (DNA; every
  // letter when there are more than five, as in amino-acid windows). A
  // window with another letter at a position walks that position's tree
  // from its root.
  long long count[256] = {};
  for (unsigned char c : T.sv_letters_) ++count[c];
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
  T.root_.resize(static_cast<size_t>(n));
  // While the trees are built, the letters by position (a tree reads one
  // position of many vectors at a time).
  T.columns_.resize(T.sv_letters_.size());
  const size_t l = static_cast<size_t>(model.l);
  for (size_t v = 0; v < l; ++v) {
    for (int p = 0; p < n; ++p)
      T.columns_[static_cast<size_t>(p) * l + v] = T.letters(static_cast<int32_t>(v))[p];
  }
  T.nodes_.reserve(static_cast<size_t>(2.0 * model.l * n));
  std::vector<int> members(l), scratch(l);
  T.single_at_.assign(l, -1);
  T.single_depth_.assign(l, 0);
  for (int t = 0; t < n; ++t) {
    for (int i = 0; i < model.l; ++i) members[i] = i;
    T.root_[t] = T.BuildNode(t, 0, members, scratch, 0, model.l);
    // The single vectors' next letters, vector by vector (in the order of
    // their letters in memory).
    for (size_t v = 0; v < l; ++v) {
      if (T.single_at_[v] < 0) continue;
      T.Ahead(t, static_cast<int32_t>(v), T.single_depth_[v], T.nodes_[T.single_at_[v]].ahead);
      T.single_at_[v] = -1;
    }
  }
  std::vector<int32_t>().swap(T.single_at_);
  std::vector<int>().swap(T.single_depth_);
  std::vector<unsigned char>().swap(T.columns_);
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

size_t WdTable::bytes() const {
  return nodes_.size() * sizeof(Node) + others_.size() * sizeof(Other) +
         entries_.size() * sizeof(Entry) + sv_letters_.size() + coef_.size() * sizeof(double);
}

int32_t WdTable::ChildOf(const Node& node, unsigned char letter) const {
  const unsigned char code = code_[letter];
  if (code < 4) return node.child[code];
  if (node.others < 0) return -1;
  for (const Other* o = &others_[static_cast<size_t>(node.others)]; o->letter != 0; ++o) {
    if (o->letter == letter) return o->node;
  }
  return -1;
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
        const unsigned char* x = letters(node.single);
        int k = depth;
        while (k < L && x[t - k] == z[t - k]) ++k;
        if (k > depth) e.sum += coef_[node.single] * static_cast<double>(P[k] - P[depth]);
        if (k == L) {  // the comparison goes on past the table
          e.single = node.single;
          for (int j = 0; j < 8 && t - L - j >= 0; ++j) {
            e.ahead |= static_cast<uint64_t>(x[t - L - j]) << (8 * (7 - j));
          }
        }
        break;
      }
      if (depth == L) {
        e.node = at;
        break;
      }
      const int32_t child = ChildOf(node, z[t - depth]);
      if (child < 0) break;
      at = child;
      ++depth;
      e.sum += nodes_[at].weight;
    }
    entries_.push_back(e);
  }
}

// The node of the vectors members[begin, end), whose letters t, t - 1, ...,
// t - depth + 1 agree; its children split them by the letter at t - depth,
// in the order of the letters, each keeping the order of its members.
int32_t WdTable::BuildNode(int t, int depth, std::vector<int>& members, std::vector<int>& scratch,
                           int begin, int end) {
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
    single_at_[members[begin]] = index;
    single_depth_[members[begin]] = depth;
    return index;
  }
  if (depth >= limit) return index;
  const int at = t - depth;
  const unsigned char* column = columns_.data() + static_cast<size_t>(at) * coef_.size();
  auto letter = [&](int m) { return column[members[m]]; };
  // Sorted by the letter at t - depth, keeping the members' order within a
  // letter: by insertion for a few members, else by counting.
  if (end - begin <= 16) {
    for (int m = begin + 1; m < end; ++m) {
      const int moved = members[m];
      const unsigned char c = column[moved];
      int j = m;
      for (; j > begin && column[members[j - 1]] > c; --j) members[j] = members[j - 1];
      members[j] = moved;
    }
  } else {
    int counts[256] = {};
    for (int m = begin; m < end; ++m) ++counts[letter(m)];
    int start[256];
    for (int c = 0, next = begin; c < 256; ++c) {
      start[c] = next;
      next += counts[c];
    }
    for (int m = begin; m < end; ++m) scratch[start[letter(m)]++] = members[m];
    std::copy(scratch.begin() + begin, scratch.begin() + end, members.begin() + begin);
  }
  std::vector<Other> others;  // children of letters without a code (rare)
  for (int first = begin; first < end;) {
    const unsigned char c = letter(first);
    int last = first + 1;
    while (last < end && letter(last) == c) ++last;
    const int32_t child = BuildNode(t, depth + 1, members, scratch, first, last);
    if (code_[c] < 4) {
      nodes_[index].child[code_[c]] = child;
    } else {
      others.push_back({c, child});
    }
    first = last;
  }
  if (!others.empty()) {
    nodes_[index].others = static_cast<int32_t>(others_.size());
    others_.insert(others_.end(), others.begin(), others.end());
    others_.push_back({0, -1});
  }
  return index;
}

void WdTable::Ahead(int t, int32_t v, int depth, uint64_t out[2]) const {
  const unsigned char* x = letters(v);
  const int first = t - depth;
  if (first >= 15) {
    std::memcpy(&out[0], x + first - 7, 8);
    std::memcpy(&out[1], x + first - 15, 8);
    return;
  }
  out[0] = out[1] = 0;
  for (int j = 0; j < 16 && t - depth - j >= 0; ++j) {
    out[j / 8] |= static_cast<uint64_t>(x[t - depth - j]) << (8 * (7 - j % 8));
  }
}

int WdTable::Match(int t, const unsigned char* z, int32_t v, int depth, int limit) const {
  const unsigned char* x = letters(v);
  int k = depth;
  while (k < limit && x[t - k] == z[t - k]) ++k;
  return k;
}

int WdTable::FastMatch(int t, const unsigned char* z, int32_t v, int depth, int limit,
                       const uint64_t* ahead, int words) const {
  const unsigned char* x = letters(v);
  int k = depth;
  // Eight letters at a time, those the entry or node keeps first; byte 7 of
  // a word is the letter compared first, byte 0 the one 7 before it.
  for (int w = 0;; ++w) {
    const int first = t - k;
    if (first < 7 || limit - k <= 2) return Match(t, z, v, k, limit);
    uint64_t mine = 0, theirs = 0;
    std::memcpy(&mine, z + first - 7, 8);
    if (w < words) {
      theirs = ahead[w];
    } else {
      std::memcpy(&theirs, x + first - 7, 8);
    }
    const uint64_t differ = mine ^ theirs;
    if (differ != 0) return std::min(k + __builtin_clzll(differ) / 8, limit);
    k += 8;
    if (k >= limit) return limit;
  }
}

template <bool kFast>
void WdTable::Walk(int t, const unsigned char* z, int32_t at, int depth, double& sum) const {
  const int64_t* P = beta_prefix_.data();
  const int limit = std::min(d_, t + 1);
  const Node* node = &nodes_[at];
  while (true) {
    if (node->single >= 0) {
      // One vector left: its letters further back, compared directly.
      const int k = kFast ? FastMatch(t, z, node->single, depth, limit, node->ahead, 2)
                          : Match(t, z, node->single, depth, limit);
      if (k > depth) sum += coef_[node->single] * static_cast<double>(P[k] - P[depth]);
      return;
    }
    if (depth >= limit) return;
    const int32_t child = ChildOf(*node, z[t - depth]);
    if (child < 0) return;
    node = &nodes_[child];
    ++depth;
    sum += node->weight;
  }
}

__attribute__((always_inline)) inline int64_t WdTable::EntryIndex(int t,
                                                                  const unsigned char* z) const {
  const int L = levels_[t];
  int64_t index = 0;
  for (int j = L - 1; j >= 0; --j) {
    const unsigned char code = code_[z[t - j]];
    if (code == kNoCode) return -1;  // a letter the table does not know
    index = index * codes_ + code;
  }
  return static_cast<int64_t>(entry_start_[t]) + index;
}

template <bool kFast>
__attribute__((always_inline)) inline void WdTable::AddPosition(int t, const unsigned char* z,
                                                                int64_t entry, double& sum) const {
  if (entry < 0) {
    Walk<false>(t, z, root_[t], 0, sum);
    return;
  }
  const int L = levels_[t];
  const Entry& e = entries_[static_cast<size_t>(entry)];
  sum += e.sum;
  const int64_t* P = beta_prefix_.data();
  const int limit = std::min(d_, t + 1);
  if (e.single >= 0) {
    // One vector left: its letters further back (the first eight in the
    // entry).
    const int k =
        kFast ? FastMatch(t, z, e.single, L, limit, &e.ahead, 1) : Match(t, z, e.single, L, limit);
    if (k > L) sum += coef_[e.single] * static_cast<double>(P[k] - P[L]);
    return;
  }
  if (e.node < 0) return;
  Walk<kFast>(t, z, e.node, L, sum);
}

double WdTable::Decision(const unsigned char* z) const {
  double sum = 0;
  for (int t = 0; t < n_; ++t) AddPosition<false>(t, z, EntryIndex(t, z), sum);
  return sum / denominator_ - rho_;
}

void WdTable::Decisions(const unsigned char* const* z, int count, double* out) const {
  for (int i = 0; i < count; ++i) out[i] = 0;
  if (bytes() < kCachedBytes) {
    // Tables the processor's caches hold: nothing to fetch ahead.
    for (int t = 0; t < n_; ++t) {
      for (int i = 0; i < count; ++i) AddPosition<true>(t, z[i], EntryIndex(t, z[i]), out[i]);
    }
    for (int i = 0; i < count; ++i) out[i] = out[i] / denominator_ - rho_;
    return;
  }
  // The windows' look-ups are independent: each window's entry is found
  // and fetched ahead of its turn, and what the entry leads to a few turns
  // later, so that the waits for memory overlap.
  constexpr int kFar = 16, kNear = 8, kNext = 4, kRing = 32;
  int64_t ring[kRing];
  for (int t = 0; t < n_; ++t) {
    for (int i = 0; i < std::min(count, kFar); ++i) ring[i % kRing] = EntryIndex(t, z[i]);
    for (int i = 0; i < count; ++i) {
      if (i + kFar < count) {
        const int64_t e = EntryIndex(t, z[i + kFar]);
        ring[(i + kFar) % kRing] = e;
        if (e >= 0) __builtin_prefetch(&entries_[static_cast<size_t>(e)]);
      }
      if (i + kNear < count) {
        const int64_t e = ring[(i + kNear) % kRing];
        if (e >= 0) {
          const Entry& f = entries_[static_cast<size_t>(e)];
          if (f.node >= 0) __builtin_prefetch(&nodes_[static_cast<size_t>(f.node)]);
        }
      }
      if (i + kNext < count) {
        // The node after the entry's, by the window's letter there.
        const int64_t e = ring[(i + kNext) % kRing];
        const int L = levels_[t];
        if (e >= 0 && entries_[static_cast<size_t>(e)].node >= 0 && L < std::min(d_, t + 1)) {
          const Node& node = nodes_[static_cast<size_t>(entries_[static_cast<size_t>(e)].node)];
          const unsigned char code = code_[z[i + kNext][t - L]];
          if (node.single < 0 && code < 4 && node.child[code] >= 0) {
            __builtin_prefetch(&nodes_[static_cast<size_t>(node.child[code])]);
          }
        }
      }
      AddPosition<true>(t, z[i], ring[i % kRing], out[i]);
    }
  }
  for (int i = 0; i < count; ++i) out[i] = out[i] / denominator_ - rho_;
}

}  // namespace varnik
