#include "learners/ensemble.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/error.h"
#include "core/numeric.h"
#include "core/parallel.h"
#include "learners/methods.h"
#include "learners/parameter_search.h"

namespace varnik {

EnsembleRecognizer::EnsembleRecognizer(const Settings& settings, int method, int base_learner,
                                       const TreeEngine* engine, int L)
    : Recognizer(settings, method), base_learner(base_learner) {
  if (base_learner == kC45 && engine != nullptr) trees.emplace(*engine, L);
}

float EnsembleRecognizer::BaseOutput(const Ensemble& e, int t, const char* window, int L,
                                     Scratch& scratch) const {
  if (base_learner == kC45) return trees->Output(e.trees[t].get(), window, L, scratch.tree);
  if (base_learner == kSVM) return SVMOutput(*e.lsvm[t], window, L, scratch.svm);
  return 0.0f;
}

float EnsembleRecognizer::EnsembleOutput(const Ensemble& e, const char* window, int L,
                                         Scratch& scratch) const {
  float sum = 0.0f;
  if (base_learner == kC45 || base_learner == kSVM) {
    for (int t = 0; t < e.n_classifiers; ++t) {
      sum += BaseOutput(e, t, window, L, scratch) * e.alpha[t];
    }
  }
  return sum - e.threshold;
}

float EnsembleRecognizer::MultiEnsembleOutput(const char* window, int L, Scratch& scratch) const {
  float sum = 0.0f;
  for (const Ensemble& e : multiensemble.ensemble) sum += EnsembleOutput(e, window, L, scratch);
  return sum / static_cast<float>(multiensemble.n_ensembles);
}

std::unique_ptr<ScoreScratch> EnsembleRecognizer::NewScratch() const {
  return std::make_unique<Scratch>();
}

float EnsembleRecognizer::Score(const char* window, int L, int, ScoreScratch* scratch) const {
  if (scratch == nullptr) return Score(window, L);
  return MultiEnsembleOutput(window, L, *static_cast<Scratch*>(scratch));
}

int RouletteSelection(const std::vector<float>& cumulative, int m, CRandom& rng) {
  const float x = static_cast<float>(rng.UniformNumber() * cumulative[m - 1] + 0.0);
  if (x <= cumulative[0]) return 0;
  for (int i = 1; i < m; ++i) {
    if (x <= cumulative[i]) return i;
  }
  return m - 1;  // x rounded up to the total: the last entry
}

namespace {

const char* kEnsembleName[2] = {"EasyEnsemble", "BalanceCascade"};

std::unique_ptr<EnsembleRecognizer> NewEnsembleModel(const Settings& settings, int method, int L,
                                                     const EnsembleContext& context) {
  if (settings.Base_learner != kC45 && settings.Base_learner != kSVM) {
    OnErrorExit(kUnspecifiedError, "Bad base learner");
  }
  if (settings.Base_learner == kC45 && context.engine == nullptr) {
    OnErrorExit(kUnspecifiedError, "The decision-tree engine has no attribute tables");
  }
  auto R = std::make_unique<EnsembleRecognizer>(settings, method, settings.Base_learner,
                                                context.engine, L);
  return R;
}

// One boosted ensemble on all positives and the given subset of negatives:
// its base classifiers, their alphas, and each positive's vote (the sum of
// alpha times output, step by step) in votes.
void Boost(EnsembleRecognizer& R, Ensemble& E, const std::vector<const char*>& positives,
           const std::vector<const char*>& subset, int L, Settings& s, bool search,
           const EnsembleContext& context, int e, int T, std::vector<float>& votes) {
  const int P = static_cast<int>(positives.size());
  const int m = static_cast<int>(subset.size());
  const int total = P + m;
  const int steps = s.Easy_s_i;
  OutputFile& out = *context.out;
  E.n_classifiers = steps;
  E.alpha.assign(static_cast<size_t>(steps), 0.0f);
  if (R.base_learner == kC45) {
    E.trees.resize(static_cast<size_t>(steps));
  } else {
    E.lsvm.resize(static_cast<size_t>(steps));
  }
  std::vector<float> w(static_cast<size_t>(total), 1.0f);
  std::vector<char> ok(static_cast<size_t>(total));
  std::vector<float> h_pos(static_cast<size_t>(P)), cumulative(static_cast<size_t>(m));
  std::vector<const char*> current = subset;
  votes.assign(static_cast<size_t>(P), 0.0f);
  EnsembleRecognizer::Scratch scratch;
  for (int t = 0; t < steps; ++t) {
    int size = 0;
    if (R.base_learner == kSVM) {
      if (search)
        CrossValidatedParameters(positives, current, L, s, out, *context.svm_rng).ApplyTo(s);
      E.lsvm[t] = TrainSVMClassifier(positives, current, L, s, &out, nullptr, *context.svm_rng);
      size = SVMSize(*E.lsvm[t]);
    } else {
      E.trees[t] = TrainC45Classifier(*context.engine, positives, current, L, s, *context.rng,
                                      nullptr, nullptr);
      size = TreeSize(E.trees[t].get());
    }
    // Errors on the positives and on the subset itself (not the resampled
    // set); an output of exactly 0 is wrong in both classes.
    for (int i = 0; i < P; ++i) {
      h_pos[i] = R.BaseOutput(E, t, positives[i], L, scratch);
      ok[i] = h_pos[i] > 0;
    }
    for (int j = 0; j < m; ++j) ok[P + j] = R.BaseOutput(E, t, subset[j], L, scratch) < 0;
    float wrong = 0.0f;
    for (int i = 0; i < total; ++i) {
      if (!ok[i]) wrong += w[i];
    }
    const float eps = static_cast<float>(static_cast<double>(wrong) / total);
    if (s.Verbose > 1) {
      out.Printf(R.base_learner == kC45
                     ? "Classifier %d/%d of ensemble %d/%d error: %lf\t size: %d\n"
                     : "Classifier %d/%d of ensemble %d/%d error: %lf\t suport vectors: %d\n",
                 t + 1, steps, e, T, static_cast<double>(eps), size);
    }
    if (eps > 0.5f) {
      E.alpha[t] = 0.0f;
      std::fill(w.begin(), w.end(), 1.0f);
    } else if (eps != 0.0f) {
      const float ratio = eps / (1.0f - eps);
      E.alpha[t] = static_cast<float>(std::log(1.0 / ratio));
      for (int i = 0; i < total; ++i) {
        w[i] = ok[i] ? w[i] / (2.0f * (1.0f - eps)) : w[i] / (2.0f * eps);
      }
    } else {
      E.alpha[t] = 10.0f;
      std::fill(w.begin(), w.end(), 1.0f);
    }
    for (int i = 0; i < P; ++i) votes[i] += h_pos[i] * E.alpha[t];
    // The next negatives: the subset redrawn by its weights, with repeats.
    float sum = 0.0f;
    for (int j = 0; j < m; ++j) cumulative[j] = sum += w[P + j];
    for (int j = 0; j < m; ++j) current[j] = subset[RouletteSelection(cumulative, m, *context.rng)];
    float all = 0.0f;
    for (int i = 0; i < total; ++i) all += w[i];
    const double factor = static_cast<double>(total) / all;
    for (int i = 0; i < total; ++i) w[i] = static_cast<float>(w[i] * factor);
    if (s.Verbose > 2) {
      out.Printf("Positive instances boosting weights: ");
      for (int i = 0; i < P; ++i) out.Printf("%6.3lf ", static_cast<double>(w[i]));
      out.Printf("\nNegative instances boosting weights: ");
      for (int j = 0; j < m; ++j) out.Printf("%6.3lf ", static_cast<double>(w[P + j]));
      out.Printf("\n");
    }
  }
}

}  // namespace

namespace {

// Ensemble e of an EasyEnsemble: its subset of the negatives, its boosting
// steps and, with a desired sensitivity, its threshold.
void TrainEasyMember(EnsembleRecognizer& R, Ensemble& E, const std::vector<const char*>& positives,
                     const std::vector<const char*>& negatives, int L, Settings& s,
                     const EnsembleContext& context, int e, int T) {
  const int P = static_cast<int>(positives.size());
  const int N = static_cast<int>(negatives.size());
  const int m = std::min(P, N);
  std::vector<int> list;
  std::vector<const char*> subset(static_cast<size_t>(m));
  std::vector<float> votes;
  GetRandomisedVector(list, N, *context.rng);
  for (int j = 0; j < m; ++j) subset[j] = negatives[list[j]];
  Boost(R, E, positives, subset, L, s, s.CV_parameters, context, e + 1, T, votes);
  if (s.Sensitivity > 0 && P > 0) {
    // The votes less the threshold, still 0: the ensemble's own output.
    for (float& v : votes) v = v - E.threshold;
    std::sort(votes.begin(), votes.end());
    E.threshold = votes[SensitivityIndex(P, s.Sensitivity)];
  }
}

// The generator's draws of one EasyEnsemble member with C4.5 trees: the
// permutation of the N negatives, then at each step the trials' shuffles of
// the P + m training cases (none for one trial) and the m roulette draws.
// They do not depend on what the trees learn.
long long EasyMemberDraws(int P, int N, int steps, int trials) {
  const long long m = std::min(P, N);
  const long long shuffles = trials > 1 ? static_cast<long long>(trials) * (P + m) : 0;
  return N + steps * (shuffles + m);
}

// The members of an EasyEnsemble of C4.5 trees depend on each other only
// through the generator, whose draws each member takes in a known number:
// each member starts from the state the one-thread order leaves it, and they
// are trained side by side, each with a tree engine of its own. Their report
// lines are put in member order, and the generator is left where the one
// thread leaves it.
void TrainEasyMembersSideBySide(EnsembleRecognizer& R, const std::vector<const char*>& positives,
                                const std::vector<const char*>& negatives, int L, const Settings& s,
                                const EnsembleContext& context) {
  const int T = R.multiensemble.n_ensembles;
  const long long draws = EasyMemberDraws(static_cast<int>(positives.size()),
                                          static_cast<int>(negatives.size()), s.Easy_s_i, s.TRIALS);
  std::vector<CRandom> start(static_cast<size_t>(T) + 1);
  start[0] = *context.rng;
  for (int e = 0; e < T; ++e) {
    start[e + 1] = start[e];
    for (long long k = 0; k < draws; ++k) start[e + 1].Next();
  }
  const TreeEngine& shared = *context.engine;
  std::vector<std::unique_ptr<TreeEngine>> engines(
      static_cast<size_t>(std::max(1, std::min(s.threads, T))));
  std::vector<std::string> lines(static_cast<size_t>(T));
  ParallelFor(T, s.threads, [&](int e, int worker) {
    std::unique_ptr<TreeEngine>& engine = engines[worker];
    if (engine == nullptr) {
      engine = std::make_unique<TreeEngine>();
      ReadWindowNames(*engine, L);
      engine->SetWindowing(shared.Window(), shared.Increment());
    }
    CRandom rng = start[e];
    OutputFile out;
    out.OpenMemory();
    Settings own = s;
    const EnsembleContext member{engine.get(), &rng, context.svm_rng, &out};
    TrainEasyMember(R, R.multiensemble.ensemble[e], positives, negatives, L, own, member, e, T);
    lines[e] = out.TakeText();
    if (!(rng == start[e + 1])) {
      OnErrorExit(kUnspecifiedError, "EasyEnsemble: ensemble " + std::to_string(e + 1) +
                                         " drew another number of random numbers than counted");
    }
  });
  for (const std::string& text : lines) context.out->Write(text);
  *context.rng = start[T];
  for (const std::unique_ptr<TreeEngine>& engine : engines) {
    if (engine != nullptr && shared.Window() == 0 && engine->Window() != 0) {
      context.engine->SetWindowing(engine->Window(), engine->Increment());
    }
  }
}

}  // namespace

std::unique_ptr<EnsembleRecognizer> TrainEasyEnsemble(const std::vector<const char*>& positives,
                                                      const std::vector<const char*>& negatives,
                                                      int L, const Settings& settings,
                                                      const EnsembleContext& context) {
  auto R = NewEnsembleModel(settings, kEasyEnsemble, L, context);
  Settings s = settings;  // the searches change the SVM parameters as they go
  const int P = static_cast<int>(positives.size());
  const int N = static_cast<int>(negatives.size());
  const int T = s.Ensemble_T;
  // Each subset takes the first P places of a permutation of the negatives:
  // with fewer negatives than positives, all of them.
  if (P > N) {
    Warn(std::string(kEnsembleName[0]) + ": more positive (" + std::to_string(P) +
         ") than negative windows (" + std::to_string(N) + "): every subset holds all negatives");
  }
  R->multiensemble.n_ensembles = T;
  R->multiensemble.ensemble.resize(static_cast<size_t>(T));
  // Trees on the engine of the run's window length can be grown side by
  // side; SVMs search their parameters from the last member's, in order.
  if (s.Base_learner == kC45 && s.threads > 1 && T > 1 && context.engine->MaxAtt() == L - 1) {
    TrainEasyMembersSideBySide(*R, positives, negatives, L, s, context);
  } else {
    for (int e = 0; e < T; ++e) {
      TrainEasyMember(*R, R->multiensemble.ensemble[e], positives, negatives, L, s, context, e, T);
    }
  }
  auto trained =
      std::make_unique<EnsembleRecognizer>(s, kEasyEnsemble, s.Base_learner, context.engine, L);
  trained->multiensemble = std::move(R->multiensemble);
  return trained;
}

std::unique_ptr<EnsembleRecognizer> TrainBalanceCascadeEnsemble(
    const std::vector<const char*>& positives, const std::vector<const char*>& negatives, int L,
    const Settings& settings, const EnsembleContext& context) {
  auto R = NewEnsembleModel(settings, kBalanceCascadeEnsemble, L, context);
  Settings s = settings;
  const int P = static_cast<int>(positives.size());
  const int N = static_cast<int>(negatives.size());
  const int T = s.Ensemble_T;
  const float ratio = static_cast<float>(P) / static_cast<float>(N);
  const float f = static_cast<float>(std::pow(static_cast<double>(ratio), 1.0 / (T - 1)));
  context.out->Printf("Desired FP ratio: %lf\n", static_cast<double>(f));
  if (T == 1 || !(f <= 1.0f)) {
    Warn(std::string(kEnsembleName[1]) + ": a false-positive ratio of " + std::to_string(f) +
         " (Ensemble_T " + std::to_string(T) + ", " + std::to_string(P) + " positive and " +
         std::to_string(N) + " negative windows): each threshold is bounded to the pool's scores");
  }
  std::vector<int> pool(static_cast<size_t>(N));
  for (int i = 0; i < N; ++i) pool[i] = i;
  int n = N;
  R->multiensemble.n_ensembles = 0;
  R->multiensemble.ensemble.resize(static_cast<size_t>(T));
  std::vector<const char*> subset;
  std::vector<float> votes, scores;
  EnsembleRecognizer::Scratch scratch;
  for (int e = 0; e < T; ++e) {
    for (int i = 0; i < n; ++i) std::swap(pool[i], pool[context.rng->UniformIndex(n)]);
    const int m = std::min(P, n);
    subset.assign(static_cast<size_t>(m), nullptr);
    for (int j = 0; j < m; ++j) subset[j] = negatives[pool[j]];
    Ensemble& E = R->multiensemble.ensemble[e];
    Boost(*R, E, positives, subset, L, s, false, context, e + 1, T, votes);
    ++R->multiensemble.n_ensembles;
    // The threshold lets the share f of the pool through; the negatives it
    // rejects leave the pool.
    scores.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) scores[i] = R->EnsembleOutput(E, negatives[pool[i]], L, scratch);
    std::vector<float> sorted = scores;
    std::sort(sorted.begin(), sorted.end());
    if (n > 0) {
      E.threshold = sorted[ClampedIndex(n * (1.0 - static_cast<double>(f)), n)];
    } else {
      Warn(std::string(kEnsembleName[1]) + ": the pool of negatives is empty from ensemble " +
           std::to_string(e + 1) + " on");
    }
    int kept = 0;
    for (int i = 0; i < n; ++i) {
      if (scores[i] - E.threshold > 0) pool[kept++] = pool[i];
    }
    n = kept;
  }
  auto trained = std::make_unique<EnsembleRecognizer>(s, kBalanceCascadeEnsemble, s.Base_learner,
                                                      context.engine, L);
  trained->multiensemble = std::move(R->multiensemble);
  return trained;
}

void WriteEnsembleListing(const EnsembleRecognizer& R, OutputFile& out) {
  const MultiEnsemble& M = R.multiensemble;
  out.Printf(R.method() == kEasyEnsemble ? "Easy multiensemble of %d ensembles\n"
                                         : "Cascade cascade of %d ensembles\n",
             M.n_ensembles);
  for (int e = 0; e < M.n_ensembles; ++e) {
    const Ensemble& E = M.ensemble[e];
    out.Printf("Ensemble %d/%d.\tThreshold: %5.2lf\n", e + 1, M.n_ensembles,
               static_cast<double>(E.threshold));
    for (int c = 0; c < E.n_classifiers; ++c) {
      const int size = R.base_learner == kC45 ? TreeSize(E.trees[c].get()) : SVMSize(*E.lsvm[c]);
      out.Printf("Classifier %3d/%3d. Nodes: %3d\tAlpha = %5.2lf\n", c + 1, E.n_classifiers, size,
                 static_cast<double>(E.alpha[c]));
    }
  }
}

void SetMultiEnsembleThreshold(EnsembleRecognizer& R, const std::vector<const char*>& positives,
                               int L, OutputFile& out) {
  const int P = static_cast<int>(positives.size());
  std::vector<float> scores(static_cast<size_t>(P));
  R.set_threshold(TrainingThreshold(P, R.settings().Sensitivity, WithoutSensitivity::kIndex, 1, 1,
                                    [&](int begin, int end, float* to) {
                                      Scorer score(R);
                                      for (int i = begin; i < end; ++i) {
                                        to[i] = score(positives[i], L);
                                        scores[i] = to[i];
                                      }
                                    }));
  if (R.settings().Verbose > 2) {
    std::sort(scores.begin(), scores.end());
    out.Printf("Training positive instances ensemble outputs\n");
    for (float v : scores) out.Printf("%6.3lf ", static_cast<double>(v));
    out.Printf("\n");
  }
  out.Printf("Ensemble threshold: %lf\n", static_cast<double>(R.threshold()));
}

void EnsembleRecognizer::WritePayload(ModelWriter& w) const {
  w.Line("ensembles", {ModelWriter::Of(multiensemble.n_ensembles), MethodName(base_learner)});
  for (const Ensemble& e : multiensemble.ensemble) {
    w.Line("ensemble", {ModelWriter::Of(e.n_classifiers), ModelWriter::Of(e.threshold)});
    w.Floats("alpha", e.alpha.data(), static_cast<size_t>(e.n_classifiers));
    for (int t = 0; t < e.n_classifiers; ++t) {
      if (base_learner == kC45) {
        WriteTree(e.trees[t].get(), w);
      } else {
        WriteSvmPayload(e.lsvm[t].get(), w);
      }
    }
  }
}

std::unique_ptr<Recognizer> ReadEnsemblePayload(ModelReader& r, const Settings& settings, int L) {
  const std::vector<std::string_view> f = r.Expect("ensembles", 2, "a count and C45 or SVM");
  const int base = MethodOfName(std::string(f[1]));
  if (base != kC45 && base != kSVM) r.Fail("\"ensembles\" takes a count and C45 or SVM");
  const long long n = r.Whole(f[0], 1, 1 << 30);
  r.RefuseCount(n, 12, "ensembles");
  TreeEngine engine;
  if (base == kC45) ReadWindowNames(engine, L);
  auto R = std::make_unique<EnsembleRecognizer>(settings, settings.R_method, base, &engine, L);
  R->multiensemble.n_ensembles = static_cast<int>(n);
  R->multiensemble.ensemble.resize(static_cast<size_t>(n));
  for (Ensemble& e : R->multiensemble.ensemble) {
    const std::vector<std::string_view> g = r.Expect("ensemble", 2, "a count and a threshold");
    const long long T = r.Whole(g[0], 0, 1 << 30);
    r.RefuseCount(T, 8, "base classifiers");
    e.n_classifiers = static_cast<int>(T);
    e.threshold = r.Single(g[1]);
    e.alpha = r.Floats("alpha", static_cast<size_t>(T));
    for (long long t = 0; t < T; ++t) {
      if (base == kC45) {
        e.trees.push_back(ReadTree(r, engine, L));
      } else {
        std::unique_ptr<svm_model> svm = ReadSvmModel(r, L);
        if (svm == nullptr) r.Fail("a base classifier has no machine");
        e.lsvm.push_back(std::move(svm));
      }
    }
  }
  return R;
}

}  // namespace varnik
