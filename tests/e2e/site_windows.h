// Small window sets and a saved weighted-degree model for the end-to-end
// tests of the program.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "core/random.h"
#include "test_util.h"

namespace varnik::testing {

inline std::string RandomDna(CRandom& rng, size_t n) {
  std::string s(n, 'A');
  for (char& c : s) c = "ACGT"[rng.UniformIndex(4)];
  return s;
}

// n windows of 12 letters from seed, the first two fifths positives with GT
// at 5 and 6: <prefix>pos and <prefix>neg.
inline void WriteWindows(const TempDir& dir, const std::string& prefix, unsigned seed,
                         int n = 100) {
  CRandom rng(seed);
  std::string pos, neg;
  for (int i = 0; i < n; ++i) {
    std::string w = RandomDna(rng, 12);
    if (i < n * 2 / 5) w.replace(5, 2, "GT");
    (i < n * 2 / 5 ? pos : neg) += ">w" + std::to_string(i) + "\n" + w + "\n";
  }
  WriteFile(dir / (prefix + "pos"), pos);
  WriteFile(dir / (prefix + "neg"), neg);
}

// A wd model trained on the windows of seed, saved as tr_.run.model; its
// parameters file is p.
inline void SaveWdModel(const TempDir& dir, unsigned seed) {
  WriteWindows(dir, "tr_", seed);
  WriteFile(dir / "p",
            "Recognition_method: SVM\nSeed: 1\nCross-validate parameters: F\n"
            "Kernel: 5\nDegree (WD): 4\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ NIL p run save-model").status, 1);
}

// A report with its elapsed times masked.
inline std::string WithoutTimes(const std::string& report) {
  return std::regex_replace(report, std::regex("time: [0-9:]+"), "time: T");
}

}  // namespace varnik::testing
