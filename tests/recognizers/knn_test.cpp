#include "recognizers/knn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "core/random.h"
#include "recognizers/knn_kernels.h"
#include "recognizers/reference_knn.h"
#include "test_util.h"

namespace varnik {
namespace {

SequenceSet Set(const std::vector<std::string>& windows, int L) {
  SequenceSet set(0, L);
  for (const std::string& w : windows) set.Append(w);
  return set;
}

std::string RandomWindow(CRandom& rng, int L, const char* alphabet = "ACGT", int letters = 4) {
  std::string w(static_cast<size_t>(L), 'A');
  for (char& c : w) c = alphabet[rng.UniformIndex(letters)];
  return w;
}

TEST(HammingTest, DistanceAndMismatchCountWithLimit) {
  EXPECT_EQ(HammingDistance("ACGT", "ACGT", 4), 0.0f);
  EXPECT_EQ(HammingDistance("ACGT", "TGCA", 4), 1.0f);
  EXPECT_EQ(HammingDistance("ACGTAC", "ACGTTT", 6), 2.0f / 6.0f);
  // Against a plain count, for lengths around the block sizes and any limit:
  // the count is exact when it is within the limit, above the limit otherwise.
  CRandom rng(3);
  for (int L = 1; L <= 600; L += (L < 80 ? 1 : 37)) {
    for (int trial = 0; trial < 6; ++trial) {
      const std::string a = RandomWindow(rng, L, "ACGT", trial % 2 == 0 ? 4 : 2);
      const std::string b = RandomWindow(rng, L, "ACGT", trial % 2 == 0 ? 4 : 2);
      int plain = 0;
      for (int i = 0; i < L; ++i) plain += a[i] != b[i];
      ASSERT_EQ(CountMismatches(a.c_str(), b.c_str(), L, L), plain) << L;
      // Every build of the count the processor can run.
      std::vector<int (*)(const char*, const char*, int, int)> counts = {CountMismatchesPortable};
      if (UseAvx2Search()) counts.push_back(CountMismatchesAvx2);
      for (auto count : counts) {
        for (int limit : {-1, 0, plain - 1, plain, plain + 1, L / 3}) {
          const int got = count(a.c_str(), b.c_str(), L, limit);
          if (plain <= limit) {
            ASSERT_EQ(got, plain) << L << " " << limit;
          } else {
            ASSERT_GT(got, limit) << L << " " << limit;
          }
        }
      }
    }
  }
}

// A recogniser over the given prototypes (windows of length 4).
std::unique_ptr<KnnRecognizer> Knn(const SequenceSet& pos, const SequenceSet& neg, int k) {
  auto R = std::make_unique<KnnRecognizer>(Settings());
  BuildkNN(*R, pos, neg, 4, k);
  return R;
}

TEST(KnnSlotsTest, EarlierPrototypesWinTiesAndNewcomersGoInFront) {
  // Query AAAA. Distances: P1 0.5, N1 0.5, N2 0.25, P2 0.25 (in visiting
  // order: positives first, so P1, P2, N1, N2).
  const SequenceSet pos = Set({"AACC", "AAAC"}, 4);  // P1 0.5, P2 0.25
  const SequenceSet neg = Set({"CCAA", "CAAA"}, 4);  // N1 0.5, N2 0.25
  Neighbours nb;
  auto R = Knn(pos, neg, 3);
  FindNeighbours(*R, "AAAA", 4, nb);
  // After P1, P2: [P2 .25, P1 .5, -]; N1 at .5 goes in front of P1:
  // [P2, N1, P1]; N2 at .25 goes in front of P2 and P1 drops out.
  EXPECT_EQ(nb.distance, (std::vector<float>{0.25f, 0.25f, 0.5f}));
  EXPECT_EQ(nb.label, (std::vector<signed char>{0, 1, 0}));

  // One slot, two prototypes at the same distance: the one visited first keeps it.
  // (The sets hold the prototypes and must outlive the recogniser.)
  const SequenceSet p1 = Set({"AACC"}, 4), n1 = Set({"CCAA"}, 4), none = Set({}, 4);
  R = Knn(p1, n1, 1);
  FindNeighbours(*R, "AAAA", 4, nb);
  EXPECT_EQ(nb.label, (std::vector<signed char>{1}));
  const SequenceSet n2 = Set({"CCAA", "AACC"}, 4);
  R = Knn(none, n2, 1);
  FindNeighbours(*R, "AAAA", 4, nb);
  EXPECT_EQ(nb.label, (std::vector<signed char>{0}));
  EXPECT_EQ(nb.distance, (std::vector<float>{0.5f}));

  // Fewer prototypes than slots: only as many slots are kept.
  const SequenceSet p3 = Set({"AAAT"}, 4);
  R = Knn(p3, none, 3);
  FindNeighbours(*R, "AAAA", 4, nb);
  EXPECT_EQ(nb.distance, (std::vector<float>{0.25f}));
  EXPECT_EQ(nb.label, (std::vector<signed char>{1}));
}

TEST(KnnScoreTest, UnweightedAndWeightedScores) {
  const SequenceSet pos = Set({"AAAT", "AATT"}, 4);  // 0.25, 0.5 from AAAA
  const SequenceSet neg = Set({"ATTT", "TTTT"}, 4);  // 0.75, 1.0
  auto R = Knn(pos, neg, 3);
  EXPECT_EQ(ClassifySequencekNN(*R, "AAAA", 4, false), 1.0f);  // labels 1, 1, 0

  // exp in double, running sums in single precision.
  const double e1 = std::exp(-0.25), e2 = std::exp(-0.5), e3 = std::exp(-0.75);
  float Z = 0.0f;
  Z = static_cast<float>(Z + e1);
  Z = static_cast<float>(Z + e2);
  Z = static_cast<float>(Z + e3);
  float P = 0.0f;
  P = static_cast<float>(P + e1 / Z);
  P = static_cast<float>(P + e2 / Z);
  const float N = static_cast<float>(0.0f + e3 / Z);
  EXPECT_EQ(ClassifySequencekNN(*R, "AAAA", 4, true), P - N);
  EXPECT_NEAR(P - N, (e1 + e2 - e3) / (e1 + e2 + e3), 1e-6);

  // All neighbours positive at distance 1: 1; an even split at one distance: 0.
  const SequenceSet far = Set({"TTTT", "TTTT", "GGGG"}, 4), none = Set({}, 4);
  R = Knn(far, none, 3);
  EXPECT_FLOAT_EQ(ClassifySequencekNN(*R, "AAAA", 4, true), 1.0f);
  const SequenceSet half_p = Set({"AATT"}, 4), half_n = Set({"TTAA"}, 4);
  R = Knn(half_p, half_n, 2);
  EXPECT_EQ(ClassifySequencekNN(*R, "AAAA", 4, true), 0.0f);

  // Empty slots count for neither class but weigh in Z.
  const SequenceSet same = Set({"AAAA"}, 4);
  R = Knn(same, none, 3);
  EXPECT_EQ(ClassifySequencekNN(*R, "AAAA", 4, false), 1.0f);
  float z = 0.0f;
  z = static_cast<float>(z + 1.0);
  z = static_cast<float>(z + std::exp(-2.0));
  z = static_cast<float>(z + std::exp(-2.0));
  EXPECT_EQ(ClassifySequencekNN(*R, "AAAA", 4, true), static_cast<float>(0.0f + 1.0 / z));

  // A huge k: the empty slots' weight saturates Z in single precision.
  R->k = 1000000000;
  EXPECT_EQ(ClassifySequencekNN(*R, "AAAA", 4, false), 1.0f);
  const float tiny = ClassifySequencekNN(*R, "AAAA", 4, true);
  EXPECT_GT(tiny, 0.0f);
  EXPECT_LT(tiny, 1e-5f);
  R->k = 0;
  EXPECT_EQ(ClassifySequencekNN(*R, "AAAA", 4, true), 0.0f);
  R->k = -2;
  EXPECT_EQ(ClassifySequencekNN(*R, "AAAA", 4, false), 0.0f);
}

// One window at a time and blocks of windows (over several chunks of
// prototypes when there are many) against a straightforward search.
TEST(KnnScoreTest, SameScoresAsAStraightforwardSearch) {
  CRandom rng(11);
  for (int L : {7, 40, 100, 133}) {
    std::vector<std::string> pos, neg;
    for (int i = 0; i < 60; ++i) pos.push_back(RandomWindow(rng, L, "ACGT", 2));
    for (int i = 0; i < (L == 133 ? 2100 : 150); ++i)
      neg.push_back(RandomWindow(rng, L, "ACGT", 2));
    const SequenceSet ps = Set(pos, L), ns = Set(neg, L);
    for (bool weighted : {false, true}) {
      Settings s;
      s.KNN_weight_by_distance = weighted;
      KnnRecognizer R{s};
      for (int k : {0, 1, 3, 8, 3000}) {
        BuildkNN(R, ps, ns, L, k);
        std::vector<std::string> queries;
        std::vector<const char*> q;
        for (int i = 0; i < 37; ++i) queries.push_back(RandomWindow(rng, L, "ACGT", 2));
        for (const std::string& w : queries) q.push_back(w.c_str());
        std::vector<float> many(q.size());
        const auto scratch = R.NewScratch();
        R.ScoreMany(q.data(), static_cast<int>(q.size()), L, 0, many.data(), scratch.get());
        for (size_t i = 0; i < q.size(); ++i) {
          const float expected =
              k <= 0 ? 0.0f : testing::ReferenceKnnScore(pos, neg, queries[i], k, weighted);
          ASSERT_EQ(ClassifySequencekNN(R, q[i], L, weighted), expected) << L << " " << k;
          ASSERT_EQ(many[i], expected) << L << " " << k << " " << weighted << " " << i;
        }
      }
    }
  }
}

TEST(KnnScoreTest, ScoresFromCountsEqualTheSlotSearch) {
  // Short windows over two letters: many ties at every distance.
  CRandom rng(17);
  for (int L : {3, 6, 11}) {
    std::vector<std::string> pos, neg;
    for (int i = 0; i < 9; ++i) pos.push_back(RandomWindow(rng, L, "ACGT", 2));
    for (int i = 0; i < 14; ++i) neg.push_back(RandomWindow(rng, L, "ACGT", 2));
    const SequenceSet ps = Set(pos, L), ns = Set(neg, L);
    KnnCountSlots slots;
    for (int q = 0; q < 12; ++q) {
      const std::string w = RandomWindow(rng, L, "ACGT", 2);
      std::vector<int32_t> counts;
      for (const auto* set : {&pos, &neg}) {
        for (const std::string& p : *set)
          counts.push_back(CountMismatches(w.c_str(), p.c_str(), L, L));
      }
      for (int k = 0; k <= 30; ++k) {
        KnnRecognizer R{Settings()};
        BuildkNN(R, ps, ns, L, k);
        for (bool weighted : {false, true}) {
          const float direct = ClassifySequencekNN(R, w.c_str(), L, weighted);
          ASSERT_EQ(KnnScoreFromCounts(counts.data(), 9, 14, L, k, weighted, slots), direct)
              << L << " " << k << " " << weighted;
          Neighbours nb;
          FindNeighboursFromCounts(R, counts.data(), L, nb);
          ASSERT_EQ(ScoreNeighbours(nb, k, weighted), direct);
        }
      }
      // Every k at once gives the same scores.
      for (bool weighted : {false, true}) {
        int next = 0;
        KnnScoresOfEachK(counts.data(), 9, 14, L, 0, 30, weighted, slots, [&](int k, float v) {
          ASSERT_EQ(k, next++);
          KnnCountSlots own;
          ASSERT_EQ(v, KnnScoreFromCounts(counts.data(), 9, 14, L, k, weighted, own))
              << L << " " << k << " " << weighted;
        });
        EXPECT_EQ(next, 31);
      }
    }
  }
  // Many ties (counts from a small range), no positives or no negatives.
  CRandom ties(8);
  for (const std::pair<int, int> classes :
       {std::pair{40, 60}, std::pair{0, 50}, std::pair{50, 0}}) {
    const int n_pos = classes.first, n_neg = classes.second;
    std::vector<int32_t> counts(static_cast<size_t>(n_pos + n_neg));
    for (int32_t& c : counts) c = ties.UniformIndex(4);
    for (bool weighted : {false, true}) {
      KnnCountSlots slots, own;
      KnnScoresOfEachK(
          counts.data(), n_pos, n_neg, 6, 1, n_pos + n_neg + 3, weighted, slots,
          [&](int k, float v) {
            ASSERT_EQ(v, KnnScoreFromCounts(counts.data(), n_pos, n_neg, 6, k, weighted, own)) << k;
          });
    }
  }
}

TEST(KnnScoreTest, ScoresWithEveryPrototypeInASlotSettle) {
  CRandom rng(23);
  for (int L : {4, 9}) {
    std::vector<int32_t> counts;
    for (int i = 0; i < 6; ++i) counts.push_back(rng.UniformIndex(L + 1));
    KnnCountSlots slots;
    for (bool weighted : {false, true}) {
      // Every k from the number of prototypes on, against the slot search.
      std::vector<std::pair<int, float>> got;
      const int settled =
          KnnScoresOfEveryPrototype(counts.data(), 2, 4, L, 6, 60, weighted, [&](int k, float v) {
            got.push_back({k, v});
          });
      EXPECT_EQ(settled, weighted ? 60 : 6);
      for (const auto& [k, v] : got) {
        ASSERT_EQ(v, KnnScoreFromCounts(counts.data(), 2, 4, L, k, weighted, slots)) << k;
      }
      EXPECT_EQ(got.back().first, settled);
    }
    // Weighted: Z stops growing in single precision; every later k scores the same.
    float last = 0;
    const int settled = KnnScoresOfEveryPrototype(counts.data(), 2, 4, L, 20000000, 2000000000,
                                                  true, [&](int, float v) { last = v; });
    EXPECT_GT(settled, 20000000);
    EXPECT_LT(settled, 2000000000);
    for (int k : {settled, settled + 1, settled + 5000}) {
      EXPECT_EQ(KnnScoreFromCounts(counts.data(), 2, 4, L, k, true, slots), last) << k;
    }
  }
}

// The empty slots of a k far beyond the prototypes are added a binade at a
// time: the same Z as adding exp(-2) once per slot.
TEST(KnnScoreTest, EmptySlotsAddUpAsOneByOne) {
  auto one_by_one = [](float Z, int filled, int requested) {
    const double empty = std::exp(-static_cast<double>(2.0f));
    for (long long s = filled; s < requested; ++s) {
      const float next = static_cast<float>(Z + empty);
      if (next == Z) break;
      Z = next;
    }
    return Z < 1e-6 ? 1e-6f : Z;
  };
  CRandom rng(8);
  int cases = 0;
  for (int requested : {0, 1, 3, 9, 10, 100, 4097, 100000, 3000000, 2000000000}) {
    for (int filled : {0, 1, 3, 7}) {
      for (int t = 0; t < (requested > 100000 ? 2 : 25); ++t) {
        const float Z = t == 0 ? 0.0f : static_cast<float>(std::exp(rng.UniformNumber() * 14 - 4));
        EXPECT_EQ(CompleteZ(Z, filled, requested), one_by_one(Z, filled, requested))
            << Z << " " << filled << " " << requested;
        ++cases;
      }
    }
  }
  EXPECT_GT(cases, 500);
}

TEST(KnnThresholdTest, IndexOfTheDesiredSensitivity) {
  CRandom rng(5);
  for (int n_pos : {10, 100}) {
    std::vector<std::string> pos, neg;
    for (int i = 0; i < n_pos; ++i) pos.push_back(RandomWindow(rng, 6, "ACGT", 2));
    for (int i = 0; i < 3 * n_pos; ++i) neg.push_back(RandomWindow(rng, 6, "ACGT", 2));
    const SequenceSet ps = Set(pos, 6), ns = Set(neg, 6);
    Settings s;
    s.KNN_weight_by_distance = false;
    KnnRecognizer R(s);
    BuildkNN(R, ps, ns, 6, 5);
    testing::TempDir dir;
    OutputFile out;
    ASSERT_TRUE(out.Open(dir / "r"));
    SetkNNThreshold(R, out);
    out.Close();
    std::vector<float> scores;
    for (const std::string& p : pos) scores.push_back(ClassifySequencekNN(R, p.c_str(), 6, false));
    std::sort(scores.begin(), scores.end());
    const int index = n_pos == 10 ? 1 : 19;  // 0.8 in single precision
    EXPECT_EQ(R.threshold(), scores[index]);
    char line[64];
    std::snprintf(line, sizeof line, "k-NN threshold: %lf\n", static_cast<double>(scores[index]));
    EXPECT_EQ(testing::ReadFile(dir / "r"), line);
    // A sensitivity of 0 sets no threshold: it stays 0, without a line.
    s.Sensitivity = 0;
    OutputFile none;
    ASSERT_TRUE(none.Open(dir / "none"));
    const auto Z = TrainkNN(ps, ns, 6, s, none);
    none.Close();
    EXPECT_EQ(Z->threshold(), 0.0f);
    EXPECT_EQ(testing::ReadFile(dir / "none"), "");
  }
}

}  // namespace
}  // namespace varnik
