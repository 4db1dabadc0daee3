#include "sequence/fasta.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdlib>
#include <thread>

#include "core/error.h"
#include "sequence/alphabet.h"
#include "sequence/fasta_stream.h"
#include "test_util.h"

namespace varnik {
namespace {

class FastaTest : public ::testing::Test {
 protected:
  // Reads text as a FASTA file as a run does (the first file read fixes
  // Length); returns the windows as strings.
  std::vector<std::string> Read(const std::string& text, int* length = nullptr) {
    const std::string path = dir_ / ("f" + std::to_string(files_++));
    testing::WriteFile(path, text);
    SequenceSet set;
    const int L = ReadFastaFile(path, settings_, set);
    if (settings_.Length == 0) settings_.Length = L;
    if (length != nullptr) *length = L;
    std::vector<std::string> out;
    for (int i = 0; i < set.size(); ++i) {
      out.emplace_back(set[i]);
      EXPECT_EQ(static_cast<int>(out.back().size()), L);
    }
    return out;
  }

  VarnikError ReadError(const std::string& text) {
    try {
      Read(text);
    } catch (const VarnikError& e) {
      return e;
    }
    ADD_FAILURE() << "no error for:\n" << text;
    return VarnikError(0, "");
  }

  testing::TempDir dir_;
  int files_ = 0;
  Settings settings_;
};

TEST_F(FastaTest, JoinsLinesNormalisesLettersAndSetsLength) {
  int L = 0;
  EXPECT_EQ(Read(">a\nACGT\nACGT\n>b some text\nacgu\nNN-N\n", &L),
            (std::vector<std::string>{"ACGTACGT", "ACGTNN-N"}));
  EXPECT_EQ(L, 8);
  EXPECT_EQ(settings_.Length, 8);
}

TEST_F(FastaTest, EveryAlphabetLetterInEitherCaseIsAccepted) {
  const std::string upper = "ATUGCRYKMSWBDHVNX-";
  const std::string lower = "atugcrykmswbdhvnx-";
  EXPECT_EQ(Read(">1\n" + upper + "\n>2\n" + lower + "\n"),
            (std::vector<std::string>{"ATTGCRYKMSWBDHVNX-", "ATTGCRYKMSWBDHVNX-"}));
}

TEST_F(FastaTest, LettersOutsideTheAlphabetStopTheRun) {
  for (const char* bad :
       {">a\nACZT\n", ">a\nAC1T\n", ">a\nACGT\r\n", ">a\nAC T\n", ">a\nACGT\n>b\nAC.T\n"}) {
    const VarnikError e = ReadError(bad);
    EXPECT_EQ(e.code(), 1);
    EXPECT_STREQ(e.what(), "Sequence contains errors") << bad;
  }
  // A NUL byte is not a letter either.
  EXPECT_STREQ(ReadError(std::string(">a\nAC\0T\n", 8)).what(), "Sequence contains errors");
}

TEST_F(FastaTest, OffsetAndLengthCutEveryWindow) {
  std::string w60, w70;
  for (int i = 0; i < 60; ++i) w60 += "ACGT"[i % 4];
  for (int i = 0; i < 70; ++i) w70 += "TGCA"[i % 4];
  settings_.Offset = 10;
  settings_.Length = 20;
  int L = 0;
  EXPECT_EQ(Read(">a\n" + w60 + "\n", &L)[0], w60.substr(10, 20));
  EXPECT_EQ(L, 20);

  settings_.Length = 0;
  EXPECT_EQ(Read(">a\n" + w60 + "\n", &L)[0], w60.substr(10));
  EXPECT_EQ(L, 50);
  EXPECT_EQ(settings_.Length, 50);
  // The next file is cut the same way.
  EXPECT_EQ(Read(">b\n" + w70 + "\n", &L)[0], w70.substr(10, 50));
  EXPECT_EQ(L, 50);
}

TEST_F(FastaTest, LengthChecks) {
  std::string w60(60, 'A'), w50(50, 'C');
  Read(">p\n" + w60 + "\n");
  VarnikError e = ReadError(">n\n" + w50 + "\n");
  EXPECT_EQ(e.code(), 1);
  EXPECT_STREQ(e.what(), "Length too long");

  settings_ = Settings();
  ::testing::internal::CaptureStdout();
  e = ReadError(">a\nACGT\n>b\nACG\n");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Length: 3\tOld length: 4\n");
  EXPECT_STREQ(e.what(), "Lengths differ");

  // The comparison is on the lengths before cutting.
  settings_ = Settings();
  settings_.Length = 2;
  ::testing::internal::CaptureStdout();
  e = ReadError(">a\nACGT\n>b\nACGTA\n");
  ::testing::internal::GetCapturedStdout();
  EXPECT_STREQ(e.what(), "Lengths differ");
}

TEST_F(FastaTest, LastLineWithoutLineEndAndLongHeadersAreRead) {
  const std::string header(25000, 'x');
  const std::string long_seq(30000, 'G');
  EXPECT_EQ(Read(">" + header + "ACGT\nACGT\n>b\nTTTT"),
            (std::vector<std::string>{"ACGT", "TTTT"}));
  settings_ = Settings();
  EXPECT_TRUE(Read(">a\n" + long_seq + "\n")[0] == long_seq);
  // Blank lines inside a record add nothing.
  settings_ = Settings();
  EXPECT_EQ(Read(">a\nAC\n\nGT\n\n>b\nTTTT\n"), (std::vector<std::string>{"ACGT", "TTTT"}));
}

TEST_F(FastaTest, BadFilesGetClearErrors) {
  {
    const VarnikError e = ReadError("");
    EXPECT_EQ(e.code(), 1);
    EXPECT_NE(std::string(e.what()).find("no records"), std::string::npos);
  }
  EXPECT_NE(std::string(ReadError("ACGT\n>a\nACGT\n").what()).find("no records"),
            std::string::npos);
  // A header with no letters gives empty windows, which cannot be used.
  EXPECT_STREQ(ReadError(">a\n>b\n").what(), "Empty sequence windows");

  settings_.Offset = -1;
  EXPECT_STREQ(ReadError(">a\nACGT\n").what(), "Offset_to_start must not be negative");
  settings_.Offset = 0;
  settings_.Length = -3;
  EXPECT_STREQ(ReadError(">a\nACGT\n").what(), "Sequence_length must not be negative");

  settings_ = Settings();
  SequenceSet set;
  try {
    ReadFastaFile(dir_ / "absent", settings_, set);
    FAIL();
  } catch (const VarnikError& e) {
    EXPECT_EQ(e.code(), 1);
    EXPECT_STREQ(e.what(), "Sequence file not found");
  }
}

TEST_F(FastaTest, CheckAndCutSequence) {
  std::string w = "ACGTACGTAC";
  settings_.Offset = 2;
  settings_.Length = 5;
  EXPECT_EQ(CheckAndCutSequence(w, settings_), 5);
  EXPECT_EQ(w, "GTACG");
  std::string bad = "ACGZ";
  settings_ = Settings();
  EXPECT_THROW(CheckAndCutSequence(bad, settings_), VarnikError);
  std::string shortw = "AC";
  settings_.Length = 3;
  EXPECT_THROW(CheckAndCutSequence(shortw, settings_), VarnikError);
}

class UndersamplingTest : public FastaTest {
 protected:
  std::vector<std::string> ReadKept(const std::string& text, int n_keep, unsigned seed) {
    const std::string path = dir_ / ("u" + std::to_string(files_++));
    testing::WriteFile(path, text);
    SequenceSet set;
    CRandom rng(seed);
    ReadFastaFileWithUndersampling(path, settings_, set, n_keep, rng);
    std::vector<std::string> out;
    for (int i = 0; i < set.size(); ++i) out.emplace_back(set[i]);
    return out;
  }
  std::string Records(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) {
      std::string w;
      for (int b = 0; b < 6; ++b) w += "ACGT"[(i >> (2 * b)) & 3];
      text += ">r" + std::to_string(i) + "\n" + w + "\n";
      all_.push_back(w);
    }
    return text;
  }
  std::vector<std::string> all_;
};

TEST_F(UndersamplingTest, KeepsTheDrawnRecordsInFileOrder) {
  const std::string text = Records(50);
  const std::vector<std::string> kept = ReadKept(text, 10, 31);
  ASSERT_EQ(kept.size(), 10u);
  // Same draws as a selection by hand.
  CRandom rng(31);
  std::vector<char> marked(50, 0);
  int n = 0;
  while (n < 10) {
    const int i = rng.UniformIndex(50);
    if (!marked[i]) {
      marked[i] = 1;
      ++n;
    }
  }
  std::vector<std::string> expected;
  for (int i = 0; i < 50; ++i) {
    if (marked[i]) expected.push_back(all_[i]);
  }
  EXPECT_EQ(kept, expected);
  EXPECT_EQ(ReadKept(text, 10, 31), kept);
  EXPECT_NE(ReadKept(text, 10, 32), kept);
}

TEST_F(UndersamplingTest, AskingForAllOrMoreKeepsEveryRecord) {
  const std::string text = Records(20);
  EXPECT_EQ(ReadKept(text, 20, 3), all_);
  EXPECT_EQ(ReadKept(text, 500, 3), all_);
}

TEST_F(UndersamplingTest, EveryRecordIsCheckedWhateverTheDraw) {
  // One bad letter, and one record of another length, among records that
  // are rarely all drawn: every seed refuses the file.
  for (const char* bad : {"ACGZTA", "ACGTA"}) {
    std::string text = Records(30);
    text += std::string(">bad\n") + bad + "\n" + Records(30);
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
      ::testing::internal::CaptureStdout();
      EXPECT_THROW(ReadKept(text, 2, seed), VarnikError) << bad << " " << seed;
      ::testing::internal::GetCapturedStdout();
    }
  }
}

// The readers work block by block: records across the blocks, compressed
// files of several members (as cat joins them), pipes, and the stream of
// long records with Windows line ends read the same as one plain file.
std::string Gzipped(const std::string& text) {
  std::string out(compressBound(text.size()) + 64, '\0');
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST_F(UndersamplingTest, StreamsOfBlocksMembersAndPipesReadAlike) {
  // About 2.7 MB: records cross the reader's 1 MiB blocks.
  std::string text;
  for (int i = 0; i < 40000; ++i) {
    std::string w;
    for (int b = 0; b < 60; ++b) w += "ACGT"[(i * 7 + b * b) % 4];
    text +=
        ">r" + std::to_string(i) + " some words\n" + w.substr(0, 25) + "\n" + w.substr(25) + "\n";
  }
  const std::string plain = dir_ / "plain", joined = dir_ / "joined";
  testing::WriteFile(plain, text);
  const size_t half = text.find(">r20000 ");
  testing::WriteFile(joined, Gzipped(text.substr(0, half)) + Gzipped(text.substr(half)));
  SequenceSet a, b;
  std::vector<std::string> na, nb;
  ASSERT_EQ(ReadFastaFile(plain, settings_, a, &na), 60);
  ASSERT_EQ(ReadFastaFile(joined, settings_, b, &nb), 60);
  ASSERT_EQ(a.size(), 40000);
  ASSERT_EQ(b.size(), 40000);
  for (int i = 0; i < a.size(); i += 997) EXPECT_STREQ(a[i], b[i]) << i;
  EXPECT_EQ(na, nb);
  EXPECT_EQ(na[39999], "r39999");
  // The same text through a pipe, and undersampled from a file and a pipe.
  const std::string fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto through_pipe = [&](auto read) {
    std::thread writer([&] { testing::WriteFile(fifo, text); });
    read();
    writer.join();
  };
  SequenceSet c;
  through_pipe([&] { ReadFastaFile(fifo, settings_, c); });
  ASSERT_EQ(c.size(), 40000);
  EXPECT_STREQ(c[31234], a[31234]);
  SequenceSet from_file, from_pipe;
  CRandom r1(5), r2(5);
  ReadFastaFileWithUndersampling(plain, settings_, from_file, 1000, r1);
  through_pipe([&] { ReadFastaFileWithUndersampling(fifo, settings_, from_pipe, 1000, r2); });
  ASSERT_EQ(from_file.size(), 1000);
  ASSERT_EQ(from_pipe.size(), 1000);
  for (int i = 0; i < 1000; ++i) EXPECT_STREQ(from_file[i], from_pipe[i]) << i;
  EXPECT_EQ(r1.Next(), r2.Next());
  // Cut short: refused.
  const std::string packed = Gzipped(text);
  testing::WriteFile(dir_ / "cut", packed.substr(0, packed.size() - 10));
  SequenceSet d;
  try {
    ReadFastaFile(dir_ / "cut", settings_, d);
    ADD_FAILURE() << "a cut file was read";
  } catch (const VarnikError& e) {
    EXPECT_EQ(e.code(), kReadFailed);
  }
}

TEST(FastaStreamTest, WindowsLineEndsAndJoinedMembers) {
  testing::TempDir dir;
  const std::string text = ">one x\r\nACGT\r\nTTGG\r\n>two\r\nCC\r\n";
  testing::WriteFile(dir / "crlf.fa", text);
  testing::WriteFile(dir / "two.fa.gz", Gzipped(text.substr(0, 12)) + Gzipped(text.substr(12)));
  for (const char* name : {"crlf.fa", "two.fa.gz"}) {
    FastaStream in(dir / name);
    std::vector<std::string> records;
    std::string record_name;
    while (in.NextRecord(record_name)) {
      std::string letters(100, '\0');
      letters.resize(in.Read(letters.data(), letters.size()));
      records.push_back(record_name + ":" + letters);
    }
    EXPECT_EQ(records, (std::vector<std::string>{"one:ACGTTTGG", "two:CC"})) << name;
  }
}

TEST(WindowFilePathTest, FallsBackToTheDataDirectoryUnderHome) {
  testing::TempDir home;
  std::filesystem::create_directories(home / "data/sets");
  testing::WriteFile(home / "data/sets/xyzpos", ">a\nACGT\n");
  const char* old_home = std::getenv("HOME");
  const std::string saved = old_home ? old_home : "";
  setenv("HOME", home.path().c_str(), 1);
  Settings s;
  s.Datad = "data/sets";
  EXPECT_EQ(WindowFilePath("xyz", "pos", s), home / "data/sets/xyzpos");
  testing::WriteFile("xyz_local_pos", ">a\nACGT\n");
  EXPECT_EQ(WindowFilePath("xyz_local_", "pos", s), "xyz_local_pos");
  std::remove("xyz_local_pos");
  if (old_home) setenv("HOME", saved.c_str(), 1);
}

TEST(AlphabetTest, IndexTables) {
  EXPECT_EQ(DNAindex['A'], 1);
  EXPECT_EQ(DNAindex['T'], 2);
  EXPECT_EQ(DNAindex['G'], 3);
  EXPECT_EQ(DNAindex['C'], 4);
  EXPECT_EQ(DNAindex['-'], 0);
  for (char c : std::string("UBDHKMNRSVWXY")) EXPECT_EQ(DNAindex[c], -1) << c;
  EXPECT_EQ(DNAindex['E'], 0);
  for (char c : std::string("UBDHKMNRSVWXY-")) EXPECT_EQ(DNAindexPWM[c], 0) << c;
  EXPECT_EQ(DNAindexPWM['C'], 4);
  EXPECT_EQ(PWMIndexOf(static_cast<char>(200)), 0);
  EXPECT_EQ(DNAIndexOf('z'), 0);
}

}  // namespace
}  // namespace varnik
