// The registry of recognition methods: every place that trains, stacks or
// asks about a method goes through it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/recognizer.h"
#include "core/sequence_set.h"
#include "core/settings.h"
#include "learners/ensemble.h"

namespace varnik {

// Trains a recogniser on the windows. settings are the run's (or, for a
// stacking component, the stack's): what training chooses (searched
// parameters) stays in them for the steps after it.
using TrainFunction = std::unique_ptr<Recognizer> (*)(const SequenceSet& positives,
                                                      const SequenceSet& negatives, int L,
                                                      Settings& settings,
                                                      const EnsembleContext& context);

struct Method {
  int code;              // Recognition_method code; -1 for a stacking component only
  const char* word;      // its word in the parameters file ("" when it has none)
  int stacking_bit;      // its bit in Stacking_methods; 0 when it cannot be stacked
  int stacked_position;  // its place in the stacked input vector
  // Counted by the "No stacked classifiers" rule (the components before the
  // PWM and the network).
  bool counted_when_stacked;
  bool grows_trees;               // needs the tree engine by itself (C4.5)
  bool ensemble;                  // trains Base_learner recognisers
  bool keeps_windows;             // refers to the training windows (k-NN)
  const char* component_title;    // heading of its stacking component results
  TrainFunction train;            // as the run's recogniser (null: cannot be)
  TrainFunction train_component;  // as a stacking component (null: cannot be)
  PayloadReader read = nullptr;   // its model-file payload read back (null: never saved)
};

// Every method, in the order stacking trains its components.
const std::vector<Method>& Methods();
// The entry of a Recognition_method code (stacking included); ends the run
// with "Bad recognition method" for an unknown code.
const Method& MethodOfCode(int code);
// The entry of a Stacking_methods bit; null for none.
const Method* MethodOfBit(int bit);
// The name of a method in a model file: its word ("Stacking" for stacking).
std::string MethodName(int code);
// The code of a model file's method name, or -1.
int MethodOfName(const std::string& name);
// The words of the Recognition_method codes, in code order.
const std::vector<std::string>& MethodWords();

// Whether the code's method is an ensemble (trains Base_learner recognisers).
bool IsEnsemble(int code);
// Whether stacking is on and trains the method of this code.
bool Stacks(const Settings& s, int code);
// Whether the run trains the method of this code, by itself or stacked.
bool Trains(const Settings& s, int code);
// Whether any component the "No stacked classifiers" rule counts is chosen.
bool StacksCountedComponents(const Settings& s);
// The method the searches and feature selection train for the run: an
// ensemble's base learner, else the run's method.
int LearnerMethod(const Settings& s);
// Whether the run grows trees (C4.5, ensembles of trees, or stacking).
bool NeedsTreeEngine(const Settings& s);
// Whether the trained recogniser refers to the training windows.
bool KeepsTrainingWindows(const Settings& s);
// The SVM parameters a search or an ensemble chose, kept for later steps.
void KeepSvmParameters(Settings& to, const Settings& from);

}  // namespace varnik
