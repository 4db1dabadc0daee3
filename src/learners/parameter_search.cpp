#include "learners/parameter_search.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/error.h"
#include "core/labels.h"
#include "core/numeric.h"
#include "core/parallel.h"
#include "core/progress.h"
#include "learners/methods.h"
#include "recognizers/knn.h"
#include "recognizers/knn_rows.h"
#include "recognizers/svm_recognizer.h"

namespace varnik {

long long MemoryPerTraining(const Settings& s, int concurrent) {
  const long long total = s.memory_bytes > 0 ? s.memory_bytes : svm_default_memory();
  return std::max(1LL, total / std::max(1, concurrent));
}

Fold CyclicFold(int m, int folds, int f) {
  Fold fold;
  const int s = m / folds;
  for (int t = 0; t < s; ++t) fold.test.push_back((f * s + t) % m);
  const int after = m > 0 ? (f * s + s) % m : 0;
  for (int t = 0; t < m - s; ++t) fold.train.push_back((after + t) % m);
  return fold;
}

const std::vector<GridRow>& SvmGrid() {
  static const std::vector<GridRow> grid = [] {
    std::vector<GridRow> g;
    for (float gamma : {0.0001f, 0.001f, 0.01f, 0.1f, 1.0f, 10.0f}) {
      for (float C : {0.1f, 1.0f, 10.0f}) g.push_back({2.0f, gamma, C});
    }
    for (float C : {0.1f, 1.0f, 10.0f}) g.push_back({0.0f, 0.0f, C});
    return g;
  }();
  return grid;
}

void RefuseNoFolds(const Settings& s) {
  if (s.CV_folds < 1) {
    OnErrorExit(kUnspecifiedError, "CV_folds must be at least 1 for cross-validation");
  }
}

namespace {

// n: the number of windows (or rows) the folds share out.
void CheckFolds(const Settings& s, size_t n) {
  RefuseNoFolds(s);
  if (static_cast<size_t>(s.CV_folds) > n) {
    OnErrorExit(kUnspecifiedError, "CV_folds (" + std::to_string(s.CV_folds) +
                                       ") is larger than the number of windows to fold (" +
                                       std::to_string(n) + ")");
  }
}

// Confusion counts over all folds of one candidate, in single precision.
using Counts = FoldCounts;

std::vector<const char*> Pick(const std::vector<const char*>& items, const std::vector<int>& at) {
  std::vector<const char*> out;
  out.reserve(at.size());
  for (int i : at) out.push_back(items[i]);
  return out;
}

// Tries every grid row in order with the counts evaluate (the settings of
// the row, a fold, a generator) gives for each of the F folds; the best G
// wins, a tie going to a larger C. The rows x folds are independent pieces of
// work, spread over the settings' threads and gathered in order.
template <typename Evaluate>
SearchChoice GridSearch(const Settings& settings, OutputFile& out, int F, SvmRandom& rng,
                        Evaluate evaluate) {
  const std::vector<GridRow>& grid = SvmGrid();
  const int rows = static_cast<int>(grid.size());
  auto row_settings = [&](int row) {
    Settings r = settings;
    r.Kernel = static_cast<int>(grid[row].kernel);
    r.Gamma = grid[row].gamma;
    r.C = grid[row].C;
    r.threads = 1;  // the pieces already fill the threads
    r.progress = false;
    r.memory_bytes = MemoryPerTraining(settings, settings.threads);
    return r;
  };
  std::vector<Counts> counts(static_cast<size_t>(rows) * F);
  Progress progress(settings.progress, "parameter search, grid rows x folds", rows * F);
  ParallelFor(rows * F, settings.threads, [&](int task, int) {
    SvmRandom own = rng;  // SVM training draws nothing here; each piece has its own
    counts[task] = evaluate(row_settings(task / F), task % F, own);
    progress.Advance();
  });
  Settings s = settings;
  float best = -1;
  int best_row = 0;
  for (int row = 0; row < rows; ++row) {
    s = row_settings(row);
    Counts c;
    for (int f = 0; f < F; ++f) c.Add(counts[static_cast<size_t>(row) * F + f]);
    const float G = c.G();
    if (G > best || (G == best && grid[row].C > grid[best_row].C)) {
      best = G;
      best_row = row;
    }
    if (s.Verbose > 1) {
      out.Printf("Kernel = %d\tC = %lf\tgamma = %lf\tAccuracy: %lf\n", s.Kernel,
                 static_cast<double>(s.C), static_cast<double>(s.Gamma), static_cast<double>(G));
    }
  }
  SearchChoice choice;
  choice.what = SearchChoice::kSvmParameters;
  choice.Kernel = static_cast<int>(grid[best_row].kernel);
  choice.Gamma = grid[best_row].gamma;
  choice.C = grid[best_row].C;
  out.Printf("Best parameters (accuracy: %lf): Kernel = %d\tC = %lf\tGamma: %lf\n",
             static_cast<double>(best), choice.Kernel, static_cast<double>(choice.C),
             static_cast<double>(choice.Gamma));
  return choice;
}

}  // namespace

FoldCounts SvmFoldCounts(const std::vector<const char*>& pos, const std::vector<const char*>& neg,
                         int L, int F, int f, const Settings& settings, SvmRandom& rng) {
  FoldCounts c;
  svm_scratch scratch;
  const Fold fp = CyclicFold(static_cast<int>(pos.size()), F, f);
  const Fold fn = CyclicFold(static_cast<int>(neg.size()), F, f);
  Settings one = settings;
  one.threads = 1;  // folds are evaluated side by side
  one.progress = false;
  auto model =
      TrainSVMClassifier(Pick(pos, fp.train), Pick(neg, fn.train), L, one, nullptr, nullptr, rng);
  for (int i : fp.test) (SVMOutput(*model, pos[i], L, scratch) > 0 ? c.TP : c.FN) += 1;
  for (int i : fn.test) (SVMOutput(*model, neg[i], L, scratch) > 0 ? c.FP : c.TN) += 1;
  return c;
}

namespace {

SearchChoice GridSearchOnWindows(const std::vector<const char*>& pos,
                                 const std::vector<const char*>& neg, int L,
                                 const Settings& settings, OutputFile& out, SvmRandom& rng) {
  const int F = settings.CV_folds;
  return GridSearch(settings, out, F, rng, [&](const Settings& s, int f, SvmRandom& own) {
    return SvmFoldCounts(pos, neg, L, F, f, s, own);
  });
}

// The k of the k-NN: every k from Min_k to Max_k.
int KSearchOnWindows(const std::vector<const char*>& pos, const std::vector<const char*>& neg,
                     int L, const Settings& s, OutputFile& out) {
  if (s.Min_k > s.Max_k) {
    out.Printf("Best parameters (accuracy: %lf): K = %d\n", -1.0, 0);
    return 0;
  }
  // The span is bounded where the parameters are read.
  const long long n_k = static_cast<long long>(s.Max_k) - s.Min_k + 1;
  const int F = s.CV_folds;
  // Each fold's prototypes (its training positives, then its negatives) and
  // test windows.
  struct FoldWork {
    std::vector<const char*> prototypes, tests;
    int n_train_pos = 0, n_train_neg = 0;
    size_t n_test_pos = 0;
  };
  std::vector<FoldWork> folds(static_cast<size_t>(F));
  std::vector<std::pair<int, int>> tasks;  // (fold, test window)
  for (int f = 0; f < F; ++f) {
    const Fold fp = CyclicFold(static_cast<int>(pos.size()), F, f);
    const Fold fn = CyclicFold(static_cast<int>(neg.size()), F, f);
    FoldWork& w = folds[f];
    w.prototypes = Pick(pos, fp.train);
    w.n_train_pos = static_cast<int>(w.prototypes.size());
    w.n_train_neg = static_cast<int>(fn.train.size());
    for (int i : fn.train) w.prototypes.push_back(neg[i]);
    w.tests = Pick(pos, fp.test);
    w.n_test_pos = w.tests.size();
    for (int i : fn.test) w.tests.push_back(neg[i]);
    for (size_t t = 0; t < w.tests.size(); ++t) tasks.push_back({f, static_cast<int>(t)});
  }
  // Calls per k, as whole counts (TP, FN, FP, TN), one table per thread:
  // whole numbers add up the same in any order. From some k on, every larger
  // k makes the same call on a window: it is counted once, at that k, in
  // tail, and carried to every later k below.
  const int threads = std::max(1, std::min(s.threads, static_cast<int>(tasks.size())));
  struct Tables {
    std::vector<std::array<int, 4>> calls, tail;
    KnnCountSlots slots;
    std::vector<int32_t> counts;
  };
  std::vector<Tables> tables(static_cast<size_t>(threads));
  for (Tables& t : tables) {
    t.calls.assign(static_cast<size_t>(n_k), {0, 0, 0, 0});
    t.tail.assign(static_cast<size_t>(n_k) + 1, {0, 0, 0, 0});
  }
  Progress progress(s.progress, "k search, test windows", static_cast<long long>(tasks.size()));
  ParallelFor(static_cast<int>(tasks.size()), threads, [&](int task, int worker) {
    progress.Advance();
    const FoldWork& w = folds[tasks[task].first];
    const size_t t = static_cast<size_t>(tasks[task].second);
    Tables& own = tables[worker];
    const int n_train = static_cast<int>(w.prototypes.size());
    // Below every_slot some prototype is left out of the slots; from there on
    // all of them are in, and the calls settle.
    const long long every_slot = std::max(n_train, 1);
    // The distances do not depend on k: the test window's mismatch counts
    // with the fold's prototypes are taken once, and every k runs its
    // neighbour slots over them (the same slots the search on windows fills).
    own.counts.resize(static_cast<size_t>(n_train));
    for (int p = 0; p < n_train; ++p) {
      own.counts[p] = CountMismatches(w.tests[t], w.prototypes[p], L, L);
    }
    const int cell = t < w.n_test_pos ? 0 : 2;  // TP / FN, or FP / TN
    auto count = [&](std::array<int, 4>& into, float score) {
      into[cell + (score > 0 ? 0 : 1)] += 1;
    };
    const long long direct_end = std::min<long long>(n_k, every_slot - s.Min_k);
    if (direct_end > 0) {
      KnnScoresOfEachK(own.counts.data(), w.n_train_pos, w.n_train_neg, L, s.Min_k,
                       static_cast<int>(s.Min_k + direct_end - 1), s.KNN_weight_by_distance,
                       own.slots,
                       [&](int k, float score) { count(own.calls[k - s.Min_k], score); });
    }
    if (direct_end >= n_k) return;
    const int first = static_cast<int>(s.Min_k + std::max<long long>(direct_end, 0));
    float last_score = 0.0f;
    const int settled =
        KnnScoresOfEveryPrototype(own.counts.data(), w.n_train_pos, w.n_train_neg, L, first,
                                  s.Max_k, s.KNN_weight_by_distance, [&](int k, float score) {
                                    count(own.calls[k - s.Min_k], score);
                                    last_score = score;
                                  });
    // The call at settled holds for every later k.
    if (settled < s.Max_k) count(own.tail[settled + 1 - s.Min_k], last_score);
  });
  std::vector<std::array<int, 4>> calls(static_cast<size_t>(n_k), {0, 0, 0, 0});
  std::vector<std::array<int, 4>> tail(static_cast<size_t>(n_k) + 1, {0, 0, 0, 0});
  for (const Tables& t : tables) {
    for (long long kk = 0; kk < n_k; ++kk) {
      for (int j = 0; j < 4; ++j) {
        calls[kk][j] += t.calls[kk][j];
        tail[kk][j] += t.tail[kk][j];
      }
    }
  }
  std::vector<Counts> totals(static_cast<size_t>(n_k));
  std::array<int, 4> carried = {0, 0, 0, 0};
  for (long long kk = 0; kk < n_k; ++kk) {
    for (int j = 0; j < 4; ++j) carried[j] += tail[kk][j];
    Counts& c = totals[kk];
    c.TP = static_cast<float>(calls[kk][0] + carried[0]);
    c.FN = static_cast<float>(calls[kk][1] + carried[1]);
    c.FP = static_cast<float>(calls[kk][2] + carried[2]);
    c.TN = static_cast<float>(calls[kk][3] + carried[3]);
  }
  float best = -1;
  int best_k = s.Min_k;
  for (long long kk = 0; kk < n_k; ++kk) {
    const int k = static_cast<int>(s.Min_k + kk);
    const float G = totals[kk].G();
    if (G > best) {
      best = G;
      best_k = k;
    }
    if (s.Verbose > 1) out.Printf("K = %d\tAccuracy: %lf\n", k, static_cast<double>(G));
  }
  out.Printf("Best parameters (accuracy: %lf): K = %d\n", static_cast<double>(best), best_k);
  return best_k;
}

std::vector<const float*> PickRows(const std::vector<const float*>& rows,
                                   const std::vector<int>& at) {
  std::vector<const float*> out;
  for (int i : at) out.push_back(rows[i]);
  return out;
}

std::vector<int> PickLabels(const std::vector<int>& labels, const std::vector<int>& at) {
  std::vector<int> out;
  for (int i : at) out.push_back(labels[i]);
  return out;
}

}  // namespace

void SearchChoice::ApplyTo(Settings& settings) const {
  if (what == kSvmParameters) {
    settings.Kernel = Kernel;
    settings.Gamma = Gamma;
    settings.C = C;
  } else if (what == kK) {
    settings.K = K;
  }
}

SearchChoice CrossValidatedParameters(const std::vector<const char*>& positives,
                                      const std::vector<const char*>& negatives, int L,
                                      const Settings& settings, OutputFile& out, SvmRandom& rng) {
  const int method = LearnerMethod(settings);
  if (method != kSVM && method != kKNN) return SearchChoice();
  CheckFolds(settings, positives.size() + negatives.size());
  if (method == kSVM) return GridSearchOnWindows(positives, negatives, L, settings, out, rng);
  SearchChoice choice;
  choice.what = SearchChoice::kK;
  choice.K = KSearchOnWindows(positives, negatives, L, settings, out);
  return choice;
}

SearchChoice CrossValidatedSVMRealParameters(const std::vector<const float*>& rows, int dim,
                                             const std::vector<int>& labels,
                                             const Settings& settings, OutputFile& out,
                                             SvmRandom& rng) {
  CheckFolds(settings, rows.size());
  const int F = settings.CV_folds;
  const int n = static_cast<int>(rows.size());
  const std::vector<int> mask(static_cast<size_t>(std::max(dim, 0)), 1);
  return GridSearch(settings, out, F, rng, [&](const Settings& s, int f, SvmRandom& own) {
    Counts c;
    svm_scratch scratch;
    const Fold fold = CyclicFold(n, F, f);
    const std::vector<int> train_labels = PickLabels(labels, fold.train);
    auto model = TrainSVMClassifierRealInputs(PickRows(rows, fold.train), mask.data(),
                                              train_labels.data(), dim, s, own);
    for (int i : fold.test) {
      const float output = model != nullptr ? SVMRealOutput(*model, rows[i], dim, scratch) : 0.0f;
      if (labels[i] == kRealPositive) {
        (output > 0 ? c.TP : c.FN) += 1;
      } else {
        (output <= 0 ? c.TN : c.FP) += 1;
      }
    }
    return c;
  });
}

int CrossValidatedkNNRealParameters(const std::vector<const float*>& rows, int dim,
                                    const std::vector<int>& labels, const Settings& s,
                                    OutputFile& out) {
  if (s.Min_k > s.Max_k) {
    out.Printf("Stacking k-NN best parameters (accuracy: %lf): K = %d\n", -1.0, 0);
    return 0;
  }
  CheckFolds(s, rows.size());
  const int F = s.CV_folds;
  const int n = static_cast<int>(rows.size());
  float best = -1;
  int best_k = s.Min_k;
  for (int k = s.Min_k; k <= s.Max_k; ++k) {
    Counts c;
    for (int f = 0; f < F; ++f) {
      const Fold fold = CyclicFold(n, F, f);
      const std::vector<const float*> train = PickRows(rows, fold.train);
      const std::vector<int> train_labels = PickLabels(labels, fold.train);
      for (int i : fold.test) {
        const float score =
            kNearestNeighbour(rows[i], train, dim, k, train_labels, s.KNN_weight_by_distance);
        if (labels[i] == kRealPositive) {
          (score > 0 ? c.TP : c.FN) += 1;
        } else {
          (score < 0 ? c.TN : c.FP) += 1;
        }
      }
    }
    const float G = c.G();
    if (G > best) {
      best = G;
      best_k = k;
    }
    if (s.Verbose > 1) out.Printf("K = %d\tG: %lf\n", k, static_cast<double>(G));
  }
  out.Printf("Stacking k-NN best parameters (accuracy: %lf): K = %d\n", static_cast<double>(best),
             best_k);
  return best_k;
}

}  // namespace varnik
