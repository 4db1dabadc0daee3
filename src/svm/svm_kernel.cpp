#include <algorithm>
#include <cmath>
#include <cstring>

#include "svm/internal/kernel.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnik {

const char* const svm_type_table[] = {"c_svc",       "nu_svc", "one_class",
                                      "epsilon_svr", "nu_svr", nullptr};
const char* const kernel_type_table[] = {"linear",      "polynomial", "rbf", "sigmoid",
                                         "precomputed", "wd",         "wds", nullptr};

double dot(const svm_node* px, const svm_node* py) {
  double sum = 0;
  while (px->index != -1 && py->index != -1) {
    if (px->index == py->index) {
      sum += px->value * py->value;
      ++px;
      ++py;
    } else if (px->index > py->index) {
      ++py;
    } else {
      ++px;
    }
  }
  return sum;
}

bool EncodeOneHot(const svm_node* x, std::string& codes) {
  codes.clear();
  for (; x->index != -1; ++x) {
    if (x->value != 1.0 || x->index < 1) return false;
    const int p = (x->index - 1) / 4;
    // Codes are one byte per position: a vector reaching beyond any window
    // this program reads takes the general way instead.
    if (p >= kMaxOneHotPositions) return false;
    if (static_cast<int>(codes.size()) > p) return false;  // two nodes in one block
    codes.resize(static_cast<size_t>(p), '\0');
    codes.push_back(static_cast<char>((x->index - 1) % 4 + 1));
  }
  return true;
}

int CountCommonCodes(const unsigned char* a, const unsigned char* b, int n) {
  int count = 0;
  int i = 0;
#ifdef __SSE2__
  // Matches are counted per byte lane (minus -1 per match) and summed at the
  // end; a lane gains at most one per block, 255 blocks at a time.
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= n) {
    __m128i lanes = zero;
    for (int blocks = 0; blocks < 255 && i + 16 <= n; ++blocks, i += 16) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
      const __m128i same = _mm_andnot_si128(_mm_cmpeq_epi8(va, zero), _mm_cmpeq_epi8(va, vb));
      lanes = _mm_sub_epi8(lanes, same);
    }
    const __m128i sums = _mm_sad_epu8(lanes, zero);
    count += _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
  }
#endif
  for (; i < n; ++i) count += a[i] != 0 && a[i] == b[i];
  return count;
}

bool NodesAsLetters(const svm_node* x, std::string& out) {
  out.clear();
  for (; x->index != -1; ++x) {
    const double v = x->value;
    if (!(v >= 0 && v <= 255) || v != std::floor(v)) return false;
    out.push_back(static_cast<char>(static_cast<unsigned char>(v)));
  }
  return true;
}

namespace {

double powi(double base, int times) {
  double tmp = base, ret = 1.0;
  for (int t = times; t > 0; t /= 2) {
    if (t % 2 == 1) ret *= tmp;
    tmp = tmp * tmp;
  }
  return ret;
}

int NodeCount(const svm_node* x) {
  int n = 0;
  while (x[n].index != -1) ++n;
  return n;
}

// The window's letters when every value is a letter code (0 .. 255, whole).
bool AsLetters(const svm_node* x, int n, std::string& out) {
  out.resize(static_cast<size_t>(n));
  for (int p = 0; p < n; ++p) {
    const double v = x[p].value;
    if (!(v >= 0 && v <= 255) || v != std::floor(v)) return false;
    out[p] = static_cast<char>(static_cast<unsigned char>(v));
  }
  return true;
}

}  // namespace

WdWeights::WdWeights(int d, int n) : d_(d), n_(n), cap_(std::max(std::min(d, n), 0)) {
  run_.assign(static_cast<size_t>(std::max(n, 0)) + 1, 0);
  for (int r = 1; r <= n; ++r) {
    int64_t sum = 0;
    for (int k = 1; k <= std::min(d, r); ++k) sum += static_cast<int64_t>(d - k + 1) * (r - k + 1);
    run_[r] = sum;
  }
  // k-mers longer than the window never count: the prefix sums stop at n.
  prefix_.assign(static_cast<size_t>(cap_) + 1, 0);
  for (int k = 1; k <= cap_; ++k) prefix_[k] = prefix_[k - 1] + (d - k + 1);
  inner_.assign(static_cast<size_t>(std::max(n, 0)) + 1, 0);
  for (int r = 1; r <= n; ++r) inner_[r] = inner_[r - 1] + beta_prefix(r);
  tail_.assign(static_cast<size_t>(std::max(n, 0)) + 1, 0);
  for (int t = n - 1; t >= 0; --t) tail_[t] = tail_[t + 1] + beta_prefix(n - t);
}

namespace {

template <typename T>
double WdKernelOf(const T* a, const T* b, int n, const WdWeights& w) {
  bool same = true;
  for (int p = 0; p < n && same; ++p) same = a[p] == b[p];
  if (n == 0 || same) return 1.0;
  // matches_k counts the k-mers inside runs of matching letters: a run of r
  // letters holds r - k + 1 of them, so the numerator is a sum over runs.
  int64_t numerator = 0;
  int r = 0;
  for (int p = 0; p < n; ++p) {
    if (a[p] == b[p]) {
      ++r;
    } else {
      numerator += w.run(r);
      r = 0;
    }
  }
  numerator += w.run(r);
  return static_cast<double>(numerator) / static_cast<double>(w.run(n));
}

// The matches a[t] = b[t] for t < n as bits: bit t % 64 of word t / 64; the
// bits from n on are zero.
inline __attribute__((always_inline)) int MatchWords(const unsigned char* a, const unsigned char* b,
                                                     int n, uint64_t* words) {
  const int count = (n + 63) / 64;
  for (int k = 0; k < count; ++k) {
    const int base = 64 * k, stop = std::min(n, base + 64);
    uint64_t bits = 0;
    int t = base;
#ifdef __SSE2__
    for (; t + 16 <= stop; t += 16) {
      const __m128i eq = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + t)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + t)));
      bits |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(eq))) << (t - base);
    }
    if (t < stop && n >= 16) {
      // The last few letters from a block ending at n (stop is n here: the
      // other words end on a whole block).
      const int rem = stop - t;
      const __m128i eq =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + n - 16)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + n - 16)));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(eq)) >> (16 - rem);
      bits |= static_cast<uint64_t>(mask) << (t - base);
      t = stop;
    }
#endif
    for (; t < stop; ++t) bits |= static_cast<uint64_t>(a[t] == b[t]) << (t - base);
    words[k] = bits;
  }
  return count;
}

// Calls run(first, last) for every run of set bits, in position order (last
// inclusive). A run starts at a set bit after a clear one and stops at a set
// bit before a clear one; the neighbours of a word's end bits are the next
// and previous words' bits.
template <typename Run>
void ForEachRun(const uint64_t* words, int count, Run run) {
  int open = -1;  // the start of a run still open at the end of the last word
  for (int k = 0; k < count; ++k) {
    const uint64_t bits = words[k];
    const uint64_t before = k > 0 ? words[k - 1] >> 63 : 0;
    const uint64_t after = k + 1 < count ? words[k + 1] << 63 : 0;
    uint64_t starts = bits & ~((bits << 1) | before);
    uint64_t stops = bits & ~((bits >> 1) | after);
    const int base = 64 * k;
    if (open >= 0 && stops != 0) {
      run(open, base + __builtin_ctzll(stops));
      stops &= stops - 1;
      open = -1;
    }
    while (starts != 0) {
      const int start = base + __builtin_ctzll(starts);
      starts &= starts - 1;
      if (stops == 0) {
        open = start;
        break;
      }
      run(start, base + __builtin_ctzll(stops));
      stops &= stops - 1;
    }
  }
}

// Room for the match bits of windows up to 1,024 letters on the stack;
// longer ones take the heap.
class MatchBits {
 public:
  explicit MatchBits(int n) {
    const size_t count = static_cast<size_t>((n + 63) / 64);
    if (count > kWords) heap_.resize(count);
  }
  uint64_t* data() { return heap_.empty() ? local_ : heap_.data(); }

 private:
  static constexpr size_t kWords = 16;
  uint64_t local_[kWords];
  std::vector<uint64_t> heap_;
};

// The runs of matches x[t] = y[t] for t in [first, end): a run that stops
// before end adds inner_run(length), one that reaches end the tail sums of
// its positions.
template <typename T>
int64_t CountRuns(const T* x, const T* y, int first, int end, const WdWeights& w) {
  int64_t count = 0;
  int t = first;
  while (t < end) {
    if (x[t] != y[t]) {
      ++t;
      continue;
    }
    const int start = t;
    while (t < end && x[t] == y[t]) ++t;
    count += t == end ? w.tail(start) - w.tail(end) : w.inner_run(t - start);
  }
  return count;
}

// Letters: the matches as bits, the runs found from them many positions at a
// time.
template <>
int64_t CountRuns<unsigned char>(const unsigned char* x, const unsigned char* y, int first, int end,
                                 const WdWeights& w) {
  if (first >= end) return 0;
  MatchBits bits(end);
  uint64_t* words = bits.data();
  const int count = MatchWords(x, y, end, words);
  for (int k = 0; k < first / 64; ++k) words[k] = 0;
  if (first % 64 != 0) words[first / 64] &= ~uint64_t{0} << (first % 64);
  int64_t sum = 0;
  ForEachRun(words, count, [&](int start, int last) {
    sum += last == end - 1 ? w.tail(start) - w.tail(end) : w.inner_run(last - start + 1);
  });
  return sum;
}

template <typename T>
double WdsSumOf(const T* u, const T* v, int n, int d, double sigma, const WdWeights& w) {
  // For shift s, the k-mer at i matches on side A when the run of letters
  // with u[t + s] = v[t] starting at t = i is at least min(k, n - s - i) long
  // (the comparison stops at the window's end), and likewise on side B with
  // u[t] = v[t + s]. Summing beta_k over k = 1 .. min(d, n - i) is then one
  // look-up in the prefix sums of beta. Position i may shift by s when
  // (int)(i * sigma) >= s and i + s < n.
  const int64_t* P = w.beta_prefix_table();  // P[t] for t = 0 .. min(d, n)
  double total = 0;
  int first = 0;  // the first position allowed to shift by s (it only grows with s)
  for (int s = 0; s < n; ++s) {
    while (first + s < n && !(first * sigma >= s)) ++first;
    if (first + s >= n) break;  // no position can shift this far, nor further
    const int m_all = n - s;
    int64_t count = 0;
    if (sigma >= 0) {
      // Positions first .. m_all - 1 may shift by s. Only positions inside
      // runs of matches count: a run of r matches that stops before the end
      // adds inner_run(r) (the k-mer lengths at such a position are bounded by
      // the run, never by the window); a run reaching the end adds the tail
      // sums of its positions.
      for (int side = 0; side < 2; ++side) {
        const T* x = side == 0 ? u + s : u;  // compares x[t] with y[t]
        const T* y = side == 0 ? v : v + s;
        count += CountRuns(x, y, first, m_all, w);
      }
    } else {
      // A negative sigma: position 0 alone, with no shift.
      int ra = 0, rb = 0;
      for (int t = m_all - 1; t >= 0; --t) {
        ra = u[t + s] == v[t] ? ra + 1 : 0;
        rb = u[t] == v[t + s] ? rb + 1 : 0;
        if (!(t * sigma >= s)) continue;
        const int m = m_all - t;
        const int K = std::min(d, n - t);
        count += P[ra < m ? std::min(ra, K) : K] + P[rb < m ? std::min(rb, K) : K];
      }
    }
    total += static_cast<double>(count) / (2.0 * (s + 1));
  }
  return total;
}

std::vector<double> Values(const svm_node* x) {
  std::vector<double> v;
  for (; x->index != -1; ++x) v.push_back(x->value);
  return v;
}

}  // namespace

namespace {

// The numerator of the weighted-degree kernel from the match bits: the k-mer
// ending at t matches when the run of matches ending at t is at least k long,
// and those positions are m_k = m_{k-1} & (m_{k-1} << 1) (m_1 the matches),
// so the numerator is the sum over k = 1 .. d of beta_k popcount(m_k). It
// stops as soon as no run is k long: the same whole number as the sum over
// runs. kWords > 0 fixes the number of words (kept in registers); 0 takes
// `count`.
template <int kWords>
inline __attribute__((always_inline)) int64_t WdNumeratorOfBits(const uint64_t* bits, int count,
                                                                const WdWeights& w) {
  const int64_t* P = w.beta_prefix_table();
  const int d = w.d();
  uint64_t local[kWords > 0 ? kWords : 1];
  MatchBits heap(kWords > 0 ? 0 : 64 * count);
  uint64_t* m = local;
  if constexpr (kWords > 0) {
    count = kWords;
  } else {
    m = heap.data();
  }
  for (int i = 0; i < count; ++i) m[i] = bits[i];
  int64_t numerator = 0;
  int k = 1;
  // Most runs are short: the first four lengths without a test between them
  // (a length no run reaches adds nothing), which spares the processor a
  // hard-to-predict branch per length.
  for (; k <= 4 && k <= d && k <= w.n(); ++k) {
    int64_t ones = 0;
    for (int i = 0; i < count; ++i) ones += __builtin_popcountll(m[i]);
    numerator += (P[k] - P[k - 1]) * ones;
    for (int i = count - 1; i > 0; --i) m[i] &= (m[i] << 1) | (m[i - 1] >> 63);
    m[0] &= m[0] << 1;
  }
  for (; k <= d; ++k) {
    uint64_t any = 0;
    int64_t ones = 0;
    for (int i = 0; i < count; ++i) {
      ones += __builtin_popcountll(m[i]);
      any |= m[i];
    }
    if (any == 0) break;
    numerator += (P[k] - P[k - 1]) * ones;  // beta_k
    // Shift in from the top of the word below, highest word first.
    for (int i = count - 1; i > 0; --i) m[i] &= (m[i] << 1) | (m[i - 1] >> 63);
    m[0] &= m[0] << 1;
  }
  return numerator;
}

inline __attribute__((always_inline)) int64_t WdNumerator(const uint64_t* bits, int count,
                                                          const WdWeights& w) {
  switch (count) {
    case 1:
      return WdNumeratorOfBits<1>(bits, count, w);
    case 2:
      return WdNumeratorOfBits<2>(bits, count, w);
    case 3:
      return WdNumeratorOfBits<3>(bits, count, w);
    case 4:
      return WdNumeratorOfBits<4>(bits, count, w);
    default:
      return WdNumeratorOfBits<0>(bits, count, w);
  }
}

// The kernel value of two windows of n letters, the words holding room for
// their match bits. Processors with a population-count instruction count
// bits with it; the numbers are the same whole numbers.
inline __attribute__((always_inline)) double WdKernelOfLetters(const unsigned char* a,
                                                               const unsigned char* b, int n,
                                                               const WdWeights& w) {
  constexpr int kLocal = 16;  // words on the stack: windows of up to 1,024 letters
  uint64_t local[kLocal];
  std::vector<uint64_t> heap;
  uint64_t* words = local;
  if (n > 64 * kLocal) {
    heap.resize(static_cast<size_t>((n + 63) / 64));
    words = heap.data();
  }
  const int count = MatchWords(a, b, n, words);
  // Equal windows need no case of their own: their numerator is run(n).
  return static_cast<double>(WdNumerator(words, count, w)) / static_cast<double>(w.run(n));
}

double WdKernelPortable(const unsigned char* a, const unsigned char* b, int n, const WdWeights& w) {
  return WdKernelOfLetters(a, b, n, w);
}

void WdKernelRowPortable(const unsigned char* a, const unsigned char* const* b, int count, int n,
                         const WdWeights& w, double* out) {
  for (int i = 0; i < count; ++i) out[i] = WdKernelOfLetters(a, b[i], n, w);
}

#if defined(__GNUC__) && defined(__x86_64__)
#define VARNIK_WD_POPCOUNT 1
__attribute__((target("popcnt"))) double WdKernelPopcount(const unsigned char* a,
                                                          const unsigned char* b, int n,
                                                          const WdWeights& w) {
  return WdKernelOfLetters(a, b, n, w);
}

__attribute__((target("popcnt"))) void WdKernelRowPopcount(const unsigned char* a,
                                                           const unsigned char* const* b, int count,
                                                           int n, const WdWeights& w, double* out) {
  for (int i = 0; i < count; ++i) out[i] = WdKernelOfLetters(a, b[i], n, w);
}

bool HasPopcount() {
  static const bool has = __builtin_cpu_supports("popcnt");
  return has;
}

// Eight values at a time: lane i holds the match bits of a and b[i], word by
// word, and each length k adds beta_k times the lane's count of k-runs, the
// same whole numbers as the single way, divided the same way. Windows of up
// to 256 letters (four words per lane).
constexpr int kWideWords = 4;

template <int kWords>
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vpopcntdq,popcnt"))) void WdKernelRowWide(
    const unsigned char* a, const unsigned char* const* b, int count, int n, const WdWeights& w,
    double* out) {
  const int64_t* P = w.beta_prefix_table();
  const int cap = std::min(w.d(), n);
  const __m512d denominator = _mm512_set1_pd(static_cast<double>(w.run(n)));
  // The letters of a, word by word; the masks keep the loads inside the
  // windows (masked-off bytes are neither read nor compared).
  __mmask64 inside[kWords];
  __m512i letters[kWords];
  for (int k = 0; k < kWords; ++k) {
    const int have = n - 64 * k;
    inside[k] = have >= 64 ? ~__mmask64{0} : (__mmask64{1} << have) - 1;
    letters[k] = _mm512_maskz_loadu_epi8(inside[k], a + 64 * k);
  }
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    alignas(64) uint64_t bits[kWords][8];
    for (int lane = 0; lane < 8; ++lane) {
      const unsigned char* other = b[i + lane];
      for (int k = 0; k < kWords; ++k) {
        bits[k][lane] = _mm512_mask_cmpeq_epi8_mask(
            inside[k], letters[k], _mm512_maskz_loadu_epi8(inside[k], other + 64 * k));
      }
    }
    __m512i m[kWords];
    for (int k = 0; k < kWords; ++k) m[k] = _mm512_load_si512(bits[k]);
    __m512i numerator = _mm512_setzero_si512();
    for (int k = 1; k <= cap; ++k) {
      __m512i ones = _mm512_popcnt_epi64(m[0]);
      __m512i any = m[0];
      for (int t = 1; t < kWords; ++t) {
        ones = _mm512_add_epi64(ones, _mm512_popcnt_epi64(m[t]));
        any = _mm512_or_si512(any, m[t]);
      }
      if (_mm512_test_epi64_mask(any, any) == 0) break;
      numerator =
          _mm512_add_epi64(numerator, _mm512_mullo_epi64(_mm512_set1_epi64(P[k] - P[k - 1]), ones));
      // Shift in from the top of the word below, highest word first (m + m
      // is m << 1; the masked shift keeps g++ from a false warning).
      for (int t = kWords - 1; t > 0; --t) {
        const __m512i carry = _mm512_maskz_srli_epi64(0xFF, m[t - 1], 63);
        m[t] = _mm512_and_si512(m[t], _mm512_or_si512(_mm512_add_epi64(m[t], m[t]), carry));
      }
      m[0] = _mm512_and_si512(m[0], _mm512_add_epi64(m[0], m[0]));
    }
    _mm512_storeu_pd(out + i, _mm512_div_pd(_mm512_cvtepi64_pd(numerator), denominator));
  }
  for (; i < count; ++i) out[i] = WdKernelOfLetters(a, b[i], n, w);
}

__attribute__((target("avx512f,avx512bw,avx512dq,avx512vpopcntdq,popcnt"))) void WdKernelRowAvx512(
    const unsigned char* a, const unsigned char* const* b, int count, int n, const WdWeights& w,
    double* out) {
  switch ((n + 63) / 64) {
    case 1:
      return WdKernelRowWide<1>(a, b, count, n, w, out);
    case 2:
      return WdKernelRowWide<2>(a, b, count, n, w, out);
    case 3:
      return WdKernelRowWide<3>(a, b, count, n, w, out);
    default:
      return WdKernelRowWide<kWideWords>(a, b, count, n, w, out);
  }
}

bool HasWideRow() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512dq") &&
                          __builtin_cpu_supports("avx512vpopcntdq") &&
                          __builtin_cpu_supports("popcnt");
  return has;
}
#endif

}  // namespace

double WdKernelLetters(const unsigned char* a, const unsigned char* b, int n, const WdWeights& w) {
  if (n <= 0) return 1.0;
#ifdef VARNIK_WD_POPCOUNT
  if (HasPopcount()) return WdKernelPopcount(a, b, n, w);
#endif
  return WdKernelPortable(a, b, n, w);
}

void WdKernelRow(const unsigned char* a, const unsigned char* const* b, int count, int n,
                 const WdWeights& w, double* out) {
#ifdef VARNIK_WD_POPCOUNT
  if (WdKernelRowIsWide(n)) return WdKernelRowAvx512(a, b, count, n, w, out);
#endif
  WdKernelRowNarrow(a, b, count, n, w, out);
}

void WdKernelRowNarrow(const unsigned char* a, const unsigned char* const* b, int count, int n,
                       const WdWeights& w, double* out) {
  if (n <= 0) {
    for (int i = 0; i < count; ++i) out[i] = 1.0;
    return;
  }
#ifdef VARNIK_WD_POPCOUNT
  if (HasPopcount()) return WdKernelRowPopcount(a, b, count, n, w, out);
#endif
  WdKernelRowPortable(a, b, count, n, w, out);
}

bool WdKernelRowIsWide(int n) {
#ifdef VARNIK_WD_POPCOUNT
  return n > 0 && n <= 64 * kWideWords && HasWideRow();
#else
  (void)n;
  return false;
#endif
}

// The portable way, for tests that compare it with the processor's own.
double WdKernelLettersPortable(const unsigned char* a, const unsigned char* b, int n,
                               const WdWeights& w) {
  if (n <= 0) return 1.0;
  return WdKernelPortable(a, b, n, w);
}

double WdsSum(const unsigned char* u, const unsigned char* v, int n, int d, double sigma,
              const WdWeights& w) {
  return WdsSumOf(u, v, n, d, sigma, w);
}

double WdsKernelLetters(const unsigned char* a, const unsigned char* b, int n, int d, double sigma,
                        const WdWeights& w, double self_a, double self_b) {
  if (n == 0 || std::memcmp(a, b, static_cast<size_t>(n)) == 0) return 1.0;
  return WdsSumOf(a, b, n, d, sigma, w) / std::sqrt(self_a * self_b);
}

double WeightedDegreeKernel(const svm_node* x, const svm_node* y, int d) {
  const std::vector<double> a = Values(x), b = Values(y);
  const int n = static_cast<int>(a.size());
  if (static_cast<int>(b.size()) < n) return 0.0;  // y must be at least as long
  return WdKernelOf(a.data(), b.data(), n, WdWeights(d, n));
}

double WeightedDegreeKernelWithShifts(const svm_node* x, const svm_node* y, int d, double sigma) {
  const std::vector<double> a = Values(x), b = Values(y);
  const int n = static_cast<int>(a.size()), ny = static_cast<int>(b.size());
  if (ny < n) return 0.0;  // y must be at least as long
  bool same = true;
  for (int p = 0; p < n && same; ++p) same = a[p] == b[p];
  if (n == 0 || same) return 1.0;
  const WdWeights wx(d, n), wy(d, ny);
  const double self_x = WdsSumOf(a.data(), a.data(), n, d, sigma, wx);
  const double self_y = WdsSumOf(b.data(), b.data(), ny, d, sigma, wy);
  return WdsSumOf(a.data(), b.data(), n, d, sigma, wx) / std::sqrt(self_x * self_y);
}

Kernel::Kernel(int l, const svm_node* const* x, const svm_parameter& param, svm_run* run)
    : run_(run),
      x_(x, x + l),
      kernel_type_(param.kernel_type),
      degree_(param.degree),
      gamma_(param.gamma),
      coef0_(param.coef0) {
  if (kernel_type_ == rbf) {
    x_square_.resize(static_cast<size_t>(l));
    for (int i = 0; i < l; ++i) x_square_[i] = dot(x_[i], x_[i]);
  }
  if (kernel_type_ == linear || kernel_type_ == polynomial || kernel_type_ == rbf ||
      kernel_type_ == sigmoid) {
    row_codes_.resize(static_cast<size_t>(l));
    one_hot_ = l > 0;
    size_t longest = 0;
    for (int i = 0; i < l && one_hot_; ++i) {
      one_hot_ = EncodeOneHot(x_[i], row_codes_[i]);
      longest = std::max(longest, row_codes_[i].size());
    }
    if (one_hot_) {
      for (std::string& c : row_codes_) PadCodes(c, longest);
      if (kernel_type_ == rbf) {
        const double most = *std::max_element(x_square_.begin(), x_square_.end());
        for (int m = 0; m <= 2 * static_cast<int>(most); ++m) {
          rbf_table_.push_back(std::exp(-gamma_ * m));
        }
      }
    } else {
      row_codes_.clear();
    }
  }
  const bool plain = run != nullptr && ((kernel_type_ == wd && run->wd_kernel != nullptr) ||
                                        (kernel_type_ == wds && run->wds_kernel != nullptr));
  if ((kernel_type_ == wd || kernel_type_ == wds) && !plain) {
    row_length_.resize(static_cast<size_t>(l));
    letters_ = true;
    int longest = 0;
    for (int i = 0; i < l; ++i) {
      row_length_[i] = NodeCount(x_[i]);
      longest = std::max(longest, row_length_[i]);
      one_length_ = one_length_ && row_length_[i] == row_length_[0];
    }
    stride_ = static_cast<size_t>(longest);
    row_letters_.assign(stride_ * static_cast<size_t>(l), '\0');
    std::string letters;
    for (int i = 0; i < l && letters_; ++i) {
      letters_ = AsLetters(x_[i], row_length_[i], letters);
      if (letters_)
        letters.copy(row_letters_.data() + static_cast<size_t>(i) * stride_, letters.size());
    }
    if (letters_) {
      for (int i = 0; i < l; ++i) add_weights_for(row_length_[i]);
    } else {
      row_letters_.clear();
    }
    if (letters_ && kernel_type_ == wds) {
      self_wds_.resize(static_cast<size_t>(l));
      for (int i = 0; i < l; ++i) {
        self_wds_[i] =
            WdsSum(row(i), row(i), row_length_[i], degree_, gamma_, weights_for(row_length_[i]));
      }
    }
  }
}

void Kernel::add_weights_for(int n) {
  for (const WdWeights& w : weights_) {
    if (w.n() == n) return;
  }
  weights_.emplace_back(degree_, n);
}

const WdWeights& Kernel::weights_for(int n) const {
  for (const WdWeights& w : weights_) {
    if (w.n() == n) return w;
  }
  return weights_.front();  // not reached: every row's length was added
}

double Kernel::dot_rows(int i, int j) const {
  if (!one_hot_) return dot(x_[i], x_[j]);
  return CountCommonCodes(reinterpret_cast<const unsigned char*>(row_codes_[i].data()),
                          reinterpret_cast<const unsigned char*>(row_codes_[j].data()),
                          static_cast<int>(row_codes_[i].size()));
}

void Kernel::swap_index(int i, int j) {
  std::swap(x_[i], x_[j]);
  if (one_hot_) std::swap(row_codes_[i], row_codes_[j]);
  if (!x_square_.empty()) std::swap(x_square_[i], x_square_[j]);
  if (letters_) {
    char* letters = row_letters_.data();
    std::swap_ranges(letters + static_cast<size_t>(i) * stride_,
                     letters + static_cast<size_t>(i + 1) * stride_,
                     letters + static_cast<size_t>(j) * stride_);
    std::swap(row_length_[i], row_length_[j]);
    if (!self_wds_.empty()) std::swap(self_wds_[i], self_wds_[j]);
  }
}

double Kernel::kernel_string(int i, int j) const {
  const int n = row_length_[i];
  const unsigned char* a = row(i);
  const unsigned char* b = row(j);
  const WdWeights& w = weights_for(n);
  if (kernel_type_ == wd) return WdKernelLetters(a, b, n, w);
  return WdsKernelLetters(a, b, n, degree_, gamma_, w, self_wds_[i], self_wds_[j]);
}

double Kernel::kernel(int i, int j) {
  if (run_ != nullptr) ++run_->kernel_evaluations;
  return value(i, j);
}

double Kernel::value(int i, int j) const {
  switch (kernel_type_) {
    case linear:
      return dot_rows(i, j);
    case polynomial:
      return powi(gamma_ * dot_rows(i, j) + coef0_, degree_);
    case rbf: {
      const double squared = x_square_[i] + x_square_[j] - 2 * dot_rows(i, j);
      if (!rbf_table_.empty()) return rbf_table_[static_cast<size_t>(squared)];
      return std::exp(-gamma_ * squared);
    }
    case sigmoid:
      return std::tanh(gamma_ * dot_rows(i, j) + coef0_);
    case precomputed:
      return x_[i][static_cast<int>(x_[j][0].value)].value;
    case wd:
      if (letters_) return kernel_string(i, j);
      return run_ != nullptr && run_->wd_kernel != nullptr
                 ? run_->wd_kernel(x_[i], x_[j], degree_)
                 : WeightedDegreeKernel(x_[i], x_[j], degree_);
    case wds:
      if (letters_) return kernel_string(i, j);
      return run_ != nullptr && run_->wds_kernel != nullptr
                 ? run_->wds_kernel(x_[i], x_[j], degree_, gamma_)
                 : WeightedDegreeKernelWithShifts(x_[i], x_[j], degree_, gamma_);
    default:
      return 0;
  }
}

double Kernel::k_from_dot(double d, const svm_parameter& param) {
  return powi(param.gamma * d + param.coef0, param.degree);
}

double Kernel::k_function(const svm_node* x, const svm_node* y, const svm_parameter& param) {
  switch (param.kernel_type) {
    case linear:
      return dot(x, y);
    case polynomial:
      return powi(param.gamma * dot(x, y) + param.coef0, param.degree);
    case rbf: {
      double sum = 0;
      while (x->index != -1 && y->index != -1) {
        if (x->index == y->index) {
          const double d = x->value - y->value;
          sum += d * d;
          ++x;
          ++y;
        } else if (x->index > y->index) {
          sum += y->value * y->value;
          ++y;
        } else {
          sum += x->value * x->value;
          ++x;
        }
      }
      while (x->index != -1) {
        sum += x->value * x->value;
        ++x;
      }
      while (y->index != -1) {
        sum += y->value * y->value;
        ++y;
      }
      return std::exp(-param.gamma * sum);
    }
    case sigmoid:
      return std::tanh(param.gamma * dot(x, y) + param.coef0);
    case precomputed:
      return x[static_cast<int>(y->value)].value;
    case wd:
      return WeightedDegreeKernel(x, y, param.degree);
    case wds:
      return WeightedDegreeKernelWithShifts(x, y, param.degree, param.gamma);
    default:
      return 0;
  }
}

double k_function(const svm_node* x, const svm_node* y, const svm_parameter& param) {
  return Kernel::k_function(x, y, param);
}

}  // namespace varnik
