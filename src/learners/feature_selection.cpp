#include "learners/feature_selection.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include "core/error.h"
#include "core/parallel.h"
#include "core/progress.h"
#include "learners/methods.h"
#include "learners/parameter_search.h"
#include "recognizers/svm_recognizer.h"

namespace varnik {

std::vector<FeatureInfo> RFE(const std::vector<const float*>& rows, const std::vector<int>& labels,
                             int dim, const Settings& settings, OutputFile& out, SvmRandom& rng) {
  std::vector<FeatureInfo> f(static_cast<size_t>(std::max(dim, 0)));
  for (int i = 0; i < dim; ++i) f[i].feature = i;
  std::vector<int> active(static_cast<size_t>(std::max(dim, 0)), 1);
  // The parameter table refuses a batch below 1; at least one feature leaves
  // each step for any caller, so the loop ends.
  const int batch = std::max(1, settings.RFE_subset_size);
  int removed = 0;
  while (removed < dim) {
    std::unique_ptr<svm_model> model =
        TrainSVMClassifierRealInputs(rows, active.data(), labels.data(), dim, settings, rng);
    const std::vector<std::vector<float>> w =
        model != nullptr ? GetSVMW(*model, dim) : std::vector<std::vector<float>>();
    const float pairs = static_cast<float>(w.size());
    for (int j = 0; j < dim; ++j) {
      float s = 0.0f;
      for (const std::vector<float>& v : w) s += std::fabs(v[j]);
      f[j].step_weight = w.empty() ? 0.0f : s / pairs;
      f[j].weight += f[j].step_weight;
    }
    std::stable_sort(f.begin(), f.end(), [](const FeatureInfo& a, const FeatureInfo& b) {
      return a.step_weight < b.step_weight;
    });
    int taken = 0;
    for (FeatureInfo& x : f) {
      if (taken == batch) break;
      if (!active[x.feature]) continue;
      x.ranking = removed + taken;
      active[x.feature] = 0;
      ++taken;
      if (settings.Verbose >= 1)
        out.Printf("Instance out in step %3d: %d\n", removed + 1, x.feature + 1);
    }
    std::sort(f.begin(), f.end(),
              [](const FeatureInfo& a, const FeatureInfo& b) { return a.feature < b.feature; });
    removed += taken;
  }
  return f;
}

namespace {

// Copies of the windows at the given positions, in that order.
void CutInto(const SequenceSet& from, const std::vector<int>& positions, SequenceSet& to) {
  to = SequenceSet(from.size(), std::max(static_cast<int>(positions.size()), 1));
  std::string cut(positions.size(), 'A');
  for (int i = 0; i < from.size(); ++i) {
    const char* w = from[i];
    for (size_t p = 0; p < positions.size(); ++p) cut[p] = w[positions[p]];
    to.Assign(i, cut);
  }
}

// The G of the feature-selection searches: the square root in double
// precision of the single-precision product.
float SqrtG(const FoldCounts& c) {
  const float Sn = c.TP / (c.TP + c.FN), Sp = c.TN / (c.TN + c.FP);
  return static_cast<float>(std::sqrt(static_cast<double>(Sn * Sp)));
}

}  // namespace

int KeepPositions(SequenceSet& windows, const std::vector<int>& positions) {
  SequenceSet cut;
  CutInto(windows, positions, cut);
  windows = std::move(cut);
  return static_cast<int>(positions.size());
}

FractionChoice CrossValidateFeatureSelection(float step, const SequenceSet& positives,
                                             const SequenceSet& negatives, int L,
                                             const std::vector<int>& ranking,
                                             const Settings& settings, OutputFile& out,
                                             SvmRandom& rng) {
  FractionChoice choice;
  const int method = LearnerMethod(settings);
  if (method != kSVM) return choice;
  Settings s = settings;  // the parameter searches change the SVM settings as they go
  const int F = s.CV_folds;
  RefuseNoFolds(s);
  float best_G = -1.0f, best_fraction = 0.0f, G = 0.0f;
  float fraction = s.FS_min_percent;
  SequenceSet pos, neg;
  if (!std::isnan(fraction) && fraction <= 1.0f) {
    while (fraction <= 1.0f) {
      const int keep = std::clamp(static_cast<int>(static_cast<float>(L) * fraction), 0, L);
      const std::vector<int> positions(ranking.begin(), ranking.begin() + keep);
      CutInto(positives, positions, pos);
      CutInto(negatives, positions, neg);
      // With the parameter search the folds follow one another (each search
      // starts from the settings the last one left); without it they are
      // independent and spread over the threads.
      const std::vector<const char*> pp = pos.Pointers(), nn = neg.Pointers();
      std::vector<FoldCounts> parts(static_cast<size_t>(F));
      if (s.CV_parameters) {
        for (int f = 0; f < F; ++f) {
          const Fold fp = CyclicFold(pos.size(), F, f), fn = CyclicFold(neg.size(), F, f);
          std::vector<const char*> train_pos, train_neg;
          for (int i : fp.train) train_pos.push_back(pp[i]);
          for (int i : fn.train) train_neg.push_back(nn[i]);
          choice.svm = CrossValidatedParameters(train_pos, train_neg, keep, s, out, rng);
          choice.svm.ApplyTo(s);
          parts[f] = SvmFoldCounts(pp, nn, keep, F, f, s, rng);
        }
      } else {
        Settings each = s;  // the folds' trainings share the memory
        each.memory_bytes = MemoryPerTraining(s, std::min(F, s.threads));
        ParallelFor(F, s.threads, [&](int f, int) {
          SvmRandom own = rng;  // SVM training draws nothing here
          parts[f] = SvmFoldCounts(pp, nn, keep, F, f, each, own);
        });
      }
      FoldCounts c;
      for (const FoldCounts& p : parts) c.Add(p);
      G = SqrtG(c);
      if (G >= best_G) {
        best_G = G;
        best_fraction = fraction;
      }
      if (s.Verbose > 1) {
        out.Printf("Percentage = %lf\tG: %lf\n", static_cast<double>(fraction),
                   static_cast<double>(G));
      }
      fraction = fraction + step;
    }
    choice.fraction = best_fraction;
  }
  out.Printf("Best parameters (accuracy: %lf): Kernel = %d\tC = %lf\tGamma: %lf\n",
             static_cast<double>(G), s.Kernel, static_cast<double>(s.C),
             static_cast<double>(s.Gamma));
  return choice;
}

void HuxCrossover(const Individual& a, const Individual& b, Individual& child_a,
                  Individual& child_b) {
  child_a = a;
  child_b = b;
  bool exchange = false;
  for (size_t p = 0; p < a.size(); ++p) {
    if (a[p] == b[p]) continue;
    if (exchange) std::swap(child_a[p], child_b[p]);
    exchange = !exchange;
  }
}

bool RandomMutation(Individual& x, float q, CRandom& rng) {
  bool changed = false;
  for (int& bit : x) {
    if (rng.UniformNumber() < q) {
      bit = 1 - bit;
      changed = true;
    }
  }
  return changed;
}

int HammingDistanceInteger(const Individual& a, const Individual& b) {
  int d = 0;
  for (size_t p = 0; p < a.size(); ++p) d += a[p] != b[p];
  return d;
}

int OrderedSelection(const std::vector<float>& values, int first, int count) {
  int best = first;
  for (int i = first + 1; i < count; ++i) {
    if (values[i] > values[best]) best = i;
  }
  return best;
}

SelectionEvaluator::SelectionEvaluator(const SequenceSet& positives, const SequenceSet& negatives,
                                       int L, const Settings& settings, SvmRandom& rng)
    : positives_(positives), negatives_(negatives), L_(L), settings_(settings), rng_(rng) {}

float SelectionEvaluator::Evaluate(const Individual& x, float* G, float* reduction) {
  std::vector<int> positions;
  for (int p = 0; p < L_; ++p) {
    if (x[p]) positions.push_back(p);
  }
  const int k = static_cast<int>(positions.size());
  *reduction = 1.0f - static_cast<float>(k) / static_cast<float>(L_);
  CutInto(positives_, positions, cut_pos_);
  CutInto(negatives_, positions, cut_neg_);
  const int F = settings_.CV_folds;
  const std::vector<const char*> pp = cut_pos_.Pointers(), nn = cut_neg_.Pointers();
  FoldCounts c;
  for (int f = 0; f < F; ++f) c.Add(SvmFoldCounts(pp, nn, k, F, f, settings_, rng_));
  *G = SqrtG(c);
  const float alpha = settings_.GAFS_alpha;
  return alpha * *G + (1.0f - alpha) * *reduction;
}

float SelectionEvaluator::LSMutation(Individual& x, float* G, float* reduction) {
  float fitness = Evaluate(x, G, reduction);
  for (int p = 0; p < L_; ++p) {
    x[p] = 1 - x[p];
    float g = 0, r = 0;
    const float flipped = Evaluate(x, &g, &r);
    if (flipped >= fitness) {
      fitness = flipped;
      *G = g;
      *reduction = r;
    } else {
      x[p] = 1 - x[p];
    }
  }
  return fitness;
}

std::vector<int> GAFeatureSelection(const SequenceSet& positives, const SequenceSet& negatives,
                                    int L, const Settings& s, CRandom& rng, SvmRandom& svm_rng,
                                    OutputFile& out) {
  // The parameter table refuses an odd population or one below 2; pairs of
  // parents need an even count of at least 2 for any caller.
  const int P = std::max(2, s.GAFS_popsize - s.GAFS_popsize % 2);
  if (s.R_method != kSVM) OnErrorExit(kUnspecifiedError, "Not yet implemented");
  RefuseNoFolds(s);
  // One evaluator per thread, each with its own generator (SVM training
  // draws nothing here). Every draw of the search happens on this thread, in
  // the order of a one-thread run; only the evaluations are spread.
  const int threads = std::max(1, s.threads);
  std::vector<SvmRandom> svm_rngs(static_cast<size_t>(threads), svm_rng);
  std::vector<std::unique_ptr<SelectionEvaluator>> evaluators;
  Settings each = s;  // the evaluators' trainings share the memory
  each.memory_bytes = MemoryPerTraining(s, threads);
  for (int w = 0; w < threads; ++w) {
    evaluators.push_back(
        std::make_unique<SelectionEvaluator>(positives, negatives, L, each, svm_rngs[w]));
  }
  const int places = 2 * P + 1;
  std::vector<Individual> pop(static_cast<size_t>(places), Individual(static_cast<size_t>(L), 0));
  std::vector<float> fitness(places, 0.0f), G(places, 0.0f), reduction(places, 0.0f);
  auto evaluate = [&](const std::vector<int>& at) {
    ParallelFor(static_cast<int>(at.size()), threads, [&](int i, int w) {
      const int k = at[i];
      fitness[k] = evaluators[w]->Evaluate(pop[k], &G[k], &reduction[k]);
    });
  };
  auto climb = [&](const std::vector<int>& at) {
    ParallelFor(static_cast<int>(at.size()), threads, [&](int i, int w) {
      const int k = at[i];
      fitness[k] = evaluators[w]->LSMutation(pop[k], &G[k], &reduction[k]);
    });
  };
  auto random_individuals = [&](int first, int last) {
    std::vector<int> at;
    for (int place = first; place < last; ++place) {
      for (int& bit : pop[place]) bit = rng.UniformNumber() < s.GAFS_set_probability ? 1 : 0;
      at.push_back(place);
    }
    evaluate(at);
  };
  random_individuals(0, P);
  std::vector<int> order(static_cast<size_t>(2 * P));
  for (int i = 0; i < 2 * P; ++i) order[i] = i;
  int d = L / 4;
  Progress progress(s.progress, "genetic algorithm, generations", s.GAFS_generations);
  for (int g = 1; g <= s.GAFS_generations; ++g) {
    int c = P;
    for (int i = 0; i < P; i += 2) {
      std::swap(order[i], order[i + rng.UniformIndex(P - i)]);
      std::swap(order[i + 1], order[i + 1 + rng.UniformIndex(P - i - 1)]);
      const int a = order[i], b = order[i + 1];
      if (HammingDistanceInteger(pop[a], pop[b]) >= d) {
        HuxCrossover(pop[b], pop[a], pop[c], pop[c + 1]);
        c += 2;
      }
    }
    if (c == P) {
      --d;
      continue;
    }
    // Mutated parents and every child are evaluated, after the draws.
    std::vector<int> at;
    if (s.GAFS_mutation > 1e-6 && s.GAFS_bit_mutation > 1e-6 && c >= 2) {
      for (int k = 1; k < c; ++k) {
        if (rng.UniformNumber() < s.GAFS_mutation &&
            RandomMutation(pop[k], s.GAFS_bit_mutation, rng) && k < P) {
          at.push_back(k);
        }
      }
    }
    for (int k = P; k < c; ++k) at.push_back(k);
    evaluate(at);
    if (s.GAFS_lsmutation > 1e-6) {
      at.clear();
      for (int k = 0; k < c; ++k) {
        if (rng.UniformNumber() < s.GAFS_lsmutation) at.push_back(k);
      }
      climb(at);
    }
    const int best = OrderedSelection(fitness, 0, c);
    pop[c] = pop[best];
    climb({c});
    for (int j = 0; j < P; ++j) {
      const int top = OrderedSelection(fitness, j, c + 1);
      std::swap(pop[j], pop[top]);
      std::swap(fitness[j], fitness[top]);
      std::swap(G[j], G[top]);
      std::swap(reduction[j], reduction[top]);
    }
    if (d == 0) random_individuals(1, P);
    if (s.Verbose >= 1) {
      out.Printf("Generation:%3d. Best fitness: %6.4lf\tG: %6.4lf\tReduction: %6.4lf\t", g,
                 static_cast<double>(fitness[0]), static_cast<double>(G[0]),
                 static_cast<double>(reduction[0]));
      for (int bit : pop[0]) out.Printf("%d ", bit);
      out.Printf("\n");
      out.Flush();
    }
    progress.Advance();
  }
  return pop[0];
}

}  // namespace varnik
