// Feed-forward network with one hidden layer of scaled tanh units and one
// output unit, trained by back-propagation with momentum on rows drawn at
// random, with the weights updated once per epoch.
#pragma once

#include "common/random.h"
#include "driver/recognizer.h"
#include "driver/settings.h"
#include "sequence/sequence_set.h"

namespace varnik {

// f(s) = A tanh(B s): exactly -A below -45 and +A above 45; tanh in double
// precision on the single-precision product B s.
float HyperbolicTangent(float s, float A, float B);

// Trains the network of R on the one-hot encoding of the windows (whatever
// the Kernel setting) with H hidden units, and sets R.threshold from the
// outputs of the training positives.
void TrainNeuralNetwork(Recognizer& R, const SequenceSet& positives, const SequenceSet& negatives,
                        int L, int H, const Settings& settings, CRandom& rng);

// The network's output for one window, in [-A, A].
float NeuralNetworkOutput(const Recognizer& R, const char* sequence, int L);

}  // namespace varnik
