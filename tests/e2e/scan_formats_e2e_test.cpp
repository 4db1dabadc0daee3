// The scan command's formats, inputs and refusals, run through the built
// program with a model whose training windows all hold GT at 5-6.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "driver/track_file.h"
#include "e2e/site_windows.h"

namespace varnik {
namespace {

using testing::Lines;
using testing::ReadFile;
using testing::RunVarnikSplit;
using testing::TempDir;
using testing::WriteFile;

constexpr int kW = 14;  // the model's window

std::string RevComp(std::string s) {
  std::reverse(s.begin(), s.end());
  for (char& c : s) c = c == 'A' ? 'T' : c == 'T' ? 'A' : c == 'G' ? 'C' : c == 'C' ? 'G' : c;
  return s;
}

struct Genome {
  std::vector<std::pair<std::string, std::string>> records;
  std::string Fasta() const {
    std::string text;
    for (const auto& [name, seq] : records) {
      text += ">" + name + " some words\n";
      for (size_t i = 0; i < seq.size(); i += 70) text += seq.substr(i, 70) + "\n";
    }
    return text;
  }
};

class ScanFormatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CRandom rng(11);
    auto windows = [&](bool motif) {
      std::string text;
      for (int i = 0; i < 80; ++i) {
        std::string w = testing::RandomDna(rng, kW);
        w.replace(5, 2, "GT");
        if (motif) w.replace(8, 3, "AAG");
        text += ">w" + std::to_string(i) + "\n" + w + "\n";
      }
      return text;
    };
    WriteFile(dir_ / "tr_pos", windows(true));
    WriteFile(dir_ / "tr_neg", windows(false));
    WriteFile(dir_ / "p", "Recognition_method: PWM\n");
    ASSERT_EQ(testing::RunVarnikIn(dir_.path(), "--model m tr_ NIL p run").status, 1);
    ASSERT_NE(ReadFile(dir_ / "m").find("\ncore 2 5 G 6 T\n"), std::string::npos);
    // A record across the reader's 1-MB pieces, sites at both ends of
    // each record, a stretch of N and a record shorter than the window.
    std::string chr1 = testing::RandomDna(rng, (size_t{1} << 20) + 300);
    chr1.replace(0, kW, "CCCCCGTCAAGCCC");
    chr1.replace((size_t{1} << 20) - 7, kW, "CCCCCGTCAAGCCC");
    chr1.replace(chr1.size() - kW, kW, RevComp("CCCCCGTCAAGCCC"));
    std::string chr2 = testing::RandomDna(rng, 5000);
    chr2.replace(2000, 300, std::string(300, 'N'));
    chr2.replace(0, kW, RevComp("TTTTTGTCAAGTTT"));
    genome_.records = {{"chr2", chr2}, {"tiny", "ACGTGTACG"}, {"chr1", chr1}};
    WriteFile(dir_ / "genome.fa", genome_.Fasta());
  }

  // Every window of the records holding GT at 5-6 (on the minus strand, of
  // its reverse complement) and only the four bases: the BED lines of a
  // scan that lists every score, in the order the scan writes them.
  std::vector<std::string> Candidates() const {
    std::vector<std::string> lines;
    for (const auto& [name, seq] : genome_.records) {
      for (size_t p = 0; p + kW <= seq.size(); ++p) {
        const std::string w = seq.substr(p, kW);
        if (w.find_first_not_of("ACGT") != std::string::npos) continue;
        const std::string head = name + "\t" + std::to_string(p) + "\t" + std::to_string(p + kW);
        if (w.substr(5, 2) == "GT") lines.push_back(head + "\t+");
        if (RevComp(w).substr(5, 2) == "GT") lines.push_back(head + "\t-");
      }
    }
    return lines;
  }

  TempDir dir_;
  Genome genome_;
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t at = 0;
  for (size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1) {
    fields.push_back(line.substr(at, tab - at));
  }
  fields.push_back(line.substr(at));
  return fields;
}

// "" when the texts are equal, else their first differing lines (a long
// text compared whole would make a failure's message too large).
std::string FirstDifference(const std::string& got, const std::string& want) {
  if (got == want) return "";
  const std::vector<std::string> a = Lines(got), b = Lines(want);
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return "line " + std::to_string(i + 1) + ": got \"" + (i < a.size() ? a[i] : "(end)") +
         "\", want \"" + (i < b.size() ? b[i] : "(end)") + "\"";
}

// chrom start end . score strand, without the score: chrom start end strand.
std::string WithoutScore(const std::string& bed) {
  const size_t dot = bed.find("\t.\t");
  return bed.substr(0, dot) + bed.substr(bed.rfind('\t'));
}

TEST_F(ScanFormatsTest, EveryFormatGivesTheSitesOfTheBedLines) {
  const std::string scan = "--threads 3 scan --strands both --min-score -1e30 ";
  const auto bed = RunVarnikSplit(dir_.path(), scan + "m genome.fa");
  ASSERT_EQ(bed.status, 0) << bed.err;
  const std::vector<std::string> lines = Lines(bed.out);
  std::vector<std::string> found;
  for (const std::string& l : lines) found.push_back(WithoutScore(l));
  const std::vector<std::string> expected = Candidates();
  EXPECT_EQ(found.size(), expected.size());
  EXPECT_TRUE(found == expected);
  for (const char* planted : {"chr1\t0\t14\t+", "chr1\t1048569\t1048583\t+",
                              "chr1\t1048862\t1048876\t-", "chr2\t0\t14\t-"}) {
    EXPECT_NE(std::find(found.begin(), found.end(), planted), found.end()) << planted;
  }
  // 300 N: 313 windows on each strand hold one; those holding the core are
  // skipped and counted.
  long long skipped = 0;
  const std::string& chr2 = genome_.records[0].second;
  for (int p = 2000 - kW + 1; p < 2300; ++p) {
    const std::string w = chr2.substr(static_cast<size_t>(p), kW);
    skipped += (w.substr(5, 2) == "GT") + (RevComp(w).substr(5, 2) == "GT");
  }
  const long long positions = (5000 - kW + 1) + (1048876 - kW + 1);
  EXPECT_NE(
      bed.err.find("scan: " + std::to_string(positions) + " positions on each strand, " +
                   std::to_string(lines.size()) +
                   " windows scored (those holding the model's core), " + std::to_string(skipped) +
                   " skipped for letters other than A, C, G, T, 1 record shorter than the "
                   "window\n"),
      std::string::npos)
      << bed.err;

  // Each BED line's site: the G of its core (on the minus strand, the C that
  // pairs with it), one line per site in position order.
  std::map<std::string, std::map<long long, std::pair<std::string, char>>> sites;
  for (const std::string& l : lines) {
    const std::vector<std::string> f = Fields(l);
    const long long start = std::stoll(f[1]);
    const long long site = f[5] == "+" ? start + 5 : start + kW - 1 - 5;
    ASSERT_TRUE(sites[f[0]].emplace(site, std::make_pair(f[4], f[5][0])).second) << l;
  }
  std::string bedgraph, tsv = "name\tposition\tstrand\tscore\tcall\n";
  for (const auto& [name, seq] : genome_.records) {
    for (const auto& [site, what] : sites[name]) {
      EXPECT_EQ(seq[static_cast<size_t>(site)], what.second == '+' ? 'G' : 'C');
      const std::string at = std::to_string(site);
      bedgraph += name + "\t" + at + "\t" + std::to_string(site + 1) + "\t" + what.first + "\n";
      tsv += name + "\t" + at + "\t" + what.second + "\t" + what.first + "\t" +
             (std::stod(what.first) > -1e30 ? "1" : "0") + "\n";
    }
  }
  const auto graph = RunVarnikSplit(dir_.path(), scan + "--format bedgraph m genome.fa");
  EXPECT_EQ(FirstDifference(graph.out, bedgraph), "");
  const auto table =
      RunVarnikSplit(dir_.path(), scan + "--format tsv --output out.tsv m genome.fa");
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(FirstDifference(ReadFile(dir_ / "out.tsv"), tsv), "");
  if (!BigWigAvailable()) GTEST_SKIP() << "built without libBigWig";
  // The bigWig, read back, holds the bedGraph's values and the records'
  // lengths: counted in a first pass, or read from the index.
  for (const bool indexed : {false, true}) {
    if (indexed) {
      WriteFile(dir_ / "genome.fa.fai",
                "chr2\t5000\t6\t70\t71\ntiny\t9\t99\t70\t71\nchr1\t1048876\t200\t70\t71\n");
    }
    const auto track = RunVarnikSplit(dir_.path(), scan + "--format bigwig m genome.fa out.bw");
    ASSERT_EQ(track.status, 0) << track.err;
    std::string back;
    char value[64];
    for (const TrackValue& v : ReadBigWig(dir_ / "out.bw")) {
      std::snprintf(value, sizeof value, "%.6f", static_cast<double>(v.value));
      back += v.chromosome + "\t" + std::to_string(v.start) + "\t" + std::to_string(v.end) + "\t" +
              value + "\n";
    }
    EXPECT_EQ(FirstDifference(back, bedgraph), "") << indexed;
    const std::vector<IndexedRecord> chromosomes = BigWigChromosomes(dir_ / "out.bw");
    ASSERT_EQ(chromosomes.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(chromosomes[i].name, genome_.records[i].first);
      EXPECT_EQ(chromosomes[i].length, genome_.records[i].second.size());
    }
  }
}

TEST_F(ScanFormatsTest, SeveralFilesAndStandardInputGiveTheLinesOfOne) {
  const std::string scan = "scan --strands both --format tsv ";
  const auto whole = RunVarnikSplit(dir_.path(), scan + "m genome.fa");
  ASSERT_EQ(whole.status, 0) << whole.err;
  Genome first = genome_, second = genome_;
  first.records.resize(1);
  second.records.erase(second.records.begin());
  WriteFile(dir_ / "a.fa", first.Fasta());
  WriteFile(dir_ / "b.fa", second.Fasta());
  ASSERT_EQ(testing::RunCommand("cd '" + dir_.path() + "' && gzip -k b.fa").status, 0);
  const auto split = RunVarnikSplit(dir_.path(), scan + "--output - m a.fa b.fa.gz");
  EXPECT_EQ(FirstDifference(split.out, whole.out), "");
  const auto piped =
      testing::RunCommand("cd '" + dir_.path() + "' && cat b.fa | '" + VARNIK_BINARY + "' " + scan +
                          "--output both.tsv m a.fa - 2>/dev/null");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(FirstDifference(ReadFile(dir_ / "both.tsv"), whole.out), "");
}

TEST_F(ScanFormatsTest, BadInputIsNamedAndLeavesNoOutput) {
  WriteFile(dir_ / "unnamed.fa", ">chr1\nACGTACGTACGTACGTAC\n> no name\nACGTACGTACGTACGT\n");
  WriteFile(dir_ / "short.fa", ">chr2\nACGTGTACGTACGTACGTAC\n");
  WriteFile(dir_ / "short.fa.fai", "chr2\t25\t6\t20\t21\n");
  WriteFile(dir_ / "renamed.fa", ">chr3\nACGTGTACGTACGTACGTAC\n");
  WriteFile(dir_ / "renamed.fa.fai", "chrX\t20\t6\t20\t21\n");
  WriteFile(dir_ / "extra.fa", ">chr4\nACGTGTACGTACGTACGTAC\n");
  WriteFile(dir_ / "extra.fa.fai", "chr4\t20\t6\t20\t21\nchr5\t20\t34\t20\t21\n");
  WriteFile(dir_ / "broken.fa", ">chr6\nACGTGTACGTACGTACGTAC\n");
  WriteFile(dir_ / "broken.fa.fai", "chr6\t2x0\t6\t20\t21\n");
  WriteFile(dir_ / "twice.fa", ">chr7\nACGTGTACGTACGTAC\n>chr7\nACGTACGTACGTACGT\n");
  const struct {
    const char* arguments;
    const char* said;  // on standard error
  } cases[] = {
      {"m unnamed.fa out", "unnamed.fa: line 3: a record without a name"},
      {"--format bigwig m short.fa out",
       "short.fa.fai does not fit short.fa: it gives the record "
       "chr2 25 letters, the file 20"},
      {"--format bigwig m renamed.fa out", "its record 1 is chrX, the file's is chr3"},
      {"--format bigwig m extra.fa out", "it lists chr5, which the file does not hold"},
      {"--format bigwig m broken.fa out", "broken.fa.fai: line 1: field 2 is not a count: \"2x0\""},
      {"--format bigwig m twice.fa out", "the record chr7 is in twice.fa twice"},
      {"--format bigwig m genome.fa", "--format bigwig writes a file"},
      {"--format bigwig --output out m -", "it cannot read standard input"},
      {"--format wig m genome.fa", "--format must be bed, bedgraph, bigwig or tsv, not \"wig\""},
      {"m genome.fa unnamed.fa out",
       "several FASTA files are scanned into the file --output names"},
      {"--output m m genome.fa", "m"},
      {"--output out m - -", "standard input (-) can be read only once"},
  };
  for (const auto& c : cases) {
    if (!BigWigAvailable() && std::string(c.arguments).find("bigwig m") != std::string::npos) {
      continue;
    }
    const auto r = RunVarnikSplit(dir_.path(), std::string("scan ") + c.arguments);
    EXPECT_NE(r.status, 0) << c.arguments;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << c.arguments << "\n" << r.err;
    EXPECT_EQ(r.out, "") << c.arguments;
    struct stat st {};
    EXPECT_NE(stat((dir_ / "out").c_str(), &st), 0) << c.arguments;
  }
  EXPECT_EQ(Lines(ReadFile(dir_ / "genome.fa")).size(), Lines(genome_.Fasta()).size());
}

}  // namespace
}  // namespace varnik
