// The trained recogniser: one record shared by all methods. Each method fills
// only its own fields; a window is called a site when its score is strictly
// greater than threshold.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "svm/svm.h"
#include "tree/tree_engine.h"

namespace varnik {

struct Recognizer {
  int length = 0;  // window length after reading (and translation)
  float threshold = 0.0f;

  // C4.5 tree, and the engine whose attribute tables it was grown with.
  Tree tree;
  std::shared_ptr<TreeEngine> tree_engine;

  // SVM: the trained machine (owning its support vectors).
  std::unique_ptr<svm_model> svm;

  // Position weight matrix: one row of L log-odds weights per letter class
  // (0 other, 1 A, 2 T, 3 G, 4 C).
  std::array<std::vector<float>, 5> M;

  // Hamming k-NN: the prototypes are the training windows themselves, shared
  // with their owner, which must keep them alive as long as this record.
  int k = 0;
  int n_pos = 0;
  int n_neg = 0;
  int pos_length = 0;
  int neg_length = 0;
  std::vector<const char*> poss;
  std::vector<const char*> negs;

  // Stop-codon method: score by the codon number of the first stop codon.
  std::vector<float> scores;
  int n_scores = 0;

  // Neural network with one hidden layer of nn_hidden units over nn_inputs
  // one-hot inputs. nn_ih holds nn_inputs + 1 rows of nn_hidden weights: the
  // weight from input k (the bias when k = nn_inputs) to hidden unit j is
  // nn_ih[k * nn_hidden + j]. nn_ho holds the nn_hidden hidden-to-output
  // weights followed by the output bias.
  int nn_hidden = 0;
  int nn_inputs = 0;
  std::vector<float> nn_ih;
  std::vector<float> nn_ho;
  float nn_A = 0.0f;  // activation f(s) = A tanh(B s)
  float nn_B = 0.0f;
};

}  // namespace varnik
