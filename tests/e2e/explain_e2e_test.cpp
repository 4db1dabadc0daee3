// varnik explain on models trained on windows with a motif planted at known
// positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "e2e/site_windows.h"

namespace varnik::testing {
namespace {

constexpr int kLength = 30, kMotifAt = 12;  // the motif's first letter, from 0
const std::string kMotif = "TACGAT";

// Positives hold the motif at kMotifAt (each letter kept with probability
// 0.9), negatives are random; the letter counts of the positives by position.
void WriteMotifWindows(const TempDir& dir, std::vector<std::array<int, 4>>& counts, int& n_pos) {
  CRandom rng(7);
  std::string pos, neg;
  counts.assign(kLength, {0, 0, 0, 0});
  n_pos = 300;
  for (int i = 0; i < 600; ++i) {
    std::string w = RandomDna(rng, kLength);
    if (i < n_pos) {
      for (size_t k = 0; k < kMotif.size(); ++k) {
        if (rng.UniformNumber() < 0.9) w[kMotifAt + k] = kMotif[k];
      }
      for (int p = 0; p < kLength; ++p) ++counts[p][std::string("ACGT").find(w[p])];
    }
    (i < n_pos ? pos : neg) += ">w" + std::to_string(i) + "\n" + w + "\n";
  }
  WriteFile(dir / "tr_pos", pos);
  WriteFile(dir / "tr_neg", neg);
}

// The positions (from 1) of the table's first section, in its order.
std::vector<int> RankedPositions(const std::string& table) {
  std::vector<int> out;
  const std::vector<std::string> lines = Lines(table);
  for (size_t i = 1; i < lines.size() && lines[i].rfind("start\t", 0) != 0; ++i) {
    out.push_back(std::stoi(lines[i]));
  }
  return out;
}

TEST(ExplainE2eTest, TheMotifsPositionsComeFirstForEveryMethodThatHasAView) {
  TempDir dir;
  std::vector<std::array<int, 4>> counts;
  int n_pos = 0;
  WriteMotifWindows(dir, counts, n_pos);
  const std::set<int> motif = {13, 14, 15, 16, 17, 18};
  const std::vector<std::pair<std::string, std::string>> methods = {
      {"pwm", "Recognition_method: PWM\n"},
      {"wd", "Recognition_method: SVM\nKernel: 5\nDegree (WD): 3\nCross-validate parameters: F\n"},
      {"linear", "Recognition_method: SVM\nKernel: 0\nCross-validate parameters: F\n"},
  };
  for (const auto& [name, params] : methods) {
    WriteFile(dir / (name + ".params"), "Seed: 1\n" + params);
    ASSERT_EQ(
        RunVarnikIn(dir.path(), "--model " + name + ".model tr_ NIL " + name + ".params r").status,
        1)
        << name;
    const CommandResult r =
        RunVarnikSplit(dir.path(), "explain " + name + ".model " + name + ".tsv");
    ASSERT_EQ(r.status, 0) << name << r.err;
    EXPECT_EQ(r.out, "") << name;
    const std::string table = ReadFile(dir / (name + ".tsv"));
    const std::vector<int> ranked = RankedPositions(table);
    ASSERT_EQ(ranked.size(), static_cast<size_t>(kLength)) << name;
    EXPECT_EQ(std::set<int>(ranked.begin(), ranked.begin() + 6), motif) << name << "\n" << table;
    const std::string svg = ReadFile(dir / (name + ".tsv.svg"));
    EXPECT_EQ(svg.rfind("<svg", 0), 0u) << name;
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n") << name;
    // Without an output the table alone goes to standard output.
    EXPECT_EQ(RunVarnikSplit(dir.path(), "explain " + name + ".model").out, table) << name;
  }
  // The PWM's shares are the positives' letter counts with one added to each.
  for (const std::string& line : Lines(ReadFile(dir / "pwm.tsv"))) {
    int position;
    double info, share[4];
    if (std::sscanf(line.c_str(), "%d %lf %lf %lf %lf %lf", &position, &info, &share[0], &share[1],
                    &share[2], &share[3]) != 6)
      continue;
    double entropy = 0;
    for (int c = 0; c < 4; ++c) {
      EXPECT_NEAR(share[c], (counts[position - 1][c] + 1.0) / (n_pos + 4), 2e-5) << line;
      entropy -= share[c] * std::log2(share[c]);
    }
    EXPECT_NEAR(info, 2 - entropy, 2e-5) << line;
  }
  // The wd table's k-mers: the strongest lie inside the motif and speak for
  // a site.
  const std::vector<std::string> wd = Lines(ReadFile(dir / "wd.tsv"));
  const auto kmers = std::find(wd.begin(), wd.end(), "start\tend\tkmer\tweight");
  ASSERT_NE(kmers, wd.end());
  int start, end;
  char kmer[64];
  double weight;
  ASSERT_EQ(std::sscanf(kmers[1].c_str(), "%d %d %63s %lf", &start, &end, kmer, &weight), 4);
  EXPECT_TRUE(motif.count(start) && motif.count(end)) << kmers[1];
  EXPECT_EQ(kMotif.substr(start - 13, end - start + 1), kmer);
  EXPECT_GT(weight, 0);
}

TEST(ExplainE2eTest, ModelsWithoutAViewAndBadArgumentsAreRefused) {
  TempDir dir;
  std::vector<std::array<int, 4>> counts;
  int n_pos = 0;
  WriteMotifWindows(dir, counts, n_pos);
  WriteFile(dir / "knn.params", "Seed: 1\nRecognition_method: kNN\nCross-validate parameters: F\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "--model knn.model tr_ NIL knn.params r").status, 1);
  CommandResult r = RunVarnikSplit(dir.path(), "explain knn.model out.tsv");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("explain: kNN models have no view per position"), std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "out.tsv"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out.tsv.svg"));
  r = RunVarnikSplit(dir.path(), "explain tr_pos");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("tr_pos is not a varnik model file"), std::string::npos) << r.err;
  r = RunVarnikSplit(dir.path(), "explain knn.model knn.model");
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(ReadFile(dir / "knn.model").find("varnik-model"), std::string::npos);
}

}  // namespace
}  // namespace varnik::testing
