// The scan command, compressed input and the ROC picture, run through the
// built program.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <regex>

#include "e2e/site_windows.h"

namespace varnik {
namespace {

using testing::Lines;
using testing::RandomDna;
using testing::ReadFile;
using testing::RunVarnikIn;
using testing::SaveWdModel;
using testing::TempDir;
using testing::WriteFile;
using testing::WriteWindows;

std::string ReverseComplement(const std::string& s) {
  std::string r(s.rbegin(), s.rend());
  for (char& c : r) c = c == 'A' ? 'T' : c == 'T' ? 'A' : c == 'G' ? 'C' : 'G';
  return r;
}

void WriteGzip(const std::string& path, const std::string& text) {
  gzFile f = gzopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(gzwrite(f, text.data(), static_cast<unsigned>(text.size())),
            static_cast<int>(text.size()));
  gzclose(f);
}

std::string Wrapped(const std::string& name, const std::string& seq) {
  std::string text = ">" + name + " a description\n";
  for (size_t i = 0; i < seq.size(); i += 60) text += seq.substr(i, 60) + "\n";
  return text;
}

TEST(ScanCommandTest, FindsPlantedWindowsOnBothStrandsInPositionOrder) {
  TempDir dir;
  SaveWdModel(dir, 1);
  const std::string site = "CAGTTGTAAGCA";
  WriteFile(dir / "site", ">site\n" + site + "\n");
  const auto scored = RunVarnikIn(dir.path(), "score p tr_.run.model site");
  ASSERT_EQ(scored.status, 0) << scored.out;
  const double site_score = std::stod(scored.out.substr(scored.out.find('\t') + 1));

  CRandom rng(5);
  std::string chr = RandomDna(rng, 3000);
  chr.replace(1000, 12, site);
  chr.replace(2000, 12, ReverseComplement(site));
  std::string broken = site;
  broken[8] = 'N';  // outside the windows' alphabet: skipped
  chr.replace(500, 12, broken);
  for (size_t i = 2500; i < 2600; ++i) chr[i] = static_cast<char>(std::tolower(chr[i]));
  chr.replace(2500, 12, "cagttgtaagca");  // soft-masked letters count as letters
  const std::string fasta = Wrapped("chr1", chr) + Wrapped("short", "ACGT");
  WriteFile(dir / "genome.fa", fasta);
  WriteGzip(dir / "genome.fa.gz", fasta);

  char min[32];
  std::snprintf(min, sizeof min, "%.6f", site_score - 1e-4);
  const auto r =
      RunVarnikIn(dir.path(), std::string("--threads 3 scan --strands both --min-score ") + min +
                                  " p tr_.run.model genome.fa.gz out.bed");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::vector<std::string> lines = Lines(ReadFile(dir / "out.bed"));
  long previous = -1;
  bool plus = false, minus = false, masked = false;
  for (const std::string& line : lines) {
    char chrom[16], name[4], strand = 0;
    long start = 0, end = 0;
    double score = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%15s\t%ld\t%ld\t%3s\t%lf\t%c", chrom, &start, &end, name,
                          &score, &strand),
              6)
        << line;
    EXPECT_STREQ(chrom, "chr1");
    EXPECT_EQ(end - start, 12);
    EXPECT_GT(score, site_score - 1e-4);
    EXPECT_GE(start, previous);
    EXPECT_NE(start, 500);
    previous = start;
    plus |= start == 1000 && strand == '+';
    minus |= start == 2000 && strand == '-';
    masked |= start == 2500 && strand == '+';
  }
  EXPECT_TRUE(plus && minus && masked) << ReadFile(dir / "out.bed");
  // The plain file, one thread and standard output give the same lines.
  const auto plain = RunVarnikIn(dir.path(), std::string("--threads 1 scan --min-score ") + min +
                                                 " --strands both p tr_.run.model genome.fa");
  EXPECT_EQ(plain.out, ReadFile(dir / "out.bed"));
  // Plus strand only; the model's threshold by default.
  const auto one = RunVarnikIn(
      dir.path(), std::string("scan --min-score ") + min + " p tr_.run.model genome.fa");
  EXPECT_EQ(one.out.find("\t-\n"), std::string::npos);
  EXPECT_NE(one.out.find("chr1\t1000\t1012\t.\t"), std::string::npos);
  EXPECT_EQ(RunVarnikIn(dir.path(), "scan p tr_.run.model genome.fa").status, 0);

  for (const char* bad : {"scan --strands minus p tr_.run.model genome.fa",
                          "scan --min-score x p tr_.run.model genome.fa", "scan --min-score",
                          "scan --window 3 p tr_.run.model genome.fa", "scan p tr_.run.model",
                          "scan p tr_.run.model genome.fa p"}) {
    const auto e = testing::RunVarnikSplit(dir.path(), bad);
    EXPECT_NE(e.status, 0) << bad;
    EXPECT_EQ(e.out, "") << bad;
    EXPECT_FALSE(e.err.empty()) << bad;
  }
}

TEST(ScanCommandTest, WindowsAcrossThePiecesOfALongRecord) {
  // The record is read a million letters at a time: a window across the
  // join is found like any other.
  TempDir dir;
  SaveWdModel(dir, 2);
  std::string chr(size_t{1} << 20 | 100, 'A');
  const size_t at = (size_t{1} << 20) - 5;
  chr.replace(at, 12, "CAGTTGTAAGCA");
  WriteFile(dir / "long.fa", Wrapped("long", chr));
  const auto r = RunVarnikIn(dir.path(), "scan --min-score -1000 p tr_.run.model long.fa");
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), chr.size() - 11);  // every window, each once
  EXPECT_EQ(lines[at].substr(0, lines[at].find('\t', 5 + 1 + 8)),
            "long\t" + std::to_string(at) + "\t" + std::to_string(at + 12));
  EXPECT_NE(lines[at].substr(lines[at].find('.')), lines[at - 1].substr(lines[at - 1].find('.')));
}

TEST(GzipInputTest, CompressedWindowsGiveTheSameReport) {
  TempDir dir;
  WriteWindows(dir, "tr_", 3);
  WriteWindows(dir, "te_", 4);
  for (const char* part : {"tr_pos", "tr_neg", "te_pos", "te_neg"}) {
    // Compressed under the same kind of name: told apart by the first bytes.
    WriteGzip(dir / (std::string("z") + part), ReadFile(dir / part));
  }
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 1\nWrite_AUC_data: true\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ p plain").status, 0);
  ASSERT_EQ(RunVarnikIn(dir.path(), "ztr_ zte_ p packed").status, 0);
  const std::regex times("time: [0-9:]+");
  EXPECT_EQ(std::regex_replace(ReadFile(dir / "plain"), times, ""),
            std::regex_replace(ReadFile(dir / "packed"), times, ""));
  EXPECT_EQ(ReadFile(dir / "plain-auc"), ReadFile(dir / "packed-auc"));
  // Cut short or damaged: refused with the file's name.
  const std::string packed = ReadFile(dir / "ztr_pos");
  WriteFile(dir / "cut_pos", packed.substr(0, packed.size() / 2));
  WriteFile(dir / "cut_neg", ReadFile(dir / "tr_neg"));
  const auto cut = RunVarnikIn(dir.path(), "cut_ NIL p out", true);
  EXPECT_EQ(cut.status, 4) << cut.out;
  EXPECT_NE(cut.out.find("cannot read cut_pos"), std::string::npos) << cut.out;
}

TEST(RocPictureTest, PicturesAndCurveTableHoldTheFiguresOfTheTestScores) {
  TempDir dir;
  WriteWindows(dir, "tr_", 5);
  WriteWindows(dir, "te_", 6);
  WriteFile(dir / "p",
            "Recognition_method: kNN\nSeed: 1\nWrite_AUC_data: true\n"
            "Cross-validate parameters: false\n");
  const auto r = testing::RunCommand("cd '" + dir.path() + "' && '" + VARNIK_BINARY +
                                     "' tr_ te_ p run save-outputs 2>summary");
  ASSERT_EQ(r.status, 0) << r.out;
  // The AUC of the outputs file's test scores: pairs ordered right, ties half.
  std::vector<double> pos, neg;
  for (const std::string& line : Lines(ReadFile(dir / "te_run"))) {
    double score = 0;
    int label = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf %d", &score, &label), 2);
    (label == 1 ? pos : neg).push_back(score);
  }
  // The file keeps 4 decimals: pairs it shows tied may be ordered either way.
  double above = 0, tied = 0;
  for (double a : pos) {
    for (double b : neg) (a > b ? above : tied) += a >= b ? 1 : 0;
  }
  const double pairs = static_cast<double>(pos.size() * neg.size());
  const double low = above / pairs, high = (above + tied) / pairs;
  const std::string svg = ReadFile(dir / "run-roc.svg");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      svg, m,
      std::regex("ROC curve of run: AUC = ([0-9.]+) \\(95% CI ([0-9.]+) to ([0-9.]+)\\)</text>")));
  const double drawn = std::stod(m[1]);
  const std::string interval = m[2].str() + " to " + m[3].str();
  EXPECT_LT(std::stod(m[2]), drawn);
  EXPECT_GE(std::stod(m[3]), drawn);
  EXPECT_GE(drawn, low - 5.1e-5);
  EXPECT_LE(drawn, high + 5.1e-5);
  EXPECT_NE(svg.find("<polyline"), std::string::npos);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  // The same figure closes the run on standard error.
  const std::string summary = ReadFile(dir / "summary");
  ASSERT_TRUE(std::regex_search(
      summary, m,
      std::regex("test AUC ([0-9.]+) \\(95% CI ([0-9.]+ to [0-9.]+)\\), AP ([0-9.]+), G-measure")));
  EXPECT_EQ(std::stod(m[1]), drawn);
  EXPECT_EQ(m[2].str(), interval);
  const std::string ap = m[3];
  // The precision-recall picture names the same AP and the positives' share.
  const std::string pr = ReadFile(dir / "run-pr.svg");
  char share[32];
  std::snprintf(share, sizeof share, "%.2f%%", 100.0 * pos.size() / (pos.size() + neg.size()));
  EXPECT_NE(pr.find("Precision-recall curve of run: AP = " + ap + ", positives " + share),
            std::string::npos);
  // Both mark the operating point with the run's threshold.
  for (const std::string* picture : {&svg, &pr}) {
    EXPECT_NE(picture->find("<circle"), std::string::npos);
    EXPECT_NE(picture->find("&#9679; threshold "), std::string::npos);
  }
  // The curve table: one line per distinct score, counts adding up, and the
  // AP summed from its lines.
  const std::vector<std::string> rows = Lines(ReadFile(dir / "run-curve.tsv"));
  ASSERT_GT(rows.size(), 2u);
  EXPECT_EQ(rows[0], "threshold\tsensitivity\tspecificity\tprecision\tTP\tFP\tTN\tFN");
  double sum = 0, last_tp = 0, last_threshold = INFINITY;
  for (size_t k = 1; k < rows.size(); ++k) {
    double t, sn, sp, prec, tp, fp, tn, fn;
    ASSERT_EQ(std::sscanf(rows[k].c_str(), "%lf %lf %lf %lf %lf %lf %lf %lf", &t, &sn, &sp, &prec,
                          &tp, &fp, &tn, &fn),
              8)
        << rows[k];
    EXPECT_LT(t, last_threshold);
    EXPECT_EQ(tp + fn, static_cast<double>(pos.size()));
    EXPECT_EQ(fp + tn, static_cast<double>(neg.size()));
    sum += (tp - last_tp) / static_cast<double>(pos.size()) * tp / (tp + fp);
    last_tp = tp;
    last_threshold = t;
  }
  EXPECT_NEAR(sum, std::stod(ap), 5.1e-5);
  EXPECT_NE(summary.find("report run\n"), std::string::npos);
}

TEST(ReadmeTest, TrainSaveAndScanWithTheTwoCommandsItShows) {
  // The README's two commands, run as written in a copy of the repository's
  // layout (the model lands beside the training windows).
  TempDir dir;
  const std::string root = dir.path();
  ASSERT_EQ(testing::RunCommand("mkdir -p '" + root + "/build' '" + root + "/data' && cp -r '" +
                                testing::ExamplesDir() + "' '" + root + "/data/' && ln -s '" +
                                VARNIK_BINARY + "' '" + root + "/build/varnik'")
                .status,
            0);
  const std::string readme = ReadFile(std::string(VARNIK_SOURCE_DIR) + "/README.md");
  const size_t at = readme.find("    mkdir -p demo-output && cd demo-output");
  ASSERT_NE(at, std::string::npos);
  const size_t second = readme.find('\n', at) + 1;
  const std::string train = readme.substr(at + 4, second - 1 - at - 4);
  const std::string scan = readme.substr(second + 4, readme.find('\n', second) - second - 4);
  ASSERT_EQ(scan.substr(0, 20), "../build/varnik scan");
  const auto r = testing::RunCommand("cd '" + root + "' && { " + train + "; } >/dev/null 2>&1 && " +
                                     scan + " 2>/dev/null && wc -l < sites.bed");
  ASSERT_EQ(r.status, 0) << train << "\n" << scan;
  EXPECT_GT(std::stoi(r.out), 10);
  const std::string bed = ReadFile(root + "/demo-output/sites.bed");
  EXPECT_EQ(bed.substr(0, 13), "donor_contig\t");
}

}  // namespace
}  // namespace varnik
