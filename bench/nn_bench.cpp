// Times neural-network training: the fast trainer with the given settings, and
// the plain dense computation for a fraction of the epochs (its time grows
// linearly with them), in one run; checks that both give the same weights on
// that fraction.
//
//   nn_bench TRAIN_PREFIX [EPOCHS] [HIDDEN] [ETA] [REFERENCE_EPOCHS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/error.h"
#include "recognizers/neural_network.h"
#include "recognizers/reference_network.h"
#include "sequence/fasta.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s TRAIN_PREFIX [EPOCHS] [HIDDEN] [ETA] [REF_EPOCHS]\n", argv[0]);
    return 2;
  }
  const std::string train = argv[1];
  varnik::Settings s;
  s.N_epochs = argc > 2 ? std::atoi(argv[2]) : s.N_epochs;
  const int hidden = argc > 3 ? std::atoi(argv[3]) : s.NN_hidden_nodes;
  s.Eta = argc > 4 ? static_cast<float>(std::atof(argv[4])) : s.Eta;
  const int ref_epochs = argc > 5 ? std::atoi(argv[5]) : 2000;
  try {
    varnik::SequenceSet pos, neg;
    const int L = varnik::ReadFastaFile(train + "pos", s, pos);
    varnik::ReadFastaFile(train + "neg", s, neg);

    varnik::CRandom rng(12345);
    auto start = std::chrono::steady_clock::now();
    varnik::TrainNeuralNetwork(pos, neg, L, hidden, s, rng);
    const double fast_s = Seconds(start);
    std::printf("fast training: %d epochs of %d rows, %d hidden units, %d inputs: %.2f s\n",
                s.N_epochs, s.Epoch_size, hidden, 4 * L, fast_s);

    varnik::Settings short_run = s;
    short_run.N_epochs = ref_epochs;
    varnik::CRandom rng1(7), rng2(7);
    start = std::chrono::steady_clock::now();
    const auto trained = varnik::TrainNeuralNetwork(pos, neg, L, hidden, short_run, rng1);
    const varnik::NeuralNetRecognizer& quick = *trained;
    const double quick_s = Seconds(start);
    varnik::testing::ReferenceNet ref;
    start = std::chrono::steady_clock::now();
    ref.Train(pos, neg, L, hidden, short_run, rng2);
    const double ref_s = Seconds(start);
    long differing = 0;
    for (int j = 0; j < hidden; ++j) {
      for (int k = 0; k <= 4 * L; ++k) {
        differing += quick.nn_ih[static_cast<size_t>(k) * hidden + j] != ref.ih[j][k];
      }
    }
    for (int j = 0; j <= hidden; ++j) differing += quick.nn_ho[j] != ref.ho[j];
    std::printf("%d epochs: fast %.3f s, plain %.3f s, speed-up %.1f x; weights differing: %ld\n",
                ref_epochs, quick_s, ref_s, ref_s / quick_s, differing);
    return differing == 0 ? 0 : 1;
  } catch (const varnik::VarnikError& e) {
    std::printf("%s\n", e.Line().c_str());
    return e.code();
  }
}
