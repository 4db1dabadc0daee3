#include "recognizers/knn.h"

#include <algorithm>
#include <cmath>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "core/numeric.h"
#include "core/parallel.h"
#include "recognizers/knn_kernels.h"
#include "recognizers/knn_search.h"

namespace varnik {

float HammingDistance(const char* a, const char* b, int L) {
  return static_cast<float>(CountMismatches(a, b, L, L)) / static_cast<float>(L);
}

int CountMismatchesPortable(const char* a, const char* b, int L, int limit) {
  int i = 0;
  int mismatches = 0;
#ifdef __SSE2__
  // Equal bytes are counted per lane (a lane gains one per block, so it holds
  // up to 255 blocks) and summed every two blocks to check the limit.
  while (L - i >= 32) {
    const int blocks = std::min((L - i) / 16, 254) & ~1;
    __m128i equal = _mm_setzero_si128();
    int b16 = 0;
    for (; b16 < blocks; b16 += 2) {
      const __m128i e0 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
      const __m128i e1 =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i + 16)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i + 16)));
      equal = _mm_sub_epi8(_mm_sub_epi8(equal, e0), e1);
      i += 32;
      const __m128i sums = _mm_sad_epu8(equal, _mm_setzero_si128());
      const int same = _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
      if (mismatches + (32 * (b16 / 2 + 1) - same) > limit) return limit + 1;
    }
    const __m128i sums = _mm_sad_epu8(equal, _mm_setzero_si128());
    mismatches +=
        16 * blocks - (_mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
  if (L - i >= 16) {
    const __m128i e = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
    mismatches += 16 - __builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(e)));
    i += 16;
  }
#endif
  for (; i < L; ++i) mismatches += a[i] != b[i];
  return mismatches;
}

void BuildkNN(KnnRecognizer& R, const SequenceSet& positives, const SequenceSet& negatives, int L,
              int K) {
  BuildkNN(R, positives.Pointers(), negatives.Pointers(), L, K);
}

void BuildkNN(KnnRecognizer& R, std::vector<const char*> poss, std::vector<const char*> negs, int L,
              int K) {
  R.k = K;
  R.n_pos = static_cast<int>(poss.size());
  R.n_neg = static_cast<int>(negs.size());
  R.pos_length = L;
  R.neg_length = L;
  R.poss = std::move(poss);
  R.negs = std::move(negs);
}

bool UseAvx2Search() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool use =
      HasAvx2Search() && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  return use;
#else
  return false;
#endif
}

int CountMismatches(const char* a, const char* b, int L, int limit) {
  return UseAvx2Search() ? CountMismatchesAvx2(a, b, L, limit)
                         : CountMismatchesPortable(a, b, L, limit);
}

// One step adds the same amount to every Z of a binade (Z is a multiple of
// the binade's spacing, so the rounding sees the same low bits), so the
// steps that stay inside a binade are taken at once: the same number as
// step by step.
float CompleteZ(float Z, int filled, int requested) {
  const double empty = std::exp(-static_cast<double>(2.0f));
  for (long long s = filled; s < requested; ++s) {
    const float next = static_cast<float>(Z + empty);
    if (next == Z) break;
    const double delta = static_cast<double>(next) - static_cast<double>(Z);
    // Two steps alike (a tie rounded to even would alternate) and room for
    // more inside the binade: the whole steps that end at least two steps
    // below its top are taken at once.
    if (Z > 0 && requested - s > 8 &&
        static_cast<double>(static_cast<float>(next + empty)) - static_cast<double>(next) ==
            delta) {
      int e = 0;
      std::frexp(Z, &e);  // Z in [2^(e-1), 2^e)
      const double top = std::ldexp(1.0, e);
      const long long inside = static_cast<long long>((top - static_cast<double>(Z)) / delta) - 2;
      const long long jump = std::min<long long>(inside, requested - s);
      if (jump > 1) {
        Z = static_cast<float>(static_cast<double>(Z) + static_cast<double>(jump) * delta);
        s += jump - 1;  // and the loop's own step
        continue;
      }
    }
    Z = next;
  }
  return Z < 1e-6 ? 1e-6f : Z;
}

namespace {

// Slots for R: at most as many as there are prototypes (the others could
// only stay empty); 0 when there are none.
int PrepareSlots(const KnnRecognizer& R, Neighbours& nb) {
  const size_t prototypes = R.poss.size() + R.negs.size();
  const int k =
      static_cast<int>(std::min<size_t>(static_cast<size_t>(std::max(R.k, 0)), prototypes));
  nb.distance.assign(static_cast<size_t>(k), 2.0f);
  nb.label.assign(static_cast<size_t>(k), -1);
  return k;
}

}  // namespace

void FindNeighbours(const KnnRecognizer& R, const char* window, int L, Neighbours& nb) {
  const int k = PrepareSlots(R, nb);
  if (k == 0) return;
  if (UseAvx2Search()) {
    SearchNeighboursAvx2(R.poss.data(), static_cast<int>(R.poss.size()), R.negs.data(),
                         static_cast<int>(R.negs.size()), window, L, k, nb.distance.data(),
                         nb.label.data());
  } else {
    SearchNeighbours(R.poss.data(), static_cast<int>(R.poss.size()), R.negs.data(),
                     static_cast<int>(R.negs.size()), window, L, k, nb.distance.data(),
                     nb.label.data(), CountMismatchesPortable);
  }
}

void FindNeighboursFromCounts(const KnnRecognizer& R, const int32_t* counts, int L,
                              Neighbours& nb) {
  const int k = PrepareSlots(R, nb);
  if (k == 0) return;
  const int n_pos = static_cast<int>(R.poss.size());
  SearchNeighbours(counts, n_pos, counts + n_pos, static_cast<int>(R.negs.size()), nullptr, L, k,
                   nb.distance.data(), nb.label.data(),
                   [](const char*, int32_t count, int, int) { return count; });
}

float ScoreNeighbours(const Neighbours& nb, int k_requested, bool weight_by_distance) {
  if (k_requested <= 0) return 0.0f;
  const int k = static_cast<int>(nb.distance.size());  // the slots a prototype can reach
  if (!weight_by_distance) {
    int score = 0;
    for (int s = 0; s < k; ++s) score += nb.label[s] == 1 ? 1 : (nb.label[s] == 0 ? -1 : 0);
    return static_cast<float>(score);
  }
  float Z = 0.0f;
  for (int s = 0; s < k; ++s) {
    Z = static_cast<float>(Z + std::exp(-static_cast<double>(nb.distance[s])));
  }
  Z = CompleteZ(Z, k, k_requested);
  float P = 0.0f, N = 0.0f;
  for (int s = 0; s < k; ++s) {
    const double term = std::exp(-static_cast<double>(nb.distance[s])) / Z;
    if (nb.label[s] == 1) {
      P = static_cast<float>(P + term);
    } else if (nb.label[s] == 0) {
      N = static_cast<float>(N + term);
    }
  }
  return P - N;
}

namespace {

// The score of slots that hold ones[c] positive and zeros[c] negative
// prototypes at each count c = 0 .. max_c, kk slots filled of the k asked.
float ScoreOfSlotCounts(const int* ones, const int* zeros, int max_c, int L, int k, int kk,
                        bool weight_by_distance) {
  if (!weight_by_distance) {
    int score = 0;
    for (int c = 0; c <= max_c; ++c) score += ones[c] - zeros[c];
    return static_cast<float>(score);
  }
  const float fl = static_cast<float>(L);
  float Z = 0.0f;
  for (int c = 0; c <= max_c; ++c) {
    const int live = ones[c] + zeros[c];
    if (live == 0) continue;
    const double e = std::exp(-static_cast<double>(static_cast<float>(c) / fl));
    for (int j = 0; j < live; ++j) Z = static_cast<float>(Z + e);
  }
  Z = CompleteZ(Z, kk, k);
  float P = 0.0f, N = 0.0f;
  for (int c = 0; c <= max_c; ++c) {
    if (ones[c] + zeros[c] == 0) continue;
    const double term = std::exp(-static_cast<double>(static_cast<float>(c) / fl)) / Z;
    for (int j = 0; j < ones[c]; ++j) P = static_cast<float>(P + term);
    for (int j = 0; j < zeros[c]; ++j) N = static_cast<float>(N + term);
  }
  return P - N;
}

}  // namespace

float KnnScoreFromCounts(const int32_t* counts, int n_pos, int n_neg, int L, int k,
                         bool weight_by_distance, KnnCountSlots& slots) {
  if (k <= 0) return 0.0f;
  const int n = n_pos + n_neg;
  const int kk = std::min(k, n);
  if (kk == 0 || L <= 0) return 0.0f;
  slots.labels.resize(static_cast<size_t>(L) + 1);
  slots.head.assign(static_cast<size_t>(L) + 1, 0);
  for (auto& q : slots.labels) q.clear();
  int total = 0, max_c = -1;
  for (int i = 0; i < n; ++i) {
    const int c = counts[i];
    const signed char label = i < n_pos ? 1 : 0;
    if (total < kk) {  // an empty slot is left: everything enters
      slots.labels[c].push_back(label);
      ++total;
      max_c = std::max(max_c, c);
    } else if (c < max_c) {  // closer than the farthest slot
      slots.labels[c].push_back(label);
      ++slots.head[max_c];  // the oldest of the farthest drops out
      while (max_c >= 0 && slots.head[max_c] == static_cast<int>(slots.labels[max_c].size()))
        --max_c;
    }
  }
  slots.ones.assign(static_cast<size_t>(L) + 1, 0);
  slots.zeros.assign(static_cast<size_t>(L) + 1, 0);
  for (int c = 0; c <= max_c; ++c) {
    for (int j = slots.head[c]; j < static_cast<int>(slots.labels[c].size()); ++j) {
      (slots.labels[c][j] == 1 ? slots.ones : slots.zeros)[c] += 1;
    }
  }
  return ScoreOfSlotCounts(slots.ones.data(), slots.zeros.data(), max_c, L, k, kk,
                           weight_by_distance);
}

void KnnScoresOfEachK(const int32_t* counts, int n_pos, int n_neg, int L, int first, int last,
                      bool weight_by_distance, KnnCountSlots& slots,
                      const std::function<void(int, float)>& score) {
  const int n = n_pos + n_neg;
  if (n == 0 || L <= 0) {
    for (int k = first; k <= last; ++k) score(k, 0.0f);
    return;
  }
  // Every prototype by count, and how many lie below each count.
  std::vector<int> all_ones(static_cast<size_t>(L) + 1, 0),
      all_zeros(static_cast<size_t>(L) + 1, 0);
  for (int i = 0; i < n; ++i) (i < n_pos ? all_ones : all_zeros)[counts[i]] += 1;
  std::vector<int> below(static_cast<size_t>(L) + 2, 0);  // below[c]: prototypes under c
  for (int c = 0; c <= L; ++c) below[c + 1] = below[c] + all_ones[c] + all_zeros[c];
  // The prototypes at the k-th count D in the order they are visited, each
  // with its rank among those at D or under, and the positives among the
  // first j of them: taken for one D, kept while the next k has the same D.
  int listed = -1;
  std::vector<int> rank, positives_before;
  slots.ones.assign(static_cast<size_t>(L) + 1, 0);
  slots.zeros.assign(static_cast<size_t>(L) + 1, 0);
  for (int k = first; k <= last; ++k) {
    if (k <= 0) {
      score(k, 0.0f);
      continue;
    }
    const int kk = std::min(k, n);
    int D = 0;
    while (below[D + 1] < kk) ++D;
    if (D != listed) {
      listed = D;
      rank.clear();
      positives_before.assign(1, 0);
      int seen = 0;
      for (int i = 0; i < n; ++i) {
        if (counts[i] > D) continue;
        ++seen;
        if (counts[i] == D) {
          rank.push_back(seen);
          positives_before.push_back(positives_before.back() + (i < n_pos ? 1 : 0));
        }
      }
    }
    // Every prototype under D holds a slot; of those at D, the ones that
    // found a free or farther slot on arrival were taken (rank <= kk), and
    // each closer arrival after them pushed out the oldest: the last m of
    // the taken stay.
    const int m = kk - below[D];
    const int taken =
        static_cast<int>(std::upper_bound(rank.begin(), rank.end(), kk) - rank.begin());
    const int pos_at_d = positives_before[taken] - positives_before[taken - m];
    for (int c = 0; c < D; ++c) {
      slots.ones[c] = all_ones[c];
      slots.zeros[c] = all_zeros[c];
    }
    slots.ones[D] = pos_at_d;
    slots.zeros[D] = m - pos_at_d;
    score(k, ScoreOfSlotCounts(slots.ones.data(), slots.zeros.data(), D, L, k, kk,
                               weight_by_distance));
  }
}

int KnnScoresOfEveryPrototype(const int32_t* counts, int n_pos, int n_neg, int L, int first,
                              int last, bool weight_by_distance,
                              const std::function<void(int, float)>& score) {
  const int n = n_pos + n_neg;
  if (n == 0 || L <= 0 || first <= 0) {  // no slot at all: every score is 0
    score(first, 0.0f);
    return first;
  }
  // Every prototype is in its count's bucket.
  std::vector<int> ones(static_cast<size_t>(L) + 1, 0), zeros(static_cast<size_t>(L) + 1, 0);
  for (int i = 0; i < n; ++i) (i < n_pos ? ones : zeros)[counts[i]] += 1;
  if (!weight_by_distance) {
    int total = 0;
    for (int c = 0; c <= L; ++c) total += ones[c] - zeros[c];
    score(first, static_cast<float>(total));
    return first;
  }
  const float fl = static_cast<float>(L);
  std::vector<double> e(static_cast<size_t>(L) + 1);
  for (int c = 0; c <= L; ++c) e[c] = std::exp(-static_cast<double>(static_cast<float>(c) / fl));
  float Z = 0.0f;
  for (int c = 0; c <= L; ++c) {
    for (int j = 0; j < ones[c] + zeros[c]; ++j) Z = static_cast<float>(Z + e[c]);
  }
  // Z with n slots filled; each further k adds one empty slot.
  const double empty = std::exp(-static_cast<double>(2.0f));
  bool saturated = false;
  for (int k = n; k < first && !saturated; ++k) {
    const float next = static_cast<float>(Z + empty);
    saturated = next == Z;
    Z = next;
  }
  for (int k = first;; ++k) {
    const float z = Z < 1e-6 ? 1e-6f : Z;
    float P = 0.0f, N = 0.0f;
    for (int c = 0; c <= L; ++c) {
      if (ones[c] + zeros[c] == 0) continue;
      const double term = e[c] / z;
      for (int j = 0; j < ones[c]; ++j) P = static_cast<float>(P + term);
      for (int j = 0; j < zeros[c]; ++j) N = static_cast<float>(N + term);
    }
    score(k, P - N);
    if (k >= last || saturated) return k;
    const float next = static_cast<float>(Z + empty);
    saturated = next == Z;
    Z = next;
  }
}

float ClassifySequencekNN(const KnnRecognizer& R, const char* window, int L,
                          bool weight_by_distance, Neighbours& nb) {
  if (R.k <= 0) return 0.0f;
  FindNeighbours(R, window, L, nb);
  return ScoreNeighbours(nb, R.k, weight_by_distance);
}

float ClassifySequencekNN(const KnnRecognizer& R, const char* window, int L,
                          bool weight_by_distance) {
  Neighbours nb;
  return ClassifySequencekNN(R, window, L, weight_by_distance, nb);
}

namespace {

struct KnnScratch : ScoreScratch {
  Neighbours nb;                 // reused: no allocation per scored window
  std::vector<float> distances;  // the slots of a block of windows
  std::vector<signed char> labels;
};

}  // namespace

std::unique_ptr<ScoreScratch> KnnRecognizer::NewScratch() const {
  return std::make_unique<KnnScratch>();
}

float KnnRecognizer::Score(const char* window, int L, int, ScoreScratch* scratch) const {
  const bool weighted = settings().KNN_weight_by_distance;
  if (scratch == nullptr) return ClassifySequencekNN(*this, window, L, weighted);
  return ClassifySequencekNN(*this, window, L, weighted, static_cast<KnnScratch*>(scratch)->nb);
}

void KnnRecognizer::ScoreMany(const char* const* windows, int n, int L, int, float* out,
                              ScoreScratch* scratch) const {
  KnnScratch own;
  KnnScratch& s = scratch != nullptr ? *static_cast<KnnScratch*>(scratch) : own;
  const bool weighted = settings().KNN_weight_by_distance;
  if (k <= 0) {
    std::fill(out, out + n, 0.0f);
    return;
  }
  const int slots = PrepareSlots(*this, s.nb);
  for (int first = 0; first < n; first += kManyWindows) {
    const int m = std::min(kManyWindows, n - first);
    if (slots > 0) {
      s.distances.assign(static_cast<size_t>(m) * slots, 2.0f);
      s.labels.assign(static_cast<size_t>(m) * slots, -1);
      if (UseAvx2Search()) {
        SearchNeighboursOfManyAvx2(poss.data(), n_pos, negs.data(), n_neg, windows + first, m, L,
                                   slots, s.distances.data(), s.labels.data());
      } else {
        SearchNeighboursOfMany(poss.data(), n_pos, negs.data(), n_neg, windows + first, m, L, slots,
                               s.distances.data(), s.labels.data(), CountMismatchesPortable);
      }
    }
    for (int w = 0; w < m; ++w) {
      const size_t at = static_cast<size_t>(w) * slots;
      std::copy(s.distances.begin() + at, s.distances.begin() + at + slots, s.nb.distance.begin());
      std::copy(s.labels.begin() + at, s.labels.begin() + at + slots, s.nb.label.begin());
      out[first + w] = ScoreNeighbours(s.nb, k, weighted);
    }
  }
}

void SetkNNThreshold(KnnRecognizer& R, OutputFile& out) {
  R.set_threshold(TrainingThreshold(R.n_pos, R.settings().Sensitivity, WithoutSensitivity::kIndex,
                                    R.settings().threads, 16, [&](int begin, int end, float* out) {
                                      const auto scratch = R.NewScratch();
                                      R.ScoreMany(R.poss.data() + begin, end - begin, R.pos_length,
                                                  0, out + begin, scratch.get());
                                    }));
  out.Printf("k-NN threshold: %lf\n", static_cast<double>(R.threshold()));
}

std::unique_ptr<KnnRecognizer> TrainkNN(const SequenceSet& positives, const SequenceSet& negatives,
                                        int L, const Settings& settings, OutputFile& out) {
  auto R = std::make_unique<KnnRecognizer>(settings);
  BuildkNN(*R, positives, negatives, L, settings.K);
  if (settings.Sensitivity > 0) SetkNNThreshold(*R, out);
  return R;
}

void KnnRecognizer::WritePayload(ModelWriter& w) const {
  w.Line("knn", {ModelWriter::Of(k), ModelWriter::Of(n_pos), ModelWriter::Of(n_neg),
                 ModelWriter::Of(pos_length)});
  for (const char* p : poss) w.Raw(std::string(p, static_cast<size_t>(pos_length)));
  for (const char* n : negs) w.Raw(std::string(n, static_cast<size_t>(neg_length)));
}

std::unique_ptr<Recognizer> ReadKnnPayload(ModelReader& r, const Settings& settings, int L) {
  const std::vector<std::string_view> f =
      r.Expect("knn", 4, "k, the two counts and the window length");
  auto R = std::make_unique<KnnRecognizer>(settings);
  R->k = static_cast<int>(r.Whole(f[0], 0, 1 << 30));
  const long long n_pos = r.Whole(f[1], 0, 1 << 30), n_neg = r.Whole(f[2], 0, 1 << 30);
  const long long length = r.Whole(f[3], 0, 1 << 28);
  if (length != L) {
    r.Fail("the prototypes have " + std::to_string(length) + " letters, the window " +
           std::to_string(L));
  }
  // Each prototype takes its letters and a line end.
  r.RefuseCount(n_pos + n_neg, static_cast<size_t>(length) + 1, "prototypes");
  R->storage.reserve(static_cast<size_t>((n_pos + n_neg) * length));
  for (long long i = 0; i < n_pos + n_neg; ++i) {
    const std::string_view line = r.NextLine();
    if (static_cast<long long>(line.size()) != length) {
      r.Fail("a prototype of " + std::to_string(line.size()) + " letters, not " +
             std::to_string(length));
    }
    R->storage.append(line);
  }
  std::vector<const char*> poss, negs;
  for (long long i = 0; i < n_pos + n_neg; ++i) {
    (i < n_pos ? poss : negs).push_back(R->storage.data() + i * length);
  }
  const int k = R->k;
  BuildkNN(*R, std::move(poss), std::move(negs), L, k);
  return R;
}

}  // namespace varnik
