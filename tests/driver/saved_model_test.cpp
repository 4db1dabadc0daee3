#include "driver/saved_model.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/error.h"
#include "core/sequence_set.h"
#include "recognizers/pwm.h"
#include "recognizers/svm_recognizer.h"
#include "test_util.h"

namespace varnik {
namespace {

TEST(SavedModelTest, SaveThenLoadGivesTheSameOutputs) {
  CRandom rng(2);
  SequenceSet pos(0, 15), neg(0, 15);
  std::vector<std::string> all;
  for (int i = 0; i < 40; ++i) {
    std::string w(15, 'A');
    for (char& c : w) c = "ACGT"[rng.UniformIndex(4)];
    if (i < 20) w[7] = 'G';
    (i < 20 ? pos : neg).Append(w);
    all.push_back(w);
  }
  for (int kernel : {2, 5}) {
    Settings s;
    s.Kernel = kernel;
    s.Degree = 4;
    SvmRandom svm_rng;
    float threshold = 0;
    SvmRecognizer R(
        s, TrainSVMClassifier(pos.Pointers(), neg.Pointers(), 15, s, nullptr, &threshold, svm_rng));
    R.set_threshold(threshold);
    R.set_length(15);
    testing::TempDir dir;
    EXPECT_EQ(SavedModelPath("tis", "run1"), "tis.run1.model");
    const std::string path = dir / "tis.run1.model";
    SaveModel(R, path);
    EXPECT_TRUE(std::filesystem::exists(path + ".svm"));
    const std::unique_ptr<SvmRecognizer> back = LoadModel(path);
    EXPECT_EQ(back->length(), 15);
    EXPECT_EQ(back->method(), kSVM);
    char six[32];
    std::snprintf(six, sizeof six, "%lf", static_cast<double>(R.threshold()));
    EXPECT_EQ(back->threshold(), std::strtof(six, nullptr));  // six decimals in the header
    for (const std::string& w : all) {
      float score = 0;
      const int call = ModelOutput(*back, w.c_str(), 15, &score);
      EXPECT_EQ(score, SVMOutput(*R.svm, w.c_str(), 15));
      EXPECT_EQ(call, score > back->threshold() ? 1 : 0);
    }
  }
}

TEST(SavedModelTest, Failures) {
  testing::TempDir dir;
  try {
    LoadModel(dir / "absent");
    FAIL();
  } catch (const VarnikError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Error loading SVM model " + (dir / "absent") + ".svm: No such file or directory");
  }
  SvmRecognizer R(Settings(), std::make_unique<svm_model>());
  R.svm->nr_class = 2;
  R.svm->rho = {0.5};
  R.svm->label = {1, 0};
  R.svm->nSV = {0, 0};
  R.svm->sv_coef = {{}};
  try {
    SaveModel(R, dir / "no/such/place");
    FAIL();
  } catch (const VarnikError& e) {
    EXPECT_EQ(e.code(), 1);
  }
  // The SVM file is written but the header cannot be.
  std::filesystem::create_directory(dir / "d.svm.parent");
  std::filesystem::create_directory(dir / "hdr");
  try {
    SaveModel(R, dir / "hdr");  // a directory: the header cannot be opened
    FAIL();
  } catch (const VarnikError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Unable to open model file " + (dir / "hdr") + " for writing (Is a directory)");
  }
  // A header whose window length the support vectors do not fit is refused.
  testing::WriteFile(dir / "m.svm",
                     "svm_type c_svc\nkernel_type wd\ndegree 3\nnr_class 2\ntotal_sv 2\nrho 0.25\n"
                     "label 1 0\nnr_sv 1 1\nSV\n0.5 0:65 1:67 2:71 \n-0.5 0:84 1:67 2:71 \n");
  for (const char* length : {"2", "-1"}) {
    testing::WriteFile(dir / "m", std::string("Classifier: SVM\nSequence length: ") + length +
                                      "\nThreshold: 0.5\nSVM model file name: m.svm\n");
    EXPECT_THROW(LoadModel(dir / "m"), VarnikError) << length;
  }
  testing::WriteFile(dir / "m", "Classifier: SVM\nSequence length: 3\nThreshold: 0.5\n");
  EXPECT_EQ(LoadModel(dir / "m")->length(), 3);
  // Only SVM recognisers are saved.
  PwmRecognizer pwm{Settings()};
  EXPECT_THROW(SaveModel(pwm, dir / "pwm"), VarnikError);
}

// Damaged or hand-made model files that used to crash scoring, score nan or
// scan for ever: each is refused, its message naming the file and what is
// wrong.
TEST(SavedModelTest, DamagedModelsAreRefusedWithTheFileAndTheValue) {
  const std::string header = "Classifier: SVM\nSequence length: 3\nThreshold: 0.5\n";
  const std::string wd =
      "svm_type c_svc\nkernel_type wd\ndegree 3\nnr_class 2\ntotal_sv 2\nrho 0.25\n"
      "label 1 0\nnr_sv 1 1\nSV\n0.5 0:65 1:67 2:71 \n-0.5 0:84 1:67 2:71 \n";
  const std::string onehot =
      "svm_type c_svc\nkernel_type rbf\ngamma 0.5\nnr_class 2\ntotal_sv 2\nrho 0.25\n"
      "label 1 -1\nnr_sv 1 1\nSV\n0.5 1:1 5:1 9:1 \n-0.5 2:1 6:1 12:1 \n";
  auto with = [](std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
  };
  struct Case {
    std::string header, svm, message;
  } cases[] = {
      {header, with(onehot, "kernel_type rbf\ngamma 0.5", "kernel_type precomputed"),
       "Model file m.svm: kernel_type precomputed cannot score windows"},
      {header, with(onehot, "SV\n", "nr_class 40\nSV\n"),
       "Error loading SVM model m.svm: line 9: nr_class is given twice"},
      {header, with(wd, "rho 0.25", "rho nan"),
       "Error loading SVM model m.svm: line 6: bad rho value \"nan\""},
      {header, with(wd, "0.5 0:65", "inf 0:65"),
       "Error loading SVM model m.svm: line 10: bad coefficient \"inf\" in support vector 1"},
      {with(header, "0.5", "nan"), wd,
       "Malformed model file m: line 3: threshold \"nan\" (a finite number)"},
      {with(header, "0.5", "-inf"), wd,
       "Malformed model file m: line 3: threshold \"-inf\" (a finite number)"},
      {with(header, "length: 3", "length: 4"), wd,
       "Model file m.svm does not fit windows of 4 letters (its header)"},
      {with(header, "length: 3", "length: 2147483647"), wd,
       "Model file m.svm does not fit windows of 2147483647 letters (its header)"},
      {with(header, "length: 3", "length: 4"), onehot,
       "Model file m.svm does not fit windows of 4 letters (its header)"},
      {with(header, "length: 3", "length: 2147483648"), wd,
       "Malformed model file m: line 2: sequence length \"2147483648\""},
      {with(header, "Threshold: 0.5", "Threshold:"), wd,
       "Malformed model file m: line 3: no \"Threshold: \" line"},
  };
  for (const Case& c : cases) {
    try {
      const auto model = ModelFromText(c.header, c.svm, "m");
      CheckWindowLength(*model, model->length(), "m");
      ADD_FAILURE() << c.message;
    } catch (const VarnikError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
  // The intact models load and fit.
  for (const std::string& svm : {wd, onehot}) {
    const auto model = ModelFromText(header, svm, "m");
    EXPECT_NO_THROW(CheckWindowLength(*model, 3, "m"));
    EXPECT_THROW(CheckWindowLength(*model, 2, "m"), VarnikError);
  }
}

}  // namespace
}  // namespace varnik
