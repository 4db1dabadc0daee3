// The fuzz targets' seed inputs and every saved finding, replayed through
// the same reader functions (under the sanitizers in make test-asan).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz_targets.h"

namespace varnik {
namespace {

TEST(FuzzReplayTest, SeedsAndSavedFindingsReadCleanly) {
  struct Target {
    const char* name;
    int (*read)(const uint8_t*, size_t);
  };
  const std::filesystem::path root = std::filesystem::path(VARNIK_SOURCE_DIR) / "fuzz";
  int inputs = 0;
  for (const Target& t :
       {Target{"fasta_windows", FuzzFastaWindows}, Target{"parameters", FuzzParameters},
        Target{"mask", FuzzMask}, Target{"saved_model", FuzzSavedModel},
        Target{"model_file", FuzzModelFile}, Target{"sequence_stream", FuzzSequenceStream},
        Target{"fasta_index", FuzzFastaIndex}}) {
    for (const char* kind : {"corpus", "regressions"}) {
      const auto dir = root / kind / t.name;
      if (!std::filesystem::exists(dir)) continue;
      for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        EXPECT_EQ(t.read(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
        ++inputs;
      }
    }
  }
  EXPECT_GE(inputs, 15);  // the seeds at least
}

}  // namespace
}  // namespace varnik
