// Small problems for the SVM engine tests.
#pragma once

#include <string>
#include <vector>

#include "core/random.h"
#include "svm/svm.h"

namespace varnik::testing {

// A window as string-kernel nodes: index = position, value = letter code.
inline std::vector<svm_node> WindowNodes(const std::string& w) {
  std::vector<svm_node> v;
  for (size_t i = 0; i < w.size(); ++i) {
    v.push_back({static_cast<int>(i), static_cast<double>(static_cast<unsigned char>(w[i]))});
  }
  v.push_back({-1, 0.0});
  return v;
}

// A dense vector as nodes (zeros left out), indexes from 1.
inline std::vector<svm_node> DenseNodes(const std::vector<double>& x) {
  std::vector<svm_node> v;
  for (size_t i = 0; i < x.size(); ++i) {
    if (x[i] != 0) v.push_back({static_cast<int>(i) + 1, x[i]});
  }
  v.push_back({-1, 0.0});
  return v;
}

inline std::string RandomLetters(CRandom& rng, int n, int alphabet = 4) {
  std::string w(static_cast<size_t>(n), 'A');
  for (char& c : w) c = "ACGTN"[rng.UniformIndex(alphabet)];
  return w;
}

// A problem that owns its vectors.
struct OwnedProblem {
  std::vector<std::vector<svm_node>> rows;
  svm_problem prob;

  void Add(std::vector<svm_node> row, double y) {
    rows.push_back(std::move(row));
    prob.y.push_back(y);
    prob.l = static_cast<int>(rows.size());
    prob.x.clear();
    for (const auto& r : rows) prob.x.push_back(r.data());
  }
};

// Two Gaussian-ish clouds in the plane, labels +1 / -1 (or the given ones).
inline OwnedProblem TwoClouds(CRandom& rng, int n_pos, int n_neg, double separation,
                              double label_pos = 1, double label_neg = -1) {
  OwnedProblem p;
  for (int i = 0; i < n_pos + n_neg; ++i) {
    const bool pos = i < n_pos;
    const double cx = pos ? separation : -separation;
    const double x = cx + (rng.UniformNumber() - 0.5) * 2;
    const double y = (rng.UniformNumber() - 0.5) * 2;
    p.Add(DenseNodes({x, y}), pos ? label_pos : label_neg);
  }
  return p;
}

}  // namespace varnik::testing
