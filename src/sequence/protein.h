// Translation of nucleotide windows into amino-acid letters.
#pragma once

#include "core/sequence_set.h"

namespace varnik {

// Amino-acid letter of a codon (standard genetic code, stop codons as X);
// X for a codon with any letter other than A, C, G, T (case ignored).
char TranslateCodon(const char* codon);

// Translates every window of length L in place and returns L / 3; L must be a
// multiple of 3 ("Cannot convert to protein if incomplete codons").
int ConvertToProtein(SequenceSet& windows, int L);

}  // namespace varnik
