// Feed-forward network with one hidden layer of scaled tanh units and one
// output unit, trained by back-propagation with momentum on rows drawn at
// random, with the weights updated once per epoch.
#pragma once

#include <memory>
#include <vector>

#include "core/random.h"
#include "core/recognizer.h"
#include "core/sequence_set.h"
#include "core/settings.h"

namespace varnik {

// f(s) = A tanh(B s): exactly -A below -45 and +A above 45; tanh in double
// precision on the single-precision product B s.
float HyperbolicTangent(float s, float A, float B);

// One hidden layer of nn_hidden units over nn_inputs one-hot inputs. nn_ih
// holds nn_inputs + 1 rows of nn_hidden weights: the weight from input k (the
// bias when k = nn_inputs) to hidden unit j is nn_ih[k * nn_hidden + j]. nn_ho
// holds the nn_hidden hidden-to-output weights followed by the output bias.
class NeuralNetRecognizer : public Recognizer {
 public:
  explicit NeuralNetRecognizer(const Settings& settings) : Recognizer(settings, kNeuralNet) {}
  int nn_hidden = 0;
  int nn_inputs = 0;
  std::vector<float> nn_ih;
  std::vector<float> nn_ho;
  float nn_A = 0.0f;  // activation f(s) = A tanh(B s)
  float nn_B = 0.0f;

  float Score(const char* window, int L, int offset, ScoreScratch* scratch) const override;
  std::unique_ptr<ScoreScratch> NewScratch() const override;
  void WritePayload(ModelWriter& w) const override;
  using Recognizer::Score;
};

// "network inputs hidden A B", the input-to-hidden and the hidden-to-output
// weights.
std::unique_ptr<Recognizer> ReadNetworkPayload(ModelReader& r, const Settings& settings, int L);

// Trains a network on the one-hot encoding of the windows (whatever the
// Kernel setting) with H hidden units, and sets its threshold from the
// outputs of the training positives.
std::unique_ptr<NeuralNetRecognizer> TrainNeuralNetwork(const SequenceSet& positives,
                                                        const SequenceSet& negatives, int L, int H,
                                                        const Settings& settings, CRandom& rng);

// The network's output for one window, in [-A, A].
float NeuralNetworkOutput(const NeuralNetRecognizer& R, const char* sequence, int L);

}  // namespace varnik
