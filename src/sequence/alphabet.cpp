#include "sequence/alphabet.h"

namespace varnik {

namespace {

constexpr std::array<int, kIndexTableSize> MakeIndex(bool pwm) {
  std::array<int, kIndexTableSize> table{};
  table['A'] = 1;
  table['T'] = 2;
  table['G'] = 3;
  table['C'] = 4;
  if (!pwm) {
    for (char c : {'U', 'B', 'D', 'H', 'K', 'M', 'N', 'R', 'S', 'V', 'W', 'X', 'Y'}) {
      table[static_cast<unsigned char>(c)] = -1;
    }
  }
  return table;
}

constexpr std::array<char, 256> MakeNormalised() {
  std::array<char, 256> table{};
  for (int i = 0; i < kLetterCount; ++i) {
    const char upper = letters[i] == 'U' ? 'T' : letters[i];
    table[static_cast<unsigned char>(letters[i])] = upper;
    if (letters[i] >= 'A' && letters[i] <= 'Z') {
      table[static_cast<unsigned char>(letters[i] - 'A' + 'a')] = upper;
    }
  }
  return table;
}

}  // namespace

const std::array<int, kIndexTableSize> DNAindex = MakeIndex(false);
const std::array<int, kIndexTableSize> DNAindexPWM = MakeIndex(true);
const std::array<char, 256> kNormalisedLetter = MakeNormalised();

}  // namespace varnik
