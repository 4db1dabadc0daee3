// The self-contained model file: every method's model reads back to the same
// numbers (written again, it is the same text), in either compression, and
// a damaged file is refused naming its line.
#include "driver/model_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "core/error.h"
#include "test_util.h"

namespace varnik {
namespace {

const std::filesystem::path kSeeds =
    std::filesystem::path(VARNIK_SOURCE_DIR) / "fuzz" / "corpus" / "model_file";

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Seed(const char* name) { return Slurp(kSeeds / name); }

TEST(ModelFileTest, EveryMethodsModelReadsBackToTheSameText) {
  int methods = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kSeeds)) {
    SCOPED_TRACE(entry.path().string());
    const std::string text = Slurp(entry.path());
    const SelfContainedModel m = ParseModelFile(text, entry.path().string());
    EXPECT_EQ(ModelFileText(*m.recognizer, m.window, m.training_positives, m.training_negatives),
              text);
    ++methods;
  }
  EXPECT_GE(methods, 12);
}

TEST(ModelFileTest, CompressedAndPlainFilesHoldTheSameModel) {
  testing::TempDir dir;
  const SelfContainedModel m = ParseModelFile(Seed("c45_trials"), "c45_trials");
  for (const char* name : {"m.txt", "m.txt.gz"}) {
    const std::string path = dir / name;
    WriteModelFile(path, *m.recognizer, m.window, 40, 80);
    EXPECT_TRUE(IsModelFile(path));
    const SelfContainedModel back = ReadModelFile(path);
    EXPECT_EQ(ModelFileText(*back.recognizer, back.window, 40, 80),
              ModelFileText(*m.recognizer, m.window, 40, 80));
  }
  // Compressed: the gzip magic number, not the text.
  EXPECT_EQ(Slurp(dir / "m.txt.gz").substr(0, 2), "\x1f\x8b");
  EXPECT_FALSE(IsModelFile(dir / "absent"));
}

// The first line that starts with key replaced by line.
std::string WithLine(std::string text, const std::string& key, const std::string& line) {
  const size_t at = text.find("\n" + key) + 1;
  const size_t end = text.find('\n', at);
  return text.replace(at, end - at, line);
}

TEST(ModelFileTest, DamagedFilesAreRefusedAtTheirLine) {
  const std::string pwm = Seed("pwm"), c45 = Seed("c45_trials"), knn = Seed("knn"), nn = Seed("nn"),
                    stacked = Seed("stacking_knn");
  struct Case {
    std::string text;
    const char* message;  // a regular expression
  } cases[] = {
      {"varnik-model 2 varnik 9\n", "m:1: format version 2 is not one this varnik reads"},
      {"something else\n", "m:1: expected \"varnik-model\""},
      {WithLine(pwm, "method", "method Forest"), "m:2: unknown method \"Forest\""},
      {WithLine(pwm, "threshold", "threshold nan"), "m:3: not a finite number: \"nan\""},
      {WithLine(pwm, "window_length", "window_length 59"),
       "window length 59 is not the 60 letters the cut leaves"},
      {WithLine(pwm, "kept", "kept 2 3 3"), "position 3 is kept twice"},
      {WithLine(pwm, "mask", "mask 3 1 1 1"), "the mask has 3 flags, the window 60 letters"},
      {WithLine(pwm, "pwm", "pwm 61"), "the matrix has 61 columns, the window 60 letters"},
      {pwm.substr(0, pwm.size() - 4), "the file ends too early"},
      {pwm + "more\n", "text after \"end\""},
      {WithLine(c45, "tree", "tree 99999999"), "the count 99999999 of tree nodes is more than"},
      {WithLine(c45, "node 1", "node 1 0 40 0 60 18 1 2"), "the value 60 is outside 0 .. 59"},
      {WithLine(c45, "node 1", "node 1 0 40 0 3 17 1 2"),
       "a test on position 3 with 17 branches, not one per letter"},
      {WithLine(knn, "knn", "knn 3 40 80 61"), "the prototypes have 61 letters, the window 60"},
      {WithLine(knn, "GAGGAG", std::string(66, 'A')), "a prototype of 66 letters, not 60"},
      {WithLine(nn, "network", "network 200 2 1 1"),
       "the network has 200 inputs, a window of 60 letters gives 240"},
      {WithLine(nn, "output_weights", "output_weights 1 2"),
       "\"output_weights\" holds 2 numbers, not 3"},
      {WithLine(stacked, "component", "component 1024 0"), "no stacking component has the bit"},
  };
  for (const Case& c : cases) {
    try {
      ParseModelFile(c.text, "m");
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const VarnikError& e) {
      EXPECT_TRUE(std::regex_search(e.what(), std::regex(c.message))) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("m:", 0), 0u) << e.what();
    }
  }
}

}  // namespace
}  // namespace varnik
