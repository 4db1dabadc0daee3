#include "svm/svm_wd_table.h"

#include <immintrin.h>

#include <algorithm>
#include <bit>
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
  if (T.nodes_.size() > kNodeIndices) return nullptr;
  T.coef_.push_back(0);  // the coefficient of entries done within their table
  std::vector<int32_t>().swap(T.single_at_);
  std::vector<int>().swap(T.single_depth_);
  std::vector<unsigned char>().swap(T.columns_);
  // Enough levels to split the vectors (about two entries per vector), as
  // long as a position's table keeps within 16,384 entries.
  int levels = 0;
  for (double size = T.codes_; size <= 16384 && levels < kMostLevels; size *= T.codes_) {
    ++levels;
    if (size >= 2.0 * model.l) break;
  }
  T.levels_.resize(static_cast<size_t>(n));
  T.table_start_.assign(static_cast<size_t>(n) * (kMostLevels + 1), 0);
  for (int t = 0; t < n; ++t) {
    T.levels_[t] = std::min(levels, std::min(T.d_, t + 1));
    for (int j = 0; j <= T.levels_[t]; ++j) {
      T.table_start_[static_cast<size_t>(t) * (kMostLevels + 1) + static_cast<size_t>(j)] =
          T.entries_.size();
      T.BuildEntries(t, j);
    }
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

// Every combination of the last L letters' codes, walked down the tree as
// Decision would walk it.
void WdTable::BuildEntries(int t, int L) {
  size_t size = 1;
  for (int j = 0; j < L; ++j) size *= static_cast<size_t>(codes_);
  std::vector<unsigned char> z(static_cast<size_t>(t + 1), 0);
  const int64_t* P = beta_prefix_.data();
  const int limit = std::min(d_, t + 1);
  for (size_t index = 0; index < size; ++index) {
    size_t rest = index;
    for (int j = 0; j < L; ++j) {
      z[t - j] = static_cast<unsigned char>(letter_of_[rest % codes_]);
      rest /= codes_;
    }
    Entry e;
    e.set(kDone, 0, static_cast<int32_t>(coef_.size() - 1));
    int32_t at = root_[t];
    int depth = 0;
    while (true) {
      const Node& node = nodes_[at];
      if (node.single >= 0) {
        const unsigned char* x = letters(node.single);
        int k = depth;
        while (k < L && x[t - k] == z[t - k]) ++k;
        if (k == L && L < limit) {  // the comparison goes on past the table
          e.set(kSingle, depth, node.single);
          for (int j = 0; j < 4 && t - L - j >= 0; ++j) {
            e.ahead |= static_cast<uint32_t>(x[t - L - j]) << (8 * (3 - j));
          }
        } else if (k > depth) {
          e.sum += coef_[node.single] * static_cast<double>(P[k] - P[depth]);
        }
        break;
      }
      if (depth == L) {
        if (L < limit) {
          e.set(kNode, 0, at);
        }
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
__attribute__((always_inline)) inline int32_t WdTable::WalkStep(int t, const unsigned char* z,
                                                                const Node& node, int depth,
                                                                int limit, double& sum) const {
  if (node.single >= 0) {
    // One vector left: its letters further back, compared directly.
    const int k = kFast ? FastMatch(t, z, node.single, depth, limit, node.ahead, 2)
                        : Match(t, z, node.single, depth, limit);
    if (k > depth) {
      sum += coef_[node.single] * static_cast<double>(beta_prefix_[k] - beta_prefix_[depth]);
    }
    return -1;
  }
  if (depth >= limit) return -1;
  const unsigned char letter = z[t - depth];
  const unsigned char code = code_[letter];
  return code < 4 ? node.child[code] : ChildOf(node, letter);
}

template <bool kFast>
void WdTable::Walk(int t, const unsigned char* z, int32_t at, int depth, double& sum) const {
  const int limit = std::min(d_, t + 1);
  const Node* node = &nodes_[at];
  while (true) {
    const int32_t child = WalkStep<kFast>(t, z, *node, depth, limit, sum);
    if (child < 0) return;
    node = &nodes_[child];
    ++depth;
    sum += node->weight;
  }
}

size_t WdTable::Locate(int t, const unsigned char* z, int& levels) const {
  const int L = levels_[t];
  size_t index = 0, weight = 1;
  int j = 0;
  for (; j < L; ++j) {
    const unsigned char code = code_[z[t - j]];
    if (code == kNoCode) break;  // a letter the table does not know
    index += code * weight;
    weight *= static_cast<size_t>(codes_);
  }
  levels = j;
  return table_start(t, j) + index;
}

template <bool kFast>
__attribute__((always_inline)) inline double WdTable::PositionSum(int t, const unsigned char* z,
                                                                  const Entry& e,
                                                                  int levels) const {
  if (e.kind() == kNode) {
    double sum = e.sum;
    Walk<kFast>(t, z, e.next(), levels, sum);
    return sum;
  }
  // Done within the table (a coefficient of 0), or one vector left,
  // matching from depth from(): its letters further back.
  int k = levels;
  if (e.kind() == kSingle) {
    const int limit = std::min(d_, t + 1);
    k = kFast ? FastMatch(t, z, e.next(), levels, limit) : Match(t, z, e.next(), levels, limit);
  }
  return e.sum + coef_[static_cast<size_t>(e.next())] *
                     static_cast<double>(beta_prefix_[k] - beta_prefix_[e.from()]);
}

double WdTable::Decision(const unsigned char* z) const {
  double sum = 0;
  for (int t = 0; t < n_; ++t) {
    int levels = 0;
    const size_t entry = Locate(t, z, levels);
    sum += PositionSum<false>(t, z, entries_[entry], levels);
  }
  return sum / denominator_ - rho_;
}

namespace {

// A window's state after one more letter, of code `code`: how many letters
// in a row have a code (at most 15), above the last eight letters' codes,
// two bits each.
inline uint32_t Roll(uint32_t s, uint32_t code) {
  if (code >= 4) return 0;
  const uint32_t run = std::min<uint32_t>((s >> 16) + 1, 15);
  return (run << 16) | (((s << 2) | code) & 0xFFFF);
}

// Windows are taken this many at a time at each position: their entries
// first, then their walks, each window's look-ups fetched ahead of its turn.
constexpr int kChunk = 256;
constexpr int kFar = 64;
// An entry's place within its position's tables and its levels, in one word.
constexpr int kLevelShift = 27;
constexpr uint32_t kPlace = (1u << kLevelShift) - 1;

// The entries of a chunk of windows at one position, eight at a time.
struct EntryPass {
  const unsigned char* entries;  // the position's tables: 16 bytes an entry,
                                 // the sum, the letters ahead, the kind and so on
  const uint32_t* where;
  const unsigned char* const* windows;
  int m, t, limit;
  const int64_t* P;
  const double* coef;
  int32_t none;  // the coefficient 0
  bool fetch;
  double* out;
  int* walkers;
  int walks;
  int* plains;       // windows left to the plain way: a single vector's run
  int plains_count;  // going on past the entry's letters, and the last few windows
};

bool HasAvx512() {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
         __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
         __builtin_cpu_supports("avx512vl");
}

// The places of windows one letter apart (their states in a row), as the
// plain way finds them, eight at a time; how many it placed. L is at most
// 7 (four table letters).
__attribute__((target("avx2,avx512f,avx512vl"))) int PlacesAvx512(const uint32_t* rolled, int m,
                                                                  int L, const uint32_t* start,
                                                                  uint32_t* where) {
  const __m256i starts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(start));
  const __m256i most = _mm256_set1_epi32(L), ones = _mm256_set1_epi32(-1);
  int k = 0;
  for (; k + 8 <= m; k += 8) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rolled + k));
    const __m256i j = _mm256_min_epu32(_mm256_srli_epi32(s, 16), most);
    const __m256i low = _mm256_andnot_si256(_mm256_sllv_epi32(ones, _mm256_add_epi32(j, j)), s);
    const __m256i place =
        _mm256_or_si256(_mm256_slli_epi32(j, kLevelShift),
                        _mm256_add_epi32(_mm256_permutevar8x32_epi32(starts, j), low));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(where + k), place);
  }
  return k;
}

// What the plain way computes for each window (the same operations on the
// same numbers, lane by lane).
__attribute__((target("avx2,avx512f,avx512cd,avx512dq,avx512vl"))) void EntryPassAvx512(
    EntryPass& a) {
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i place_mask = _mm256_set1_epi32(static_cast<int>(kPlace));
  const __m256i t = _mm256_set1_epi32(a.t), limit = _mm256_set1_epi32(a.limit);
  const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi32(1);
  const __m256i two = _mm256_set1_epi32(2), three = _mm256_set1_epi32(3);
  const __m256i four = _mm256_set1_epi32(4), eight = _mm256_set1_epi32(8);
  const __m256i next_mask = _mm256_set1_epi32((1 << 26) - 1), fifteen = _mm256_set1_epi32(15);
  const __m256i none = _mm256_set1_epi32(a.none);
  const auto* sums = reinterpret_cast<const double*>(a.entries);
  const auto* words = reinterpret_cast<const int*>(a.entries);
  int k = 0;
  for (; k + 8 <= a.m; k += 8) {
    if (a.fetch) {
      for (int i = k + kFar; i < std::min(k + kFar + 8, a.m); ++i) {
        __builtin_prefetch(a.entries + 16 * static_cast<size_t>(a.where[i] & kPlace));
      }
    }
    const __m256i where = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a.where + k));
    const __m256i place = _mm256_and_si256(where, place_mask);
    const __m256i levels = _mm256_srli_epi32(where, kLevelShift);
    const __m512d sum =
        _mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xFF, _mm256_slli_epi32(place, 1), sums, 8);
    const __m256i ahead = _mm256_i32gather_epi32(words + 2, _mm256_slli_epi32(place, 2), 4);
    const __m256i packed = _mm256_i32gather_epi32(words + 3, _mm256_slli_epi32(place, 2), 4);
    // The four letters past the table (read from the window's start when
    // that is closer, and shifted as the plain way shifts them).
    const __m256i before = _mm256_sub_epi32(t, levels);
    const __m256i offset = _mm256_max_epi32(_mm256_sub_epi32(before, three), zero);
    const __m256i shift =
        _mm256_mullo_epi32(_mm256_max_epi32(_mm256_sub_epi32(three, before), zero), eight);
    const __m512i at =
        _mm512_add_epi64(_mm512_loadu_si512(reinterpret_cast<const void*>(a.windows + k)),
                         _mm512_maskz_cvtepi32_epi64(0xFF, offset));
    const __m256i mine =
        _mm256_sllv_epi32(_mm512_mask_i64gather_epi32(zero, 0xFF, at, nullptr, 1), shift);
    const __m256i matched = _mm256_srli_epi32(_mm256_lzcnt_epi32(_mm256_xor_si256(mine, ahead)), 3);
    const __m256i reach = _mm256_min_epi32(_mm256_add_epi32(levels, matched), limit);
    const __m256i kind = _mm256_srli_epi32(packed, 30);
    const __mmask8 walk = _mm256_cmpeq_epi32_mask(kind, two);
    const __mmask8 further = _mm256_cmpeq_epi32_mask(kind, one) &
                             _mm256_cmpeq_epi32_mask(matched, four) &
                             _mm256_cmplt_epi32_mask(reach, limit);
    if (further != 0) {
      for (int i = 0; i < 8; ++i) a.plains[a.plains_count++] = k + i;
      continue;
    }
    const __m256i next = _mm256_and_si256(packed, next_mask);
    const __m256i from = _mm256_and_si256(_mm256_srli_epi32(packed, 26), fifteen);
    const __m512d coef = _mm512_mask_i32gather_pd(
        _mm512_setzero_pd(), 0xFF, _mm256_mask_blend_epi32(walk, next, none), a.coef, 8);
    const __m512i span =
        _mm512_sub_epi64(_mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xFF, reach, a.P, 8),
                         _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xFF, from, a.P, 8));
    const __m512d value =
        _mm512_maskz_mov_pd(static_cast<__mmask8>(~walk),
                            _mm512_add_pd(sum, _mm512_mul_pd(coef, _mm512_cvtepi64_pd(span))));
    _mm512_storeu_pd(a.out + k, _mm512_add_pd(_mm512_loadu_pd(a.out + k), value));
    _mm256_mask_compressstoreu_epi32(a.walkers + a.walks, walk,
                                     _mm256_add_epi32(_mm256_set1_epi32(k), lanes));
    a.walks += std::popcount(static_cast<unsigned>(walk));
  }
  for (; k < a.m; ++k) a.plains[a.plains_count++] = k;
}

}  // namespace

void WdTable::Decisions(const unsigned char* const* z, int count, double* out) const {
  for (int i = 0; i < count; ++i) out[i] = 0;
  if (codes_ == 4 && n_ >= 4) {
    DnaDecisions(z, count, out);
  } else {
    for (int t = 0; t < n_; ++t) {
      for (int i = 0; i < count; ++i) {
        int levels = 0;
        const size_t entry = Locate(t, z[i], levels);
        out[i] += PositionSum<true>(t, z[i], entries_[entry], levels);
      }
    }
  }
  for (int i = 0; i < count; ++i) out[i] = out[i] / denominator_ - rho_;
}

void WdTable::DnaDecisions(const unsigned char* const* z, int count, double* out) const {
  // A scan's windows follow one another letter by letter (forwards on the
  // plus strand, backwards on the minus): then the state of window i at
  // position t is that of the letters up to its letter t, rolled once over
  // all of them; else each window's own is carried.
  if (count <= 0) return;
  auto address = [z](int i) { return reinterpret_cast<uintptr_t>(z[i]); };
  int step = count < 2                      ? 1
             : address(1) == address(0) + 1 ? 1
             : address(1) + 1 == address(0) ? -1
                                            : 0;
  for (int i = 1; i < count && step != 0; ++i) {
    if (address(i) != address(0) + static_cast<uintptr_t>(static_cast<intptr_t>(i) * step))
      step = 0;
  }
  std::vector<uint32_t> state;
  if (step == 1 || step == -1) {
    const unsigned char* lowest = step == 1 ? z[0] : z[count - 1];
    state.resize(static_cast<size_t>(count) + static_cast<size_t>(n_) - 1);
    uint32_t s = 0;
    for (size_t p = 0; p < state.size(); ++p) {
      s = Roll(s, code_[lowest[p]]);
      state[p] = s;
    }
  } else {
    state.assign(static_cast<size_t>(count), 0);
  }

  uint32_t where[kChunk];
  int plain[kChunk];                           // windows the wide pass leaves to the plain way
  const bool fetch = bytes() >= kCachedBytes;  // else the tables stay in the caches
  static const bool wide = HasAvx512();
  struct Pending {
    int window;
    int32_t node;  // the node to visit
    int depth;     // its depth
    bool fresh;    // its weight is still to be added
    double sum;
  } pending[kChunk];
  const int64_t* P = beta_prefix_.data();
  for (int t = 0; t < n_; ++t) {
    const int L = levels_[t];
    const int limit = std::min(d_, t + 1);
    const size_t base = table_start(t, 0);
    const Entry* entries = entries_.data() + base;
    uint32_t start[kMostLevels + 1] = {};
    for (int j = 0; j <= L; ++j) start[j] = static_cast<uint32_t>(table_start(t, j) - base);
    for (int first = 0; first < count; first += kChunk) {
      const int m = std::min(kChunk, count - first);
      const unsigned char* const* w = z + first;
      // Where each window's entry is: as many of its last letters as have
      // codes, up to L (a longer run before the window's start is cut by
      // L, which is at most t + 1).
      auto place = [&](uint32_t s) {
        const uint32_t j = std::min<uint32_t>(s >> 16, static_cast<uint32_t>(L));
        return (j << kLevelShift) | (start[j] + (s & ((1u << (2 * j)) - 1)));
      };
      if (step == 1) {
        const uint32_t* rolled = state.data() + first + t;
        int k = wide && L <= 7 ? PlacesAvx512(rolled, m, L, start, where) : 0;
        for (; k < m; ++k) where[k] = place(rolled[k]);
      } else if (step == -1) {
        const uint32_t* rolled = state.data() + (count - 1 - first) + t;
        for (int k = 0; k < m; ++k) where[k] = place(*(rolled - k));
      } else {
        for (int k = 0; k < m; ++k) {
          uint32_t& s = state[static_cast<size_t>(first + k)];
          s = Roll(s, code_[w[k][t]]);
          where[k] = place(s);
        }
      }
      int walkers[kChunk];  // windows whose entry leads into the tree, walked below
      int walks = 0;
      // One window's entry, the plain way.
      auto one = [&](int k) {
        const Entry& e = entries[where[k] & kPlace];
        const int levels = static_cast<int>(where[k] >> kLevelShift);
        const unsigned char* x = w[k];
        // An entry into the tree: its window is walked below (without a
        // branch here: the window is put down in any case and counted only
        // then), and its sum here is +0, which leaves out[] as it is.
        const bool walk = e.kind() == kNode;
        walkers[walks] = k;
        walks += walk ? 1 : 0;
        // What PositionSum computes, without a branch for the common
        // cases: the window's four letters past the table against the
        // entry's, the letters before the window's start read as 0s as the
        // entry holds them (the match is cut at the start anyway).
        const int before = t - levels;  // -1 when the table reaches the start
        uint32_t mine;
        std::memcpy(&mine, x + std::max(before - 3, 0), 4);
        mine = static_cast<uint32_t>(uint64_t{mine} << (8 * std::max(3 - before, 0)));
        const int matched = std::countl_zero(mine ^ e.ahead) >> 3;
        int reach = std::min(levels + matched, limit);
        if (matched == 4 && reach < limit && e.kind() == kSingle) [[unlikely]] {
          reach = FastMatch(t, x, e.next(), reach, limit);
        }
        const double coef = coef_[walk ? coef_.size() - 1 : static_cast<size_t>(e.next())];
        const double sum = e.sum + coef * static_cast<double>(P[reach] - P[e.from()]);
        out[first + k] += walk ? 0.0 : sum;
      };
      int done = 0;
      if (wide) {
        EntryPass pass{reinterpret_cast<const unsigned char*>(entries),
                       where,
                       w,
                       m,
                       t,
                       limit,
                       P,
                       coef_.data(),
                       static_cast<int32_t>(coef_.size() - 1),
                       fetch,
                       out + first,
                       walkers,
                       0,
                       plain,
                       0};
        EntryPassAvx512(pass);
        walks = pass.walks;
        for (int r = 0; r < pass.plains_count; ++r) one(plain[r]);
        done = m;
      }
      for (int k = done; k < m; ++k) {
        if (fetch && k + kFar < m) __builtin_prefetch(&entries[where[k + kFar] & kPlace]);
        one(k);
      }
      // The walks down the tree, one node of each window in turn, so that
      // each node is fetched a round ahead of its visit (the steps and the
      // sums of each window as Walk takes them).
      for (int r = 0; r < walks; ++r) {
        const int k = walkers[r];
        const Entry& e = entries[where[k] & kPlace];
        __builtin_prefetch(&nodes_[static_cast<size_t>(e.next())]);
        pending[r] = {k, e.next(), static_cast<int>(where[k] >> kLevelShift), false, e.sum};
      }
      while (walks > 0) {
        int kept = 0;
        for (int r = 0; r < walks; ++r) {
          Pending p = pending[r];
          const Node& node = nodes_[static_cast<size_t>(p.node)];
          if (p.fresh) p.sum += node.weight;
          const int32_t child = WalkStep<true>(t, w[p.window], node, p.depth, limit, p.sum);
          if (child < 0) {
            out[first + p.window] += p.sum;
            continue;
          }
          __builtin_prefetch(&nodes_[static_cast<size_t>(child)]);
          p.node = child;
          ++p.depth;
          p.fresh = true;
          pending[kept++] = p;
        }
        walks = kept;
      }
    }
  }
}

}  // namespace varnik
