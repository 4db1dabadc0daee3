#include "recognizers/stop_codon.h"

#include <gtest/gtest.h>

#include "core/error.h"

namespace varnik {
namespace {

TEST(StopCodonTest, TrainingEndsTheRun) {
  try {
    StopCodonMethod();
  } catch (const VarnikError& e) {
    EXPECT_EQ(e.code(), 1);
    EXPECT_EQ(e.Line(), "Unspecified error: Offset to sequence must be reprogrammed");
  }
}

TEST(StopCodonTest, ScoreByTheFirstStopCodonAfterTheFirstCodon) {
  const std::vector<float> table = {10.0f, 20.0f, 30.0f};
  // Codons after ATG: AAA, TAG -> k = 1.
  EXPECT_EQ(GetSequenceScore("ATGAAATAGCCC", 12, table, 0), 20.0f);
  // TAA and TGA count too; a stop in the first codon does not.
  EXPECT_EQ(GetSequenceScore("TAATAA", 6, table, 0), 10.0f);
  EXPECT_EQ(GetSequenceScore("ATGCCCGGGTGA", 12, table, 0), 30.0f);
  // No stop within the table: its last entry.
  EXPECT_EQ(GetSequenceScore("ATGAAACCCGGGTTTAAAC", 19, table, 0), 30.0f);
  // The window ends before the table does: the codon count reached.
  const std::vector<float> long_table = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(GetSequenceScore("ATGAAACCC", 9, long_table, 0), 3.0f);
  // A codon cut off by the window's end is no stop codon (T, A then the end).
  EXPECT_EQ(GetSequenceScore("ATGAAATA", 8, long_table, 0), 3.0f);
  EXPECT_EQ(GetSequenceScore("ATGAAATAG", 9, long_table, 0), 2.0f);
  // Too short for a second codon: k = 0.
  EXPECT_EQ(GetSequenceScore("ATG", 3, table, 0), 10.0f);
  // The offset moves the reading frame.
  EXPECT_EQ(GetSequenceScore("CATGTAG", 7, table, 1), 10.0f);
  EXPECT_EQ(GetSequenceScore("ATGTAG", 6, table, -4), 10.0f);
  // An empty table scores 0.
  EXPECT_EQ(GetSequenceScore("ATGTAG", 6, {}, 0), 0.0f);
}

}  // namespace
}  // namespace varnik
