// Evening out the classes: cutting a window set to a size at random, and SMOTE
// on letters (synthetic windows copied position by position from a seed
// window and its nearest neighbours under a value-difference metric).
#pragma once

#include <array>
#include <vector>

#include "core/random.h"
#include "core/sequence_set.h"

namespace varnik {

// Keeps keep windows chosen at random, at the front in their former order.
// The others go to dropped in the order the cut leaves them (when dropped is
// given), or are released. Asked to keep more than it holds, it keeps every
// window (drawing as for keeping all) and says so on standard error.
void UndersampleData(SequenceSet& windows, int keep, CRandom& rng, SequenceSet* dropped);

// The 17 letter indices of the value-difference metric: A T U G C R Y K M S W B
// D H V N X; every other character counts as A.
int VdmIndexOf(char c);

// The value differences of every pair of letter indices, from how often each
// occurs among positive and among negative windows.
using VdmMatrix = std::array<std::array<float, 17>, 17>;
VdmMatrix ConstructValueDifferencesMatrix(const SequenceSet& positives,
                                          const SequenceSet& negatives, int L);

// Sum over the L positions of the value differences of the two windows'
// letters, in single precision.
float ModifiedVDN(const char* a, const char* b, int L, const VdmMatrix& vdm);

// The k nearest of the first n windows of the set to the query, nearest
// first (a later window goes in front of earlier ones at an equal distance);
// -1 for slots no window reached.
std::vector<int> GetkNearestNeighbours(const char* query, const SequenceSet& set, int n, int L,
                                       int k, const VdmMatrix& vdm);

// m random transpositions of v's entries, each from two draws.
void RandomizeVector(std::vector<int>& v, CRandom& rng);

// Grows the set by SMOTE_N percent with synthetic windows (below 100: that
// share of randomly chosen seeds, one window each; from 100 on: every window
// in order, (int)N / 100 windows each), from each seed and its k nearest
// neighbours among the windows present before. A k not below the number of
// windows uses every other window and says so on standard error.
void SMOTEOverSampling(SequenceSet& positives, int k, int L, const VdmMatrix& vdm, float N,
                       CRandom& rng);

}  // namespace varnik
