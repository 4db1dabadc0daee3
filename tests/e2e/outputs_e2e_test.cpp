// What surrounds the reports: files written whole, signals, clashing names,
// standard output as a data stream, input read as a stream. Run through the
// built program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "e2e/site_windows.h"

namespace varnik {
namespace {

using testing::Lines;
using testing::RandomDna;
using testing::ReadFile;
using testing::RunVarnikIn;
using testing::RunVarnikSplit;
using testing::SaveWdModel;
using testing::TempDir;
using testing::WithoutTimes;
using testing::WriteFile;
using testing::WriteWindows;

// Files in dir other than those named.
std::vector<std::string> Leftovers(const TempDir& dir, const std::vector<std::string>& known) {
  std::vector<std::string> rest;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = e.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) rest.push_back(name);
  }
  return rest;
}

TEST(StandardOutputTest, AppendsPipesAndCarriesOnlyData) {
  TempDir dir;
  SaveWdModel(dir, 1);
  WriteFile(dir / "results.tsv", "earlier line\n");
  // ">>" appends: standard output is never reopened.
  ASSERT_EQ(RunVarnikIn(dir.path(), "score p tr_.run.model tr_pos >> results.tsv").status, 0);
  const std::vector<std::string> lines = Lines(ReadFile(dir / "results.tsv"));
  ASSERT_EQ(lines.size(), 41u);
  EXPECT_EQ(lines[0], "earlier line");
  // An input is not written over through the shell either.
  const std::string windows = ReadFile(dir / "tr_pos");
  const auto onto = RunVarnikSplit(dir.path(), "score p tr_.run.model tr_pos >> tr_pos");
  EXPECT_EQ(onto.status, 1);
  EXPECT_NE(onto.err.find("Standard output is the input file tr_pos"), std::string::npos)
      << onto.err;
  EXPECT_EQ(ReadFile(dir / "tr_pos"), windows);
  // A message printed on the way goes to standard error, the data stay
  // whole; so does the error line of a damaged input.
  WriteFile(dir / "q", ReadFile(dir / "p") + "FS_percent_to_keep: 2\n");
  const auto noted = RunVarnikSplit(dir.path(), "score q tr_.run.model tr_pos");
  EXPECT_EQ(noted.status, 0);
  EXPECT_EQ(Lines(noted.out).size(), 40u);
  EXPECT_EQ(noted.out.substr(0, 3), "w0\t");
  EXPECT_NE(noted.err.find("Percent to keep above 100%, corrected"), std::string::npos);
  WriteFile(dir / "odd_pos", windows + ">w99\nACGTACGTACG\n");
  const auto odd = RunVarnikSplit(dir.path(), "score p tr_.run.model odd_pos");
  EXPECT_EQ(odd.status, 1);
  EXPECT_EQ(odd.out, "");
  EXPECT_EQ(odd.err.find("Length: 11\tOld length: 12\n"), 0u) << odd.err;
  EXPECT_NE(odd.err.find("\nUnspecified error: Lengths differ\n"), std::string::npos) << odd.err;
  // A reader that leaves early ends the scan quietly.
  std::string chr;
  CRandom rng(3);
  chr = RandomDna(rng, 200000);
  WriteFile(dir / "chr.fa", ">chr\n" + chr + "\n");
  WriteFile(dir / "pipe.sh",
            "'" + std::string(VARNIK_BINARY) +
                "' scan --min-score -1e9 p tr_.run.model chr.fa 2>err | head -n 2\n"
                "echo \"status ${PIPESTATUS[0]}\"\ncat err\n");
  const auto piped = testing::RunCommand("cd '" + dir.path() + "' && bash pipe.sh");
  EXPECT_EQ(Lines(piped.out).size(), 3u) << piped.out;
  EXPECT_NE(piped.out.find("status 141"), std::string::npos) << piped.out;
}

// Starts the program in dir, standard streams to files.
pid_t Start(const TempDir& dir, const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(127);
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    std::vector<char*> argv = {const_cast<char*>(VARNIK_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VARNIK_BINARY, argv.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST(WholeFilesTest, ASignalLeavesTheEarlierFilesWhole) {
  TempDir dir;
  for (const char* part :
       {"donor_train_pos", "donor_train_neg", "donor_test_pos", "donor_test_neg"}) {
    std::filesystem::copy_file(testing::ExamplesDir() + "/" + part, dir / part);
  }
  WriteFile(dir / "quick", "Recognition_method: PWM\nSeed: 1\nWrite_AUC_data: true\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "donor_train_ donor_test_ quick r save-outputs").status, 0);
  const std::vector<std::string> names = {"r",           "r-auc",         "r-roc.svg",   "r-pr.svg",
                                          "r-curve.tsv", "donor_train_r", "donor_test_r"};
  std::vector<std::string> before;
  for (const std::string& n : names) before.push_back(ReadFile(dir / n));
  // The default grid search takes some seconds: it is stopped on the way.
  WriteFile(dir / "slow", "Recognition_method: SVM\nSeed: 1\nWrite_AUC_data: true\n");
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    const pid_t pid =
        Start(dir, {"--threads", "1", "donor_train_", "donor_test_", "slow", "r", "save-outputs"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, sig);
    EXPECT_EQ(Wait(pid), 128 + sig);
    for (size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(ReadFile(dir / names[i]), before[i]) << names[i] << " after signal " << sig;
    }
    std::vector<std::string> known = {"donor_train_pos", "donor_train_neg", "donor_test_pos",
                                      "donor_test_neg",  "quick",           "slow"};
    known.insert(known.end(), names.begin(), names.end());
    EXPECT_EQ(Leftovers(dir, known), std::vector<std::string>{}) << sig;
  }
}

TEST(WholeFilesTest, TwoRunsOfOneNameLeaveOneWholeReport) {
  TempDir dir;
  WriteWindows(dir, "tr_", 1, 2000);
  WriteWindows(dir, "te_", 2, 2000);
  WriteFile(dir / "a", "Recognition_method: PWM\nSeed: 1\n");
  WriteFile(dir / "b", "Recognition_method: kNN\nSeed: 1\nCross-validate parameters: F\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ a ra").status, 0);
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ b rb").status, 0);
  for (int round = 0; round < 3; ++round) {
    const pid_t one = Start(dir, {"tr_", "te_", "a", "same"});
    const pid_t two = Start(dir, {"tr_", "te_", "b", "same"});
    EXPECT_EQ(Wait(one), 0);
    EXPECT_EQ(Wait(two), 0);
    const std::string report = WithoutTimes(ReadFile(dir / "same"));
    EXPECT_TRUE(report == WithoutTimes(ReadFile(dir / "ra")) ||
                report == WithoutTimes(ReadFile(dir / "rb")))
        << report;
  }
}

TEST(WholeFilesTest, AReportThatIsNoRegularFileIsWrittenDirectlyAndAlone) {
  TempDir dir;
  WriteWindows(dir, "tr_", 1);
  WriteWindows(dir, "te_", 2);
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 1\nWrite_AUC_data: true\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ p plain").status, 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const auto r = testing::RunCommand("cd '" + dir.path() + "' && (cat fifo > copy &) && '" +
                                     VARNIK_BINARY + "' tr_ te_ p fifo 2>/dev/null; sleep 0.2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(WithoutTimes(ReadFile(dir / "copy")), WithoutTimes(ReadFile(dir / "plain")));
  EXPECT_FALSE(std::filesystem::exists(dir / "fifo-auc"));
  EXPECT_FALSE(std::filesystem::exists(dir / "fifo-roc.svg"));
  // A run that fails keeps the report written so far, as it always did.
  WriteFile(dir / "bad_pos", ">a\nACGT1CGTACGT\n");
  WriteFile(dir / "bad_neg", ReadFile(dir / "tr_neg"));
  EXPECT_EQ(RunVarnikIn(dir.path(), "bad_ te_ p failed").status, 1);
  EXPECT_NE(ReadFile(dir / "failed").find("Recognition_method = PWM"), std::string::npos);
}

TEST(ClashingNamesTest, NoOutputIsAnotherOutputOrTheMask) {
  TempDir dir;
  WriteWindows(dir, "tr_", 1);
  WriteWindows(dir, "te_", 2);
  std::string mask;
  for (int i = 0; i < 12; ++i) mask += i == 2 ? "0\n" : "1\n";
  WriteFile(dir / "m.mask", mask);
  WriteFile(dir / "pos", ReadFile(dir / "tr_pos"));  // the windows of prefix "./" and ""
  WriteFile(dir / "neg", ReadFile(dir / "tr_neg"));
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 1\n");
  WriteFile(dir / "pm", "Recognition_method: PWM\nSeed: 1\nMask_file: \"m.mask\"\n");
  struct Case {
    const char* args;
    const char* message;
  } cases[] = {
      {"./ te_ p r save-outputs", "The training outputs file ./r is the report r"},
      {"'' te_ p r save-outputs", "The training outputs file r is the report r"},
      {"tr_ tr_ p r save-outputs", "The test outputs file tr_r is the training outputs file tr_r"},
      {"tr_ te_ pm m.mask", "The report m.mask is the mask file m.mask"},
      {"score pm run.model tr_pos m.mask", "The output m.mask is the mask file m.mask"},
  };
  WriteFile(dir / "p5",
            "Recognition_method: SVM\nSeed: 1\nCross-validate parameters: F\n"
            "Kernel: 5\nDegree (WD): 3\nMask_file: \"m.mask\"\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ NIL p5 run save-model").status, 1);
  std::filesystem::rename(dir / "tr_.run.model", dir / "run.model");
  std::filesystem::rename(dir / "tr_.run.model.svm", dir / "run.model.svm");
  for (const Case& c : cases) {
    const auto r = RunVarnikIn(dir.path(), c.args, true);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_NE(r.out.find(std::string(c.message) + ": choose another name"), std::string::npos)
        << c.args << ": " << r.out;
    EXPECT_EQ(ReadFile(dir / "m.mask"), mask);
    EXPECT_FALSE(std::filesystem::exists(dir / "r")) << c.args;
  }
}

TEST(ParametersFromAPipeTest, AreReadOnce) {
  TempDir dir;
  WriteWindows(dir, "tr_", 1);
  WriteWindows(dir, "te_", 2);
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 7\n");
  ASSERT_EQ(RunVarnikIn(dir.path(), "tr_ te_ p file").status, 0);
  const auto r = testing::RunCommand("cd '" + dir.path() + "' && bash -c \"'" + VARNIK_BINARY +
                                     "' tr_ te_ <(cat p) piped 2>/dev/null\"");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(WithoutTimes(ReadFile(dir / "piped")), WithoutTimes(ReadFile(dir / "file")));
  const auto s = testing::RunCommand("cd '" + dir.path() + "' && '" + VARNIK_BINARY +
                                     "' tr_ te_ /dev/stdin stdin < p 2>/dev/null");
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(WithoutTimes(ReadFile(dir / "stdin")), WithoutTimes(ReadFile(dir / "file")));
}

TEST(ReadingTest, LongerTestWindowsAreCutWithAWarning) {
  TempDir dir;
  WriteWindows(dir, "tr_", 1);
  WriteWindows(dir, "te_", 2);
  std::string longer;
  for (const std::string& line : Lines(ReadFile(dir / "te_pos"))) {
    longer += line[0] == '>' ? line + "\n" : line + "AC\n";
  }
  WriteFile(dir / "te_pos", longer);
  WriteFile(dir / "p", "Recognition_method: PWM\nSeed: 1\n");
  const auto r = RunVarnikSplit(dir.path(), "tr_ te_ p r");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("te_pos: windows of 14 letters are cut to the 12 letters from "
                       "Offset_to_start 0 that tr_pos gave the run"),
            std::string::npos)
      << r.err;
  // Asked for: no warning.
  WriteFile(dir / "q", "Recognition_method: PWM\nSeed: 1\nSequence_length: 12\n");
  EXPECT_EQ(RunVarnikSplit(dir.path(), "tr_ te_ q r").err.find("are cut"), std::string::npos);
}

TEST(ScanReadingTest, WhiteSpaceIsNoPositionAndRecordsStartAfresh) {
  TempDir dir;
  SaveWdModel(dir, 1);
  CRandom rng(4);
  const std::string a = RandomDna(rng, 40), b = RandomDna(rng, 30);
  WriteFile(dir / "clean.fa", ">a\n" + a + "\n>b\n" + b + "\n");
  // Blanks, tabs and carriage returns inside and at the end of lines.
  WriteFile(dir / "spaced.fa", ">a x\r\n" + a.substr(0, 20) + " \r\n" + a.substr(20, 7) + "\t" +
                                   a.substr(27) + "\r\n>b\n " + b + "  \n");
  const auto clean =
      RunVarnikIn(dir.path(), "scan --strands both --min-score -1e9 p tr_.run.model clean.fa");
  ASSERT_EQ(clean.status, 0);
  const std::vector<std::string> lines = Lines(clean.out);
  // Every window of each record, none across them: 29 + 19, both strands.
  ASSERT_EQ(lines.size(), 2u * (29 + 19));
  EXPECT_EQ(lines.front().substr(0, 7), "a\t0\t12\t");
  EXPECT_EQ(lines[2 * 29 - 1].substr(0, 8), "a\t28\t40\t");
  EXPECT_EQ(lines[2 * 29].substr(0, 7), "b\t0\t12\t");
  EXPECT_EQ(lines.back().substr(0, 8), "b\t18\t30\t");
  EXPECT_EQ(
      RunVarnikIn(dir.path(), "scan --strands both --min-score -1e9 p tr_.run.model spaced.fa").out,
      clean.out);
  // Any other character outside the alphabet is an error naming the record
  // and the line.
  WriteFile(dir / "digit.fa", ">a\n" + a + "\n>b\n" + b.substr(0, 10) + "\n" + b.substr(10, 5) +
                                  "7" + b.substr(15) + "\n");
  const auto digit = RunVarnikSplit(dir.path(), "scan p tr_.run.model digit.fa");
  EXPECT_EQ(digit.status, 1);
  EXPECT_EQ(digit.out, "");
  EXPECT_NE(digit.err.find("digit.fa: record b, line 5: '7' is not a nucleotide letter"),
            std::string::npos)
      << digit.err;
}

TEST(ThreadsTest, ThreadsThatCannotStartLeaveTheWorkToTheOthers) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#else
  TempDir dir;
  SaveWdModel(dir, 1);
  CRandom rng(9);
  WriteFile(dir / "chr.fa", ">chr\n" + RandomDna(rng, 1 << 20) + "\n");
  const auto one = RunVarnikIn(dir.path(), "--threads 1 scan p tr_.run.model chr.fa");
  ASSERT_EQ(one.status, 0);
  // Each thread's stack takes address space: under a limit most of the
  // thousand threads asked for cannot start.
  const auto many =
      testing::RunCommand("cd '" + dir.path() + "' && ulimit -v 1000000 && '" + VARNIK_BINARY +
                          "' --threads 4096 scan p tr_.run.model chr.fa 2>err");
  const std::string err = ReadFile(dir / "err");
  EXPECT_EQ(many.status, 0) << err;
  EXPECT_EQ(many.out, one.out);
  EXPECT_NE(err.find("threads could be started; the work goes on with them"), std::string::npos)
      << err;
#endif
}

// The kernel caches' budget changes the time a training takes, never its
// model or report: a budget of two columns, a large one and the default.
TEST(MemoryTest, TheBudgetOfTheKernelCachesLeavesTheModelAsItIs) {
  TempDir dir;
  const std::string ex = testing::ExamplesDir() + "/";
  for (const char* kernel : {"Kernel: 5\nDegree (WD): 4\n", "Kernel: 2\nGamma: 0.05\n"}) {
    WriteFile(
        dir / "p",
        std::string("Recognition_method: SVM\nSeed: 7\nCross-validate parameters: F\n") + kernel);
    std::string model, report;
    for (const char* memory : {"--memory 20K", "--memory 2G", ""}) {
      const auto r = RunVarnikSplit(dir.path(), std::string(memory) + " --model m " + ex +
                                                    "donor_train_ " + ex + "donor_test_ p run");
      ASSERT_EQ(r.status, 0) << memory << r.err;
      EXPECT_EQ(r.err.find("the kernel cache may take") != std::string::npos,
                std::string(memory) == "--memory 20K")
          << memory << r.err;
      if (model.empty()) {
        model = ReadFile(dir / "m");
        report = WithoutTimes(ReadFile(dir / "run"));
      } else {
        // Whole files compared (their text would drown a failure's message).
        EXPECT_TRUE(ReadFile(dir / "m") == model) << kernel << memory;
        EXPECT_TRUE(WithoutTimes(ReadFile(dir / "run")) == report) << kernel << memory;
      }
    }
  }
  for (const char* bad : {"--memory 0", "--memory 12X", "--memory -5M", "--memory", "--memory G"}) {
    const auto r = RunVarnikSplit(dir.path(), std::string(bad) + " tr_ NIL p run");
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_NE((r.out + r.err).find("--memory"), std::string::npos) << bad << r.out << r.err;
  }
}

}  // namespace
}  // namespace varnik
