// Times the scoring of test windows by a recogniser as training leaves it
// and by the same recogniser read back from its self-contained model file,
// in one process on one thread (best of the repeats), and checks that the
// scores are the same.
//
//   model_bench TRAIN_PREFIX TEST_PREFIX PARAMETERS REPEATS
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/error.h"
#include "core/output_file.h"
#include "core/random.h"
#include "driver/evaluation.h"
#include "driver/model_file.h"
#include "driver/parameters.h"
#include "learners/methods.h"
#include "recognizers/c45.h"
#include "sequence/fasta.h"

namespace {

double Seconds(const varnik::Recognizer& R, const varnik::SequenceSet& windows, int L,
               std::vector<float>& scores) {
  const auto start = std::chrono::steady_clock::now();
  scores = varnik::ScoreWindows(R, windows, L, 0, 1);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace varnik;
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s TRAIN_PREFIX TEST_PREFIX PARAMETERS REPEATS\n", argv[0]);
    return 2;
  }
  try {
    Settings s;
    s.threads = 1;
    OutputFile report;  // never opened: the report goes nowhere
    LoadGlobalParameters(argv[3], s, report);
    const std::string train = argv[1], test = argv[2];
    SequenceSet pos, neg, test_pos, test_neg;
    int L = ReadFastaFile(train + "pos", s, pos);
    s.Length = L;
    ReadFastaFile(train + "neg", s, neg);
    ReadFastaFile(test + "pos", s, test_pos);
    ReadFastaFile(test + "neg", s, test_neg);
    CRandom rng(static_cast<unsigned>(s.Seed));
    SvmRandom svm_rng;
    std::unique_ptr<TreeEngine> engine;
    if (NeedsTreeEngine(s)) {
      engine = std::make_unique<TreeEngine>();
      ReadWindowNames(*engine, L);
    }
    const EnsembleContext context{engine.get(), &rng, &svm_rng, &report};
    std::unique_ptr<Recognizer> trained = MethodOfCode(s.R_method).train(pos, neg, L, s, context);
    trained->set_length(L);
    ModelWindow w;
    w.record_length = w.sequence_length = w.read_length = w.length = L;
    const SelfContainedModel loaded =
        ParseModelFile(ModelFileText(*trained, w, pos.size(), neg.size()), "model");
    SequenceSet all = test_pos;
    for (int i = 0; i < test_neg.size(); ++i) all.Append(std::string_view(test_neg[i], L));
    const int repeats = std::atoi(argv[4]);
    std::vector<float> a, b;
    // Taken in turns, so that both see the same machine.
    double t_trained = 1e300, t_loaded = 1e300;
    for (int r = 0; r < repeats; ++r) {
      t_trained = std::min(t_trained, Seconds(*trained, all, L, a));
      t_loaded = std::min(t_loaded, Seconds(*loaded.recognizer, all, L, b));
    }
    std::printf(
        "%s: %d test windows, as trained %.4f s, from the model file %.4f s, ratio %.2f;"
        " scores %s\n",
        MethodName(s.R_method).c_str(), all.size(), t_trained, t_loaded, t_loaded / t_trained,
        a == b ? "identical" : "DIFFERENT");
  } catch (const VarnikError& e) {
    std::printf("%s\n", e.Line().c_str());
    return e.code();
  }
  return 0;
}
