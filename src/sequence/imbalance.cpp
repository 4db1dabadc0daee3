#include "sequence/imbalance.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "core/error.h"
#include "core/nearest.h"
#include "core/numeric.h"

namespace varnik {

void UndersampleData(SequenceSet& windows, int keep, CRandom& rng, SequenceSet* dropped) {
  const int c = windows.size();
  if (keep > c) {
    Warn("asked to keep " + std::to_string(keep) + " negative windows of " + std::to_string(c) +
         ": every one is kept");
    keep = c;
  }
  keep = std::max(keep, 0);
  std::vector<int> list;
  GetRandomisedVector(list, c, rng);
  std::sort(list.begin(), list.begin() + keep);
  // The chosen indices are distinct and ascending, so list[i] >= i: each swap
  // brings a chosen window forward without disturbing those before it.
  for (int i = 0; i < keep; ++i) windows.Swap(i, list[i]);
  if (dropped != nullptr) {
    *dropped = SequenceSet(0, windows.capacity());
    dropped->Reserve(c - keep);
    for (int i = keep; i < c; ++i) dropped->Append(windows[i]);
  }
  windows.Resize(keep);
}

namespace {

// Character code -> letter index; codes beyond the table count as A.
const std::array<int8_t, 256>& VdmIndexTable() {
  static const std::array<int8_t, 256> table = [] {
    std::array<int8_t, 256> t{};
    const char* letters = "ATUGCRYKMSWBDHVNX";
    for (int i = 0; i < 17; ++i) t[static_cast<unsigned char>(letters[i])] = static_cast<int8_t>(i);
    return t;
  }();
  return table;
}

// The letter indices of n windows, L per window, as one block.
std::vector<uint8_t> LetterIndices(const SequenceSet& set, int n, int L) {
  std::vector<uint8_t> codes(static_cast<size_t>(n) * std::max(L, 0));
  for (int i = 0; i < n; ++i) {
    const char* w = set[i];
    for (int p = 0; p < L; ++p) codes[static_cast<size_t>(i) * L + p] = VdmIndexOf(w[p]);
  }
  return codes;
}

// The k nearest of n windows given by their letter indices (see
// GetkNearestNeighbours). The running sum only grows (every difference is at
// least 0), so a window is left as soon as its partial sum reaches the
// current k-th distance: it could not have entered.
void NearestByIndices(const uint8_t* query, const uint8_t* codes, int n, int L, int k,
                      const float* vdm, std::vector<float>& dist, std::vector<int>& index) {
  dist.assign(static_cast<size_t>(k), 1.0e21f);
  index.assign(static_cast<size_t>(k), -1);
  if (n < 1 || k < 1) return;
  std::vector<const float*> rows(static_cast<size_t>(L));
  for (int p = 0; p < L; ++p) rows[p] = vdm + 17 * query[p];
  float worst = 1.0e21f;
  for (int j = 0; j < n && worst > 0; ++j) {
    const uint8_t* c = codes + static_cast<size_t>(j) * L;
    float d = 0.0f;
    int p = 0;
    for (; p < L && !(d >= worst); ++p) d += rows[p][c[p]];
    if (!(d < worst)) continue;
    EnterNearest(dist.data(), index.data(), k, d, j);
    worst = dist[k - 1];
  }
}

}  // namespace

int VdmIndexOf(char c) { return VdmIndexTable()[static_cast<unsigned char>(c)]; }

VdmMatrix ConstructValueDifferencesMatrix(const SequenceSet& positives,
                                          const SequenceSet& negatives, int L) {
  // Counted whole, then held as single-precision counters that are bumped by
  // one: exact up to 2^24, where such a counter stops growing.
  long long count[2][17] = {};
  for (int cls = 0; cls < 2; ++cls) {
    const SequenceSet& set = cls == 0 ? positives : negatives;
    for (int i = 0; i < set.size(); ++i) {
      const char* w = set[i];
      for (int p = 0; p < L; ++p) ++count[cls][VdmIndexOf(w[p])];
    }
  }
  float pos[17], neg[17];
  for (int x = 0; x < 17; ++x) {
    pos[x] = static_cast<float>(std::min<long long>(count[0][x], 16777216));
    neg[x] = static_cast<float>(std::min<long long>(count[1][x], 16777216));
  }
  VdmMatrix vdm{};
  for (int j = 1; j < 17; ++j) {
    for (int i = 0; i < j; ++i) {
      const float Pj = pos[j] / (pos[j] + neg[j]), Pi = pos[i] / (pos[i] + neg[i]);
      const float Qj = neg[j] / (pos[j] + neg[j]), Qi = neg[i] / (pos[i] + neg[i]);
      vdm[i][j] = vdm[j][i] = std::fabs(Pj - Pi) + std::fabs(Qj - Qi);
    }
  }
  return vdm;
}

float ModifiedVDN(const char* a, const char* b, int L, const VdmMatrix& vdm) {
  float d = 0.0f;
  for (int p = 0; p < L; ++p) d += vdm[VdmIndexOf(a[p])][VdmIndexOf(b[p])];
  return d;
}

std::vector<int> GetkNearestNeighbours(const char* query, const SequenceSet& set, int n, int L,
                                       int k, const VdmMatrix& vdm) {
  const std::vector<uint8_t> codes = LetterIndices(set, n, L);
  std::vector<uint8_t> q(static_cast<size_t>(std::max(L, 0)));
  for (int p = 0; p < L; ++p) q[p] = static_cast<uint8_t>(VdmIndexOf(query[p]));
  std::vector<float> dist;
  std::vector<int> index;
  NearestByIndices(q.data(), codes.data(), n, L, k, vdm[0].data(), dist, index);
  return index;
}

void RandomizeVector(std::vector<int>& v, CRandom& rng) {
  const int m = static_cast<int>(v.size());
  for (int t = 0; t < m; ++t) {
    const int a = rng.UniformIndex(m);
    const int b = rng.UniformIndex(m);
    std::swap(v[a], v[b]);
  }
}

void SMOTEOverSampling(SequenceSet& positives, int k, int L, const VdmMatrix& vdm, float N,
                       CRandom& rng) {
  const int n = positives.size();
  if (n == 0) return;
  if (k >= n) {
    Warn("SMOTE_k (" + std::to_string(k) + ") is not below the number of positive windows (" +
         std::to_string(n) + "): " + std::to_string(n - 1) + " neighbours are used");
    k = n - 1;
  }
  k = std::max(k, 0);
  std::vector<int> list(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) list[i] = i;
  int seeds = n;
  float amount = 1.0f;
  if (N < 100) {
    RandomizeVector(list, rng);
    // n N / 100 in single precision, truncated; a negative share makes none.
    seeds = std::clamp(static_cast<int>(std::max(static_cast<float>(n) * N / 100, 0.0f)), 0, n);
  } else {
    amount = static_cast<float>(static_cast<int>(std::min(N, 2.0e9f))) / 100;
  }
  const int per_seed = static_cast<int>(amount);
  positives.Reserve(n + seeds * per_seed);
  // Only the windows present before are neighbours: their letter indices
  // are taken once.
  const std::vector<uint8_t> codes = LetterIndices(positives, n, L);
  std::vector<float> dist;
  std::vector<int> slots;
  std::string synthetic(static_cast<size_t>(std::max(L, 0)), 'A');
  for (int s = 0; s < seeds; ++s) {
    const int i = list[s];
    NearestByIndices(codes.data() + static_cast<size_t>(i) * L, codes.data(), n, L, k + 1,
                     vdm[0].data(), dist, slots);
    // The seed itself, normally among them at distance 0, gives its slot to
    // the last one.
    for (int t = 0; t <= k; ++t) {
      if (slots[t] == i) {
        slots[t] = slots[k];
        break;
      }
    }
    for (int made = 0; made < per_seed; ++made) {
      for (int p = 0; p < L; ++p) {
        if (rng.UniformNumber() < 0.5) {
          synthetic[p] = positives[i][p];
        } else {
          const int slot = static_cast<int>(rng.UniformNumber() * k);
          synthetic[p] = positives[slots[slot]][p];
        }
      }
      positives.Append(synthetic);
    }
  }
}

}  // namespace varnik
