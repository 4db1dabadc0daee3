#include "svm/svm_wd_table.h"

#include <gtest/gtest.h>

#include <cmath>

#include "svm/svm_test_util.h"

namespace varnik {
namespace {

using testing::OwnedProblem;
using testing::RandomLetters;
using testing::WindowNodes;

// A two-class wd model on windows of n letters with a planted motif.
std::unique_ptr<svm_model> TrainWd(CRandom& rng, int n, int degree, int alphabet, OwnedProblem& p) {
  for (int i = 0; i < 120; ++i) {
    std::string w = RandomLetters(rng, n, alphabet);
    if (i % 3 == 0 && n >= 8) w.replace(static_cast<size_t>(n / 2 - 2), 4, "GTAA");
    p.Add(WindowNodes(w), i % 3 == 0 ? 1 : -1);
  }
  svm_parameter param;
  param.svm_type = c_svc;
  param.kernel_type = wd;
  param.degree = degree;
  param.C = 1;
  param.eps = 1e-4;
  SvmRandom r;
  return svm_train(p.prob, param, r);
}

TEST(WdTableTest, DecisionValuesEqualTheKernelSums) {
  // Window lengths around the word sizes, degrees below and above the window
  // length, few letters (long shared runs) and five.
  CRandom rng(17);
  for (int n : {1, 5, 40, 101}) {
    for (int degree : {1, 3, 22, 150}) {
      for (int alphabet : {2, 5}) {
        OwnedProblem p;
        const auto model = TrainWd(rng, n, degree, alphabet, p);
        const auto table = WdTable::Build(*model);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(table->length(), n);
        // The training windows (support vectors among them) and fresh ones.
        std::vector<std::string> batch;
        std::vector<double> one_by_one;
        for (int i = 0; i < 150; ++i) {
          const std::string z = i < 120 ? std::string() : RandomLetters(rng, n, alphabet);
          std::vector<svm_node> nodes = i < 120 ? std::vector<svm_node>() : WindowNodes(z);
          const svm_node* x = i < 120 ? p.prob.x[i] : nodes.data();
          std::string letters;
          for (const svm_node* q = x; q->index != -1; ++q) {
            letters.push_back(static_cast<char>(q->value));
          }
          double exact = 0;
          svm_predict_values(*model, x, &exact);
          const double tabled =
              table->Decision(reinterpret_cast<const unsigned char*>(letters.data()));
          ASSERT_NEAR(tabled, exact, 1e-12 * (1 + std::fabs(exact)))
              << n << " " << degree << " " << alphabet << " " << i;
          batch.push_back(letters);
          one_by_one.push_back(tabled);
        }
        // All at once: the same numbers.
        std::vector<const unsigned char*> pointers;
        for (const std::string& w : batch) {
          pointers.push_back(reinterpret_cast<const unsigned char*>(w.data()));
        }
        std::vector<double> together(batch.size());
        table->Decisions(pointers.data(), static_cast<int>(pointers.size()), together.data());
        EXPECT_EQ(together, one_by_one);
      }
    }
  }
}

TEST(WdTableTest, WindowsOneLetterApartGiveTheNumbersOfWindowsAlone) {
  // A scan's windows: one after another forwards (plus strand), backwards
  // (minus strand), and with a gap, over letters the table partly does not
  // know (five letters, four in the table).
  CRandom rng(29);
  for (int n : {4, 40}) {
    OwnedProblem p;
    const auto model = TrainWd(rng, n, 22, 5, p);
    const auto table = WdTable::Build(*model);
    ASSERT_NE(table, nullptr);
    std::string genome = RandomLetters(rng, 700, 5);
    genome.replace(100, 8, "GTAAGTAA");  // planted sites and long shared runs
    genome.replace(300, 40, genome.substr(200, 40));
    const auto* letters = reinterpret_cast<const unsigned char*>(genome.data());
    const int count = static_cast<int>(genome.size()) - n + 1;
    std::vector<const unsigned char*> forwards, backwards, gapped;
    for (int i = 0; i < count; ++i) {
      forwards.push_back(letters + i);
      backwards.push_back(letters + (count - 1 - i));
      if (i != count / 2) gapped.push_back(letters + i);
    }
    for (const auto* windows : {&forwards, &backwards, &gapped}) {
      std::vector<double> together(windows->size());
      table->Decisions(windows->data(), static_cast<int>(windows->size()), together.data());
      for (size_t i = 0; i < windows->size(); ++i) {
        ASSERT_EQ(together[i], table->Decision((*windows)[i])) << n << " " << i;
      }
    }
  }
}

TEST(WdTableTest, OnlyTwoClassWdModelsAreTabled) {
  CRandom rng(3);
  OwnedProblem p;
  auto model = TrainWd(rng, 12, 4, 4, p);
  EXPECT_NE(WdTable::Build(*model), nullptr);
  model->param.kernel_type = wds;
  EXPECT_EQ(WdTable::Build(*model), nullptr);
  model->param.kernel_type = wd;
  model->sv_letters.pop_back();  // a vector that is not letters
  EXPECT_EQ(WdTable::Build(*model), nullptr);
}

}  // namespace
}  // namespace varnik
