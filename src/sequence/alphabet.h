// The nucleotide alphabet of the windows and its letter-index tables.
#pragma once

#include <array>

namespace varnik {

// The 18 letters a window may hold, in this order.
inline constexpr char letters[] = "ATUGCRYKMSWBDHVNX-";
inline constexpr int kLetterCount = 18;

// Index tables over character codes 0 .. 89 ("Y"); every other code maps to 0.
// DNAindex: A 1, T 2, G 3, C 4, "-" 0, U and the ambiguity letters -1.
// DNAindexPWM: A 1, T 2, G 3, C 4, everything else 0.
inline constexpr int kIndexTableSize = 90;
extern const std::array<int, kIndexTableSize> DNAindex;
extern const std::array<int, kIndexTableSize> DNAindexPWM;

// Bounds-safe look-ups (codes outside the table give 0).
inline int DNAIndexOf(char c) {
  const unsigned u = static_cast<unsigned char>(c);
  return u < kIndexTableSize ? DNAindex[u] : 0;
}
inline int PWMIndexOf(char c) {
  const unsigned u = static_cast<unsigned char>(c);
  return u < kIndexTableSize ? DNAindexPWM[u] : 0;
}

// Normalisation of one input letter: upper case, U becomes T; 0 for a
// character outside the alphabet.
extern const std::array<char, 256> kNormalisedLetter;

}  // namespace varnik
