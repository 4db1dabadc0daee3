// Writes synthetic window files for benchmarks: <prefix>pos holds windows with
// a planted motif at their centre (each motif letter kept with probability
// 1 - noise), <prefix>neg random windows.
//
//   make_windows PREFIX N_POS N_NEG LENGTH [SEED] [MOTIF] [NOISE]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/random.h"

namespace {

bool WriteFile(const std::string& path, int n, int length, const std::string& motif, double noise,
               varnik::CRandom& rng, const char* label) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  std::string w(static_cast<size_t>(length), 'A');
  const int at = (length - static_cast<int>(motif.size())) / 2;
  for (int i = 0; i < n; ++i) {
    for (char& c : w) c = "ACGT"[rng.UniformIndex(4)];
    for (size_t k = 0; k < motif.size() && at >= 0 && at + k < w.size(); ++k) {
      if (rng.UniformNumber() >= noise) w[at + k] = motif[k];
    }
    std::fprintf(f, ">%s%d\n%s\n", label, i, w.c_str());
  }
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s PREFIX N_POS N_NEG LENGTH [SEED] [MOTIF] [NOISE]\n", argv[0]);
    return 2;
  }
  const std::string prefix = argv[1];
  const int n_pos = std::atoi(argv[2]);
  const int n_neg = std::atoi(argv[3]);
  const int length = std::atoi(argv[4]);
  const unsigned seed = argc > 5 ? static_cast<unsigned>(std::atol(argv[5])) : 1u;
  const std::string motif = argc > 6 ? argv[6] : "CAGGTAAGT";
  const double noise = argc > 7 ? std::atof(argv[7]) : 0.3;
  if (n_pos < 0 || n_neg < 0 || length < 1) {
    std::fprintf(stderr, "sizes must be positive\n");
    return 2;
  }
  varnik::CRandom rng(seed);
  const std::string empty;
  if (!WriteFile(prefix + "pos", n_pos, length, motif, noise, rng, "pos") ||
      !WriteFile(prefix + "neg", n_neg, length, empty, noise, rng, "neg")) {
    std::fprintf(stderr, "cannot write %s{pos,neg}\n", prefix.c_str());
    return 1;
  }
  return 0;
}
