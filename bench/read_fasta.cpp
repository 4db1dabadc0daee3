// Times reading and checking FASTA window files: prints the best wall time in
// seconds over the repeats, and the number of windows read.
//
//   read_fasta REPEATS FILE [FILE ...]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "core/error.h"
#include "core/settings.h"
#include "sequence/fasta.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s REPEATS FILE [FILE ...]\n", argv[0]);
    return 2;
  }
  const int repeats = std::atoi(argv[1]);
  double best = 1e300;
  long windows = 0;
  try {
    for (int r = 0; r < repeats; ++r) {
      varnik::Settings settings;
      windows = 0;
      const auto start = std::chrono::steady_clock::now();
      for (int i = 2; i < argc; ++i) {
        varnik::SequenceSet set;
        varnik::ReadFastaFile(argv[i], settings, set);
        windows += set.size();
      }
      const double s =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (s < best) best = s;
    }
  } catch (const varnik::VarnikError& e) {
    std::printf("%s\n", e.Line().c_str());
    return e.code();
  }
  std::printf("%.4f %ld\n", best, windows);
  return 0;
}
