// The builds of the k-NN mismatch count and neighbour search for particular
// instruction sets. Plain declarations only: this header is included where
// the AVX2 build is compiled, so it must pull in no library code.
#pragma once

namespace varnik {

// Whether the AVX2 build was compiled in (the processor must support it too).
bool HasAvx2Search();
int CountMismatchesAvx2(const char* a, const char* b, int L, int limit);
void SearchNeighboursAvx2(const char* const* poss, int n_pos, const char* const* negs, int n_neg,
                          const char* window, int L, int k, float* dist, signed char* label);
// Up to 16 windows at once, k slots each (SearchNeighboursOfMany).
void SearchNeighboursOfManyAvx2(const char* const* poss, int n_pos, const char* const* negs,
                                int n_neg, const char* const* windows, int n_windows, int L, int k,
                                float* dist, signed char* label);

}  // namespace varnik
