#include "sequence/protein.h"

#include <cctype>

#include "core/error.h"

namespace varnik {

namespace {

// Amino acids by codon: index 16 * first + 4 * second + third letter, each
// letter numbered T 0, C 1, A 2, G 3.
constexpr char kCodeTable[] =
    "FFLL"
    "SSSS"
    "YYXX"
    "CCXW"  // T..
    "LLLL"
    "PPPP"
    "HHQQ"
    "RRRR"  // C..
    "IIIM"
    "TTTT"
    "NNKK"
    "SSRR"  // A..
    "VVVV"
    "AAAA"
    "DDEE"
    "GGGG";  // G..

int BaseIndex(char c) {
  switch (std::toupper(static_cast<unsigned char>(c))) {
    case 'T':
      return 0;
    case 'C':
      return 1;
    case 'A':
      return 2;
    case 'G':
      return 3;
    default:
      return -1;
  }
}

}  // namespace

char TranslateCodon(const char* codon) {
  const int a = BaseIndex(codon[0]), b = BaseIndex(codon[1]), c = BaseIndex(codon[2]);
  if (a < 0 || b < 0 || c < 0) return 'X';
  return kCodeTable[a * 16 + b * 4 + c];
}

int ConvertToProtein(SequenceSet& windows, int L) {
  if (L % 3 != 0) OnErrorExit(kUnspecifiedError, "Cannot convert to protein if incomplete codons");
  for (int i = 0; i < windows.size(); ++i) {
    char* w = windows[i];
    for (int c = 0; c + 2 < L; c += 3) w[c / 3] = TranslateCodon(w + c);
    w[L / 3] = '\0';
  }
  return L / 3;
}

}  // namespace varnik
