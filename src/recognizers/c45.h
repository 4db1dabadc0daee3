// The decision-tree recogniser: one C4.5 tree over the window positions
// (one attribute per position, class 1 for positives, 0 for negatives); a
// window scores the positive share of its weight minus the negative share.
#pragma once

#include <string>
#include <vector>

#include "common/output_file.h"
#include "common/random.h"
#include "driver/settings.h"
#include "tree/tree_engine.h"

namespace varnik {

// Writes the names file for windows of length L (classes "0" and "1", one
// attribute per position with the 18 letters), reads it into the engine and
// removes it. The file gets a name of its own in the working directory.
void ReadWindowNames(TreeEngine& engine, int L);

// Trains a tree (Trials, Prune_tree). When threshold is given, sets it from
// the scores of the positives and writes the "C4.5 threshold" line.
Tree TrainC45Classifier(TreeEngine& engine, const std::vector<const char*>& positives,
                        const std::vector<const char*>& negatives, int L, const Settings& settings,
                        CRandom& rng, OutputFile* out, float* threshold);

// 2 (ClassSum[1] - 0.5): in [-1, 1], positive means a site.
float C45Output(TreeEngine& engine, const TreeNode* tree, const char* window, int L);

}  // namespace varnik
