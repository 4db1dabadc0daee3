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
    EXPECT_EQ(std::string(e.what()), "Error loading SVM model " + (dir / "absent") +
                                         ".svm: No such file or directory");
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

}  // namespace
}  // namespace varnik
