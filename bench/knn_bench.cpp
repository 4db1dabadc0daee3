// Times k-NN scoring: every test window against every training window, with
// the fast search and with a straightforward one (on a sample), in one run.
//
//   knn_bench TRAIN_PREFIX TEST_PREFIX [K] [WEIGHTED 0/1] [REFERENCE_SAMPLE]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/error.h"
#include "recognizers/knn.h"
#include "recognizers/reference_knn.h"
#include "sequence/fasta.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::vector<std::string> Strings(const varnik::SequenceSet& set) {
  std::vector<std::string> v;
  for (int i = 0; i < set.size(); ++i) v.emplace_back(set[i]);
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TRAIN_PREFIX TEST_PREFIX [K] [WEIGHTED] [SAMPLE]\n", argv[0]);
    return 2;
  }
  const std::string train = argv[1], test = argv[2];
  const int k = argc > 3 ? std::atoi(argv[3]) : 3;
  const bool weighted = argc > 4 ? std::atoi(argv[4]) != 0 : true;
  const int sample = argc > 5 ? std::atoi(argv[5]) : 300;
  try {
    varnik::Settings s;
    varnik::SequenceSet tr_pos, tr_neg, te_pos, te_neg;
    const int L = varnik::ReadFastaFile(train + "pos", s, tr_pos);
    varnik::ReadFastaFile(train + "neg", s, tr_neg);
    varnik::ReadFastaFile(test + "pos", s, te_pos);
    varnik::ReadFastaFile(test + "neg", s, te_neg);
    varnik::KnnRecognizer R(s);
    varnik::BuildkNN(R, tr_pos, tr_neg, L, k);
    const double protos = tr_pos.size() + tr_neg.size();

    auto start = std::chrono::steady_clock::now();
    double checksum = 0;
    long scored = 0;
    varnik::Neighbours nb;  // scratch space, reused
    for (const varnik::SequenceSet* set : {&te_pos, &te_neg}) {
      for (int i = 0; i < set->size(); ++i, ++scored) {
        checksum += varnik::ClassifySequencekNN(R, (*set)[i], L, weighted, nb);
      }
    }
    const double fast_s = Seconds(start);

    // The straightforward search on every n-th test window.
    const std::vector<std::string> pos = Strings(tr_pos), neg = Strings(tr_neg);
    const long step = std::max<long>(1, scored / std::max(sample, 1));
    long ref_scored = 0, mismatched = 0;
    start = std::chrono::steady_clock::now();
    for (long i = 0; i < scored; i += step, ++ref_scored) {
      const char* w = i < te_pos.size() ? te_pos[static_cast<int>(i)]
                                        : te_neg[static_cast<int>(i - te_pos.size())];
      const float ref = varnik::testing::ReferenceKnnScore(pos, neg, w, k, weighted);
      if (ref != varnik::ClassifySequencekNN(R, w, L, weighted)) ++mismatched;
    }
    const double ref_s = Seconds(start);

    const double comparisons = scored * protos * L;
    const double ref_per_window = ref_s / ref_scored;
    std::printf("windows scored: %ld against %.0f prototypes of %d letters (k = %d, %s)\n", scored,
                protos, L, k, weighted ? "weighted" : "unweighted");
    std::printf("fast search: %.3f s, %.3g position comparisons per second\n", fast_s,
                comparisons / fast_s);
    std::printf("straightforward search: %.3f s per 1000 windows (%ld sampled), %.3g per second\n",
                1000 * ref_per_window, ref_scored, protos * L / ref_per_window);
    std::printf("speed-up: %.1f x; sampled scores differing: %ld; checksum %.6f\n",
                ref_per_window * scored / fast_s, mismatched, checksum);
    return mismatched == 0 ? 0 : 1;
  } catch (const varnik::VarnikError& e) {
    std::printf("%s\n", e.Line().c_str());
    return e.code();
  }
}
