// Times C-SVC training on windows: the wd kernel (fast and straightforward,
// which must give the same model file) and the rbf kernel on the one-hot
// encoding, reporting time, solver steps and kernel evaluations.
//
//   svm_bench TRAIN_PREFIX [MAX_WINDOWS_PER_CLASS] [DEGREE] [WORK_DIR]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/error.h"
#include "sequence/fasta.h"
#include "svm/reference_kernels.h"
#include "svm/svm.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string ReadAll(const std::string& path) {
  std::string text;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  return text;
}

struct Result {
  double seconds;
  varnik::svm_run run;
  std::string model_file;
};

Result Train(const varnik::svm_problem& prob, const varnik::svm_parameter& param,
             varnik::svm_run run, const std::string& path) {
  varnik::SvmRandom rng;
  const auto start = std::chrono::steady_clock::now();
  auto model = varnik::svm_train(prob, param, rng, &run);
  const double s = Seconds(start);
  varnik::svm_save_model(path, *model);
  return {s, run, ReadAll(path)};
}

void Report(const char* what, const Result& r) {
  std::printf("%-34s %8.2f s  %9lld solver steps  %11lld kernel evaluations\n", what, r.seconds,
              r.run.iterations, r.run.kernel_evaluations);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s TRAIN_PREFIX [MAX_PER_CLASS] [DEGREE] [WORK_DIR]\n", argv[0]);
    return 2;
  }
  const std::string prefix = argv[1];
  const int max_per_class = argc > 2 ? std::atoi(argv[2]) : 1500;
  const int degree = argc > 3 ? std::atoi(argv[3]) : 22;
  const std::string work = argc > 4 ? argv[4] : ".";
  try {
    varnik::Settings s;
    varnik::SequenceSet pos, neg;
    const int L = varnik::ReadFastaFile(prefix + "pos", s, pos);
    varnik::ReadFastaFile(prefix + "neg", s, neg);
    std::vector<std::vector<varnik::svm_node>> letters, onehot;
    varnik::svm_problem letter_prob, onehot_prob;
    for (const varnik::SequenceSet* set : {&pos, &neg}) {
      for (int i = 0; i < std::min(set->size(), max_per_class); ++i) {
        std::vector<varnik::svm_node> w, h;
        for (int p = 0; p < L; ++p) {
          const char c = (*set)[i][p];
          w.push_back({p, static_cast<double>(static_cast<unsigned char>(c))});
          const char* slot = std::strchr("ATGC", c);
          if (slot != nullptr && c != '\0')
            h.push_back({4 * p + static_cast<int>(slot - "ATGC") + 1, 1.0});
        }
        w.push_back({-1, 0});
        h.push_back({-1, 0});
        letters.push_back(std::move(w));
        onehot.push_back(std::move(h));
        letter_prob.y.push_back(set == &pos ? 1 : -1);
      }
    }
    letter_prob.l = static_cast<int>(letters.size());
    for (const auto& w : letters) letter_prob.x.push_back(w.data());
    onehot_prob.l = letter_prob.l;
    onehot_prob.y = letter_prob.y;
    for (const auto& h : onehot) onehot_prob.x.push_back(h.data());
    std::printf("%d windows of %d letters (C-SVC, C = 1, eps = 0.001, cache 100 MB)\n",
                letter_prob.l, L);

    varnik::svm_parameter wd;
    wd.kernel_type = varnik::wd;
    wd.degree = degree;
    const Result fast = Train(letter_prob, wd, {}, work + "/svm_bench_wd_fast.model");
    Report("wd, fast kernel", fast);
    varnik::svm_run plain;
    plain.wd_kernel = varnik::testing::ReferenceWd;
    const Result slow = Train(letter_prob, wd, plain, work + "/svm_bench_wd_plain.model");
    Report("wd, straightforward formula", slow);
    std::printf("speed-up %.1f x; model files %s\n", slow.seconds / fast.seconds,
                fast.model_file == slow.model_file ? "identical" : "DIFFER");

    varnik::svm_parameter rbf;
    rbf.kernel_type = varnik::rbf;
    rbf.gamma = 1.0 / (4 * L);
    const Result r = Train(onehot_prob, rbf, {}, work + "/svm_bench_rbf.model");
    Report("rbf on the one-hot encoding", r);
    return fast.model_file == slow.model_file ? 0 : 1;
  } catch (const varnik::VarnikError& e) {
    std::printf("%s\n", e.Line().c_str());
    return e.code();
  }
}
