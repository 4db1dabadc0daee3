#include "sequence/imbalance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "core/numeric.h"

namespace varnik {
namespace {

SequenceSet Set(const std::vector<std::string>& windows, int L) {
  SequenceSet set(0, L);
  for (const std::string& w : windows) set.Append(w);
  return set;
}

std::vector<std::string> Strings(const SequenceSet& set) {
  std::vector<std::string> v;
  for (int i = 0; i < set.size(); ++i) v.emplace_back(set[i]);
  return v;
}

std::vector<std::string> RandomWindows(CRandom& rng, int n, int L, const char* letters) {
  std::vector<std::string> v;
  const int m = static_cast<int>(std::char_traits<char>::length(letters));
  for (int i = 0; i < n; ++i) {
    std::string w(static_cast<size_t>(L), 'A');
    for (char& c : w) c = letters[rng.UniformIndex(m)];
    v.push_back(w);
  }
  return v;
}

// SMOTE written plainly: full distance sums, a plain slot search.
std::vector<std::string> PlainSmote(std::vector<std::string> pos, int k, int L,
                                    const VdmMatrix& vdm, float N, CRandom& rng) {
  const int n = static_cast<int>(pos.size());
  std::vector<int> list(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) list[i] = i;
  int seeds = n;
  float a = 1.0f;
  if (N < 100) {
    for (int t = 0; t < n; ++t) {
      const int x = rng.UniformIndex(n);
      const int y = rng.UniformIndex(n);
      std::swap(list[x], list[y]);
    }
    seeds = static_cast<int>(static_cast<float>(n) * N / 100);
  } else {
    a = static_cast<float>(static_cast<int>(N)) / 100;
  }
  for (int s = 0; s < seeds; ++s) {
    const int i = list[s];
    std::vector<float> dist(static_cast<size_t>(k) + 1, 1.0e21f);
    std::vector<int> slot(static_cast<size_t>(k) + 1, -1);
    for (int j = 0; j < n && dist[k] > 0; ++j) {
      const float d = ModifiedVDN(pos[i].c_str(), pos[j].c_str(), L, vdm);
      if (!(d < dist[k])) continue;
      int at = 0;
      while (dist[at] < d) ++at;
      for (int t = k; t > at; --t) {
        dist[t] = dist[t - 1];
        slot[t] = slot[t - 1];
      }
      dist[at] = d;
      slot[at] = j;
    }
    for (int t = 0; t <= k; ++t) {
      if (slot[t] == i) {
        slot[t] = slot[k];
        break;
      }
    }
    for (int made = 0; made < static_cast<int>(a); ++made) {
      std::string w(static_cast<size_t>(L), ' ');
      for (int p = 0; p < L; ++p) {
        w[p] = rng.UniformNumber() < 0.5 ? pos[i][p]
                                         : pos[slot[static_cast<int>(rng.UniformNumber() * k)]][p];
      }
      pos.push_back(w);
    }
  }
  return pos;
}

TEST(SmoteTest, GrowthCountsAndTheSameWindowsAsThePlainVersion) {
  CRandom data(3);
  const std::vector<std::string> pos10 = RandomWindows(data, 10, 12, "ACGT");
  const std::vector<std::string> neg = RandomWindows(data, 40, 12, "ACGTTTN");
  struct Case {
    float N;
    int size;
  } cases[] = {{100, 20}, {300, 40}, {150, 20}, {50, 15}, {199, 20}, {0, 10}};
  for (const Case& c : cases) {
    SequenceSet pos = Set(pos10, 12);
    const VdmMatrix vdm = ConstructValueDifferencesMatrix(pos, Set(neg, 12), 12);
    CRandom rng(17), plain_rng(17);
    SMOTEOverSampling(pos, 3, 12, vdm, c.N, rng);
    EXPECT_EQ(pos.size(), c.size) << c.N;
    EXPECT_EQ(Strings(pos), PlainSmote(pos10, 3, 12, vdm, c.N, plain_rng)) << c.N;
    EXPECT_EQ(rng.Next(), plain_rng.Next());
  }
  // Larger sets over an alphabet with ties: still the same windows.
  const std::vector<std::string> many = RandomWindows(data, 120, 30, "ACGTN");
  SequenceSet pos = Set(many, 30);
  const VdmMatrix vdm =
      ConstructValueDifferencesMatrix(pos, Set(RandomWindows(data, 200, 30, "AACGTTN"), 30), 30);
  CRandom rng(5), plain_rng(5);
  SMOTEOverSampling(pos, 5, 30, vdm, 250, rng);
  EXPECT_EQ(Strings(pos), PlainSmote(many, 5, 30, vdm, 250, plain_rng));
}

TEST(SmoteTest, SyntheticLettersComeFromTheSeedAndItsNeighbours) {
  CRandom data(8);
  const std::vector<std::string> pos_windows = RandomWindows(data, 25, 15, "ACGT");
  SequenceSet pos = Set(pos_windows, 15);
  const VdmMatrix vdm =
      ConstructValueDifferencesMatrix(pos, Set(RandomWindows(data, 60, 15, "ACGTTG"), 15), 15);
  CRandom rng(2);
  SMOTEOverSampling(pos, 4, 15, vdm, 100, rng);
  ASSERT_EQ(pos.size(), 50);
  for (int s = 0; s < 25; ++s) {
    std::vector<int> near = GetkNearestNeighbours(pos[s], pos, 25, 15, 5, vdm);
    near.push_back(s);
    for (int p = 0; p < 15; ++p) {
      bool found = false;
      for (int j : near) found |= pos[25 + s][p] == pos_windows[j][p];
      EXPECT_TRUE(found) << s << " " << p;
    }
  }
  // Identical positives: every distance is 0 and every synthetic window is a copy.
  SequenceSet same = Set(std::vector<std::string>(6, "ACGTTGCA"), 8);
  SMOTEOverSampling(same, 2, 8, vdm, 200, rng);
  EXPECT_EQ(Strings(same), std::vector<std::string>(18, "ACGTTGCA"));
  // A k not below the number of positives uses every other window.
  SequenceSet few = Set({"AAAA", "CCCC", "GGGG"}, 4);
  ::testing::internal::CaptureStderr();
  SMOTEOverSampling(few, 5, 4, vdm, 100, rng);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("2 neighbours are used"),
            std::string::npos);
  EXPECT_EQ(few.size(), 6);
}

TEST(SmoteTest, ValueDifferencesAndNeighbourOrder) {
  // A only in positives, C only in negatives, G half and half.
  const SequenceSet pos = Set({"AG", "AG"}, 2), neg = Set({"CG", "CG"}, 2);
  const VdmMatrix vdm = ConstructValueDifferencesMatrix(pos, neg, 2);
  const int A = VdmIndexOf('A'), C = VdmIndexOf('C'), G = VdmIndexOf('G');
  EXPECT_EQ(vdm[A][C], 2.0f);
  EXPECT_EQ(vdm[A][G], 1.0f);
  EXPECT_EQ(vdm[G][C], vdm[C][G]);
  EXPECT_EQ(vdm[A][A], 0.0f);
  EXPECT_EQ(VdmIndexOf('-'), A);  // every other letter counts as A
  EXPECT_EQ(ModifiedVDN("AG", "CG", 2, vdm), 2.0f);
  // Equal distances: a later window goes in front of earlier ones; unfilled
  // slots -1.
  const SequenceSet set = Set({"CG", "GG", "AG", "GG"}, 2);
  EXPECT_EQ(GetkNearestNeighbours("AG", set, 4, 2, 3, vdm), (std::vector<int>{2, 3, 1}));
  EXPECT_EQ(GetkNearestNeighbours("AG", set, 1, 2, 3, vdm), (std::vector<int>{0, -1, -1}));
}

TEST(UndersampleDataTest, KeepsTheChosenInOrderAndSetsTheRestAside) {
  std::vector<std::string> windows;
  for (int i = 0; i < 30; ++i) windows.push_back(std::to_string(100 + i));
  SequenceSet set = Set(windows, 3), rest;
  CRandom rng(9), draws(9);
  UndersampleData(set, 12, rng, &rest);
  std::vector<int> list;
  GetRandomisedVector(list, 30, draws);
  std::sort(list.begin(), list.begin() + 12);
  std::vector<std::string> kept;
  for (int i = 0; i < 12; ++i) kept.push_back(windows[list[i]]);
  EXPECT_EQ(Strings(set), kept);
  EXPECT_EQ(rest.size(), 18);
  std::vector<std::string> all = Strings(set), aside = Strings(rest);
  all.insert(all.end(), aside.begin(), aside.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, windows);  // nothing lost, nothing doubled
  // Asked for more than it holds: every window stays where it was.
  SequenceSet small = Set({"AAA", "CCC"}, 3);
  ::testing::internal::CaptureStderr();
  UndersampleData(small, 5, rng, nullptr);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("every one is kept"), std::string::npos);
  EXPECT_EQ(Strings(small), (std::vector<std::string>{"AAA", "CCC"}));
  UndersampleData(small, 0, rng, nullptr);
  EXPECT_EQ(small.size(), 0);
}

}  // namespace
}  // namespace varnik
