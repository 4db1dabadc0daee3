// What a trained recogniser bases its decision on, per window position:
// `varnik explain MODEL [OUTPUT]` on a self-contained model file.
//
// Weighted-degree SVM: the decision value is a sum over the window's k-mers
// (every start l and length k up to the degree) of the weight of the k-mer it
// holds there, beta_k / norm times the sum of the coefficients of the support
// vectors holding that k-mer at l, minus rho. A position's importance is the
// sum, over the k-mers covering it, of the span of their weights at their
// start and length (largest minus smallest, a k-mer no support vector holds
// weighing 0) shared evenly among their k letters: how far the letters there
// can move the decision.
// One-hot linear SVM: the weight of each letter at each position; a
// position's importance is the span of its four weights.
// PWM: the letters' probabilities among the positives at each position and
// its information content (2 minus their entropy, in bits), drawn as a
// sequence logo.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "svm/svm.h"

namespace varnik {

class PwmRecognizer;

struct WdKmer {
  int start = 0;  // in the scored window, from 0
  std::string kmer;
  double weight = 0;
};

struct WdExplanation {
  std::vector<double> importance;  // by position of the scored window
  std::vector<WdKmer> strongest;   // per position: the k-mer starting there of largest |weight|
  std::vector<WdKmer> top;         // over all positions, largest |weight| first
};

// Null-free: the model must be a two-class wd model on windows of equal
// length. top: how many k-mers to keep in the overall list.
WdExplanation ExplainWeightedDegree(const svm_model& model, size_t top);

// The weights of A, C, G and T at every position of a linear SVM on one-hot
// windows of length letters, in that order.
std::vector<std::array<double, 4>> LinearLetterWeights(const svm_model& model, int length);

// The shares of A, C, G and T among the training positives (of which there
// were `positives`) at every position of the matrix, from its log-odds: the
// background shares they were taken against are recovered by least squares
// over the positions, each position's shares summing to 1. Those of the
// four letters are given, summing to 1.
std::vector<std::array<double, 4>> PwmProbabilities(const PwmRecognizer& R, int positives);

// args[1] is "explain": args[2] the model file, args[3] (optional) the
// table's path, the picture going beside it as OUTPUT.svg; without it the
// table goes to standard output and no picture is drawn.
int RunExplain(const std::vector<std::string>& args);

}  // namespace varnik
