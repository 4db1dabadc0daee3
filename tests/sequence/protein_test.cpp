#include "sequence/protein.h"

#include <gtest/gtest.h>

#include "core/error.h"

namespace varnik {
namespace {

TEST(ProteinTest, TranslatesCodonsInPlace) {
  SequenceSet set(0, 6);
  set.Append("atgTAA");
  set.Append("TTTTGG");
  set.Append("NNNAUG");
  EXPECT_EQ(ConvertToProtein(set, 6), 2);
  EXPECT_STREQ(set[0], "MX");
  EXPECT_STREQ(set[1], "FW");
  EXPECT_STREQ(set[2], "XX");  // N, and a codon spelled with U, match no row
  EXPECT_EQ(TranslateCodon("AGA"), 'R');
  EXPECT_EQ(TranslateCodon("TGA"), 'X');
  EXPECT_EQ(TranslateCodon("CAG"), 'Q');
  EXPECT_EQ(TranslateCodon("GGC"), 'G');
  EXPECT_EQ(TranslateCodon("ATA"), 'I');
}

TEST(ProteinTest, IncompleteCodonsAndEmptySets) {
  SequenceSet empty(0, 9);
  EXPECT_EQ(ConvertToProtein(empty, 9), 3);
  SequenceSet set(1, 100);
  try {
    ConvertToProtein(set, 100);
    FAIL();
  } catch (const VarnikError& e) {
    EXPECT_EQ(e.code(), 1);
    EXPECT_STREQ(e.what(), "Cannot convert to protein if incomplete codons");
  }
}

}  // namespace
}  // namespace varnik
