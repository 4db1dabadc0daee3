#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "svm/svm.h"
#include "svm/svm_test_util.h"
#include "test_util.h"

namespace varnik {
namespace {

using testing::DenseNodes;
using testing::OwnedProblem;
using testing::WindowNodes;

OwnedProblem Windows(CRandom& rng, int n, int length) {
  OwnedProblem p;
  for (int i = 0; i < n; ++i) {
    std::string w = testing::RandomLetters(rng, length, 4);
    const bool pos = i % 2 == 0;
    if (pos) w[length / 2] = 'G';
    p.Add(WindowNodes(w), pos ? 1 : -1);
  }
  return p;
}

double Through(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return std::strtod(buf, nullptr);
}

std::vector<double> DecisionValues(const svm_model& m, const svm_problem& p) {
  std::vector<double> out;
  const int pairs = std::max(m.nr_class * (m.nr_class - 1) / 2, 1);
  std::vector<double> dec(static_cast<size_t>(pairs));
  for (int i = 0; i < p.l; ++i) {
    svm_predict_values(m, p.x[i], dec.data());
    out.insert(out.end(), dec.begin(), dec.end());
  }
  return out;
}

TEST(SvmModelFileTest, WriteAndReadGiveTheSameDecisionValues) {
  CRandom rng(6);
  testing::TempDir dir;
  for (int kernel : {linear, polynomial, rbf, sigmoid, wd, wds}) {
    OwnedProblem p = Windows(rng, 30, 12);
    svm_parameter param;
    param.kernel_type = kernel;
    param.degree = kernel == polynomial ? 2 : 4;
    param.gamma = kernel == wds ? 0.5 : 0.0001;
    param.coef0 = 0.5;
    param.probability = kernel == rbf;
    SvmRandom r;
    auto m = svm_train(p.prob, param, r);
    const std::string path = dir / ("m" + std::to_string(kernel));
    ASSERT_EQ(svm_save_model(path, *m), 0);
    auto back = svm_load_model(path);
    ASSERT_NE(back, nullptr) << kernel;
    EXPECT_EQ(back->free_sv, 1);
    EXPECT_EQ(back->l, m->l);
    EXPECT_EQ(back->label, m->label);
    EXPECT_EQ(back->nSV, m->nSV);
    // The file keeps rho with "%g" and the coefficients with "%.16g": the
    // model read back computes exactly what the trained one computes with its
    // numbers so rounded.
    svm_model rounded = *m;
    for (double& v : rounded.rho) v = Through("%g", v);
    for (auto& row : rounded.sv_coef) {
      for (double& v : row) v = Through("%.16g", v);
    }
    EXPECT_EQ(DecisionValues(rounded, p.prob), DecisionValues(*back, p.prob)) << kernel;
    const std::vector<double> a = DecisionValues(*m, p.prob), b = DecisionValues(*back, p.prob);
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_NEAR(a[i], b[i], 5e-6 * std::fabs(m->rho[0]) + 1e-9) << kernel;  // rho in 6 digits
    }
    // The file's header for the string kernels.
    const std::string text = testing::ReadFile(path);
    if (kernel == wd) {
      EXPECT_NE(text.find("kernel_type wd\ndegree 4\nnr_class 2\ntotal_sv "), std::string::npos);
      EXPECT_EQ(text.find("gamma"), std::string::npos);
      EXPECT_NE(text.find(" 0:"), std::string::npos);
    }
    if (kernel == wds) {
      EXPECT_NE(text.find("kernel_type wds\ndegree 4\ngamma 0.5\nnr_class 2\n"), std::string::npos);
    }
    if (kernel == rbf) {
      EXPECT_NE(text.find("\nprobA "), std::string::npos);
      EXPECT_EQ(back->probA.size(), 1u);
    }
  }
}

TEST(SvmModelFileTest, StoredCopyEqualsTheFileRoundTrip) {
  CRandom rng(19);
  testing::TempDir dir;
  for (int kernel : {linear, polynomial, rbf, sigmoid, wd, wds}) {
    OwnedProblem p = Windows(rng, 24, 10);
    // Values that the file's formats round.
    for (auto& row : p.rows) {
      for (auto& node : row) node.value = node.index == -1 ? 0 : node.value / 7.0;
    }
    svm_parameter param;
    param.kernel_type = kernel;
    param.degree = 3;
    param.gamma = 1.0 / 3000 + (kernel == wds ? 0.4 : 0);
    param.coef0 = 1.0 / 3;
    param.probability = 1;
    SvmRandom r;
    auto m = svm_train(p.prob, param, r);
    ASSERT_EQ(svm_save_model(dir / "m", *m), 0);
    auto file = svm_load_model(dir / "m");
    auto copy = svm_model_as_stored(*m);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(copy->param.gamma, file->param.gamma);
    EXPECT_EQ(copy->param.coef0, file->param.coef0);
    EXPECT_EQ(copy->param.degree, file->param.degree);
    EXPECT_EQ(copy->rho, file->rho);
    EXPECT_EQ(copy->probA, file->probA);
    EXPECT_EQ(copy->sv_coef, file->sv_coef);
    EXPECT_EQ(DecisionValues(*copy, p.prob), DecisionValues(*file, p.prob)) << kernel;
    m.reset();  // the copy owns its support vectors
    EXPECT_EQ(DecisionValues(*copy, p.prob), DecisionValues(*file, p.prob)) << kernel;
  }
}

TEST(SvmPredictTest, OneHotShortcutGivesTheSameDecisionValues) {
  CRandom rng(15);
  OwnedProblem p;
  for (int i = 0; i < 40; ++i) {
    const std::string w = testing::RandomLetters(rng, 17, 5);
    std::vector<svm_node> v;
    for (int q = 0; q < 17; ++q) {
      const char* slot = std::strchr("ATGC", w[q]);
      if (slot != nullptr && !(i % 2 == 0 && q == 8))
        v.push_back({4 * q + static_cast<int>(slot - "ATGC") + 1, 1.0});
    }
    if (i % 2 == 0)
      v.insert(v.begin() + 0, {4 * 17 + 1, 1.0}),
          std::sort(v.begin(), v.end(),
                    [](const svm_node& a, const svm_node& b) { return a.index < b.index; });
    v.push_back({-1, 0.0});
    p.Add(v, i % 2 == 0 ? 1 : -1);
  }
  for (int kernel : {linear, polynomial, rbf, sigmoid}) {
    svm_parameter param;
    param.kernel_type = kernel;
    param.gamma = 0.05;
    param.coef0 = 0.1;
    param.degree = 2;
    SvmRandom r;
    auto m = svm_train(p.prob, param, r);
    ASSERT_FALSE(m->sv_codes.empty());
    svm_model plain = *m;
    plain.sv_codes.clear();
    plain.sv_ones.clear();
    EXPECT_EQ(DecisionValues(*m, p.prob), DecisionValues(plain, p.prob)) << kernel;
  }
}

TEST(SvmModelFileTest, LongSupportVectorLinesAreReadWhole) {
  OwnedProblem p;
  CRandom rng(2);
  for (int i = 0; i < 6; ++i) {
    std::vector<double> x(300);
    for (double& v : x) v = rng.UniformNumber() + 0.123456789;
    p.Add(DenseNodes(x), i % 2 == 0 ? 1 : -1);
  }
  svm_parameter param;
  param.kernel_type = linear;
  SvmRandom r;
  auto m = svm_train(p.prob, param, r);
  testing::TempDir dir;
  ASSERT_EQ(svm_save_model(dir / "m", *m), 0);
  const std::string text = testing::ReadFile(dir / "m");
  EXPECT_GT(text.size() - text.find("SV\n"), 1024u * m->l);
  auto back = svm_load_model(dir / "m");
  ASSERT_NE(back, nullptr);
  int nodes = 0;
  while (back->SV[0][nodes].index != -1) ++nodes;
  EXPECT_EQ(nodes, 300);
  EXPECT_NEAR(DecisionValues(*m, p.prob)[0], DecisionValues(*back, p.prob)[0], 1e-5);  // %g, %.8g
}

TEST(SvmModelFileTest, MalformedFilesAreRefused) {
  const std::string good =
      "svm_type c_svc\nkernel_type rbf\ngamma 0.5\nnr_class 2\ntotal_sv 2\nrho 0.25\n"
      "label 1 -1\nnr_sv 1 1\nSV\n0.5 1:1 2:0.5 \n-0.5 1:-1 3:2 \n";
  testing::TempDir dir;
  testing::WriteFile(dir / "good", good);
  ASSERT_NE(svm_load_model(dir / "good"), nullptr);
  struct Case {
    std::string from, to;
    const char* message;
  } cases[] = {
      {"rho 0.25", "rho 0.2x5", "line 6: bad rho value \"0.2x5\""},
      {"total_sv 2", "total_sv 3", "line 9: nr_sv does not add up to total_sv"},
      {"nr_sv 1 1\n", "nr_sv 2 1\n", "line 9: nr_sv does not add up to total_sv"},
      {"1:-1 3:2", "3:-1 1:2", "line 11: bad or out-of-order node \"1:2\" in support vector 2"},
      {"1:-1 3:2", "1:-1 3:two", "line 11: bad or out-of-order node \"3:two\" in support vector 2"},
      {"-0.5 1:-1", "-0.5e 1:-1", "line 11: bad coefficient \"-0.5e\" in support vector 2"},
      {"svm_type c_svc", "svm_type c_svx", "line 1: unknown svm_type \"c_svx\""},
      {"kernel_type rbf", "kernel_type rbg", "line 2: unknown kernel_type \"rbg\""},
      {"gamma 0.5", "gamma 0.5\nweight 2", "line 4: unknown text \"weight\""},
      {"nr_class 2", "nr_class -4", "line 4: bad nr_class \"-4\""},
      {"label 1 -1\n", "", "line 8: label or nr_sv missing"},
      // Counts beyond what the file can hold are refused before allocating.
      {"nr_class 2", "nr_class 46342", "line 6: nr_class 46342 is too large for the file"},
      {"total_sv 2", "total_sv 2000000000",
       "line 5: total_sv 2000000000 is too large for the file"},
      // Every number is finite; no header word stands twice (a second
      // nr_class would disagree with the arrays sized by the first).
      {"rho 0.25", "rho nan", "line 6: bad rho value \"nan\""},
      {"gamma 0.5", "gamma inf", "line 3: bad gamma \"inf\""},
      {"-0.5 1:-1", "-inf 1:-1", "line 11: bad coefficient \"-inf\" in support vector 2"},
      {"1:-1 3:2", "1:-1 3:nan", "line 11: bad or out-of-order node \"3:nan\" in support vector 2"},
      {"nr_sv 1 1\n", "nr_sv 1 1\nnr_class 9\n", "line 9: nr_class is given twice"},
      {"gamma 0.5", "gamma 0.5\ngamma 0.25", "line 4: gamma is given twice"},
  };
  for (const Case& c : cases) {
    std::string text = good;
    text.replace(text.find(c.from), c.from.size(), c.to);
    testing::WriteFile(dir / "bad", text);
    std::string error;
    EXPECT_EQ(svm_load_model(dir / "bad", &error), nullptr) << c.to;
    EXPECT_EQ(error, c.message) << c.to;
  }
  // Without a place for the reason it goes to the error stream.
  testing::WriteFile(dir / "short", good.substr(0, good.rfind("-0.5")));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(svm_load_model(dir / "short"), nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "malformed model file: line 10: fewer support vectors than total_sv\n");
  testing::WriteFile(dir / "cut", "svm_type c_svc\nkernel_ty");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(svm_load_model(dir / "cut"), nullptr);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(svm_load_model(dir / "absent"), nullptr);
  // Huge indexes and degrees cost nothing in proportion: an index of two
  // billion takes the general way, a string-kernel degree of two billion
  // counts up to the window's length.
  std::string far = good;
  far.replace(far.find("1:-1 3:2"), 8, "1:1 2000000000:1");
  far.replace(far.find("1:1 2:0.5"), 9, "1:1 6:1");
  testing::WriteFile(dir / "far", far);
  auto m = svm_load_model(dir / "far");
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(m->sv_codes.empty());
  const std::vector<svm_node> x = {{1, 1.0}, {6, 1.0}, {-1, 0.0}};
  double dec = 0;
  svm_predict_values(*m, x.data(), &dec);
  EXPECT_DOUBLE_EQ(dec, 0.5 * k_function(x.data(), m->SV[0], m->param) -
                            0.5 * k_function(x.data(), m->SV[1], m->param) - 0.25);
  testing::WriteFile(
      dir / "deg",
      "svm_type c_svc\nkernel_type wd\ndegree 2000000000\nnr_class 2\ntotal_sv 2\n"
      "rho 0.25\nlabel 1 0\nnr_sv 1 1\nSV\n0.5 0:65 1:67 2:71 \n-0.5 0:84 1:67 2:71 \n");
  auto d = svm_load_model(dir / "deg");
  ASSERT_NE(d, nullptr);
  const std::vector<svm_node> acg = {{0, 65}, {1, 67}, {2, 71}, {-1, 0}};
  svm_predict_values(*d, acg.data(), &dec);
  EXPECT_TRUE(std::isfinite(dec));
  EXPECT_EQ(svm_save_model(dir / "no/such/dir", svm_model{}), -1);
}

TEST(SvmModelFileTest, AFullDiskIsAFailedSave) {
  CRandom rng(1);
  OwnedProblem p = Windows(rng, 40, 30);
  svm_parameter param;
  param.kernel_type = wd;
  param.degree = 3;
  SvmRandom r;
  auto m = svm_train(p.prob, param, r);
  EXPECT_EQ(svm_save_model("/dev/full", *m), -1);
}

}  // namespace
}  // namespace varnik
