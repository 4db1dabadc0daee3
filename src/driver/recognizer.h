// The trained recogniser: one record shared by all methods. Each method fills
// only its own fields; a window is called a site when its score is strictly
// greater than threshold.
#pragma once

#include <array>
#include <vector>

namespace varnik {

struct Recognizer {
  int length = 0;  // window length after reading (and translation)
  float threshold = 0.0f;

  // Position weight matrix: one row of L log-odds weights per letter class
  // (0 other, 1 A, 2 T, 3 G, 4 C).
  std::array<std::vector<float>, 5> M;
};

}  // namespace varnik
