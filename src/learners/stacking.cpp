#include "learners/stacking.h"

#include <algorithm>

#include "core/error.h"
#include "core/labels.h"
#include "core/numeric.h"
#include "core/parallel.h"
#include "learners/methods.h"
#include "learners/parameter_search.h"
#include "recognizers/c45.h"
#include "recognizers/knn.h"
#include "recognizers/knn_rows.h"
#include "recognizers/neural_network.h"
#include "recognizers/pwm.h"
#include "recognizers/stop_codon.h"
#include "recognizers/svm_recognizer.h"
#include "sequence/encoding.h"

namespace varnik {

void StackedRecognizer::Inputs(const char* window, int L, int offset, Scratch& scratch) const {
  scratch.inputs.resize(components.size());
  for (size_t i = 0; i < components.size(); ++i) {
    const float x = components[i].recognizer->Score(window, L, offset, scratch.components[i].get());
    scratch.inputs[i] = x * scale_a[i] + scale_b[i];
  }
}

std::unique_ptr<ScoreScratch> StackedRecognizer::NewScratch() const {
  auto scratch = std::make_unique<Scratch>();
  for (const StackingComponent& c : components) {
    scratch->components.push_back(c.recognizer->NewScratch());
  }
  if (stacker != nullptr) scratch->stacker = stacker->NewScratch();
  return scratch;
}

float StackedRecognizer::Score(const char* window, int L, int offset, ScoreScratch* scratch) const {
  if (scratch == nullptr) return Recognizer::Score(window, L, offset);
  Scratch& s = *static_cast<Scratch*>(scratch);
  Inputs(window, L, offset, s);
  return stacker->Score(s.inputs.data(), s.stacker.get());
}

std::unique_ptr<StackedRecognizer> TrainStackerAndItsClassifiers(const SequenceSet& positives,
                                                                 const SequenceSet& negatives,
                                                                 int L, const Settings& settings,
                                                                 const EnsembleContext& context) {
  Settings s = settings;  // components change the SVM settings and K as they go
  std::vector<StackingComponent> components;
  for (const Method& m : Methods()) {
    if (m.stacking_bit == 0 || !(s.Stacking_methods & m.stacking_bit)) continue;
    components.push_back({m.stacking_bit, m.train_component(positives, negatives, L, s, context)});
  }
  const int P = positives.size(), N = negatives.size();
  if (P != N) OnErrorExit(kUnspecifiedError, "Stacking must be used with undersampling");

  // In input vector order.
  std::stable_sort(components.begin(), components.end(),
                   [](const StackingComponent& a, const StackingComponent& b) {
                     return MethodOfBit(a.bit)->stacked_position <
                            MethodOfBit(b.bit)->stacked_position;
                   });
  const int d = static_cast<int>(components.size());
  // Rows interleaved: positive j, then negative j.
  ScalarData rows;
  rows.ndata = 2 * P;
  rows.dim = d;
  rows.values.assign(static_cast<size_t>(rows.ndata) * d, 0.0f);
  rows.labels.assign(static_cast<size_t>(rows.ndata), 0);
  std::vector<int> labels(static_cast<size_t>(rows.ndata));
  ParallelPieces(P, s.threads, 8, [&](int begin, int end) {
    std::vector<std::unique_ptr<ScoreScratch>> scratch;
    for (const StackingComponent& c : components) scratch.push_back(c.recognizer->NewScratch());
    for (int j = begin; j < end; ++j) {
      for (int cls = 0; cls < 2; ++cls) {
        const int i = 2 * j + cls;
        const char* w = cls == 0 ? positives[j] : negatives[j];
        for (int c = 0; c < d; ++c) {
          rows.row(i)[c] = components[c].recognizer->Score(w, L, 0, scratch[c].get());
        }
        labels[i] = cls == 0 ? kRealPositive : kRealNegative;
        rows.labels[i] = labels[i];
      }
    }
  });
  const ScaleCoefficients k = ScaleData(rows, -1.0f, 1.0f, s.Scale);
  std::vector<const float*> row_pointers(static_cast<size_t>(rows.ndata));
  for (int i = 0; i < rows.ndata; ++i) row_pointers[i] = rows.row(i);
  std::unique_ptr<RowRecognizer> stacker;
  if (s.Stacker == kSVM) {
    if (s.CV_parameters) {
      CrossValidatedSVMRealParameters(row_pointers, d, labels, s, *context.out, *context.svm_rng)
          .ApplyTo(s);
    }
    const std::vector<int> mask(static_cast<size_t>(d), 1);
    stacker = std::make_unique<SvmRowRecognizer>(
        s, d,
        TrainSVMClassifierRealInputs(row_pointers, mask.data(), labels.data(), d, s,
                                     *context.svm_rng));
  } else if (s.Stacker == kKNN) {
    // Without the search the stacker takes K.
    const int stacker_k =
        s.CV_parameters ? CrossValidatedkNNRealParameters(row_pointers, d, labels, s, *context.out)
                        : s.K;
    stacker = std::make_unique<KnnRowRecognizer>(s, d, stacker_k, rows, labels);
  } else {
    OnErrorExit(kUnspecifiedError, "Bad stacker");
  }
  auto R = std::make_unique<StackedRecognizer>(s);
  R->components = std::move(components);
  R->scale_a = k.a;
  R->scale_b = k.b;
  R->stacker = std::move(stacker);
  if (s.Sensitivity > 0) {
    R->set_threshold(TrainingThreshold(P, s.Sensitivity, WithoutSensitivity::kZero, s.threads, 8,
                                       [&](int begin, int end, float* out) {
                                         Scorer score(*R);
                                         for (int j = begin; j < end; ++j) {
                                           out[j] = score(positives[j], L, 0);
                                         }
                                       }));
  }
  return R;
}

void SaveStackingOutputs(const std::string& path, const StackedRecognizer& R,
                         const std::vector<const SequenceSet*>& positives,
                         const std::vector<const SequenceSet*>& negatives, int L, int offset) {
  OutputFile f;
  if (!f.Open(path)) {
    Diagnose("cannot create outputs file " + path + ": " + SystemReason());
    OnErrorExit(kUnspecifiedError, "Cannot open file for saving outputs");
  }
  const std::unique_ptr<ScoreScratch> scratch = R.NewScratch();
  auto& s = *static_cast<StackedRecognizer::Scratch*>(scratch.get());
  for (int cls = 0; cls < 2; ++cls) {
    for (const SequenceSet* set : cls == 0 ? positives : negatives) {
      for (int i = 0; i < set->size(); ++i) {
        const float stacked = R.Score((*set)[i], L, offset, scratch.get());
        for (float x : s.inputs) f.Printf("%7.4lf ", static_cast<double>(x));
        f.Printf("%7.4lf %s\n", static_cast<double>(stacked), cls == 0 ? "+1" : "-1");
      }
    }
  }
  f.Close();
}

void StackedRecognizer::WritePayload(ModelWriter& w) const {
  w.Line("stacked",
         {ModelWriter::Of(static_cast<int>(components.size())), MethodName(stacker->method())});
  for (const StackingComponent& c : components) {
    w.Line("component", {ModelWriter::Of(c.bit), ModelWriter::Of(c.recognizer->threshold())});
    c.recognizer->WritePayload(w);
  }
  w.Floats("scale_a", scale_a.data(), scale_a.size());
  w.Floats("scale_b", scale_b.data(), scale_b.size());
  stacker->WritePayload(w);
}

std::unique_ptr<Recognizer> ReadStackedPayload(ModelReader& r, const Settings& settings, int L) {
  const std::vector<std::string_view> f = r.Expect("stacked", 2, "a count and SVM or kNN");
  const int stacker = MethodOfName(std::string(f[1]));
  if (stacker != kSVM && stacker != kKNN) r.Fail("\"stacked\" takes a count and SVM or kNN");
  const long long n = r.Whole(f[0], 1, 64);
  auto R = std::make_unique<StackedRecognizer>(settings);
  for (long long i = 0; i < n; ++i) {
    const std::vector<std::string_view> g =
        r.Expect("component", 2, "a stacking bit and a threshold");
    const int bit = static_cast<int>(r.Whole(g[0], 1, 1 << 30));
    const Method* m = MethodOfBit(bit);
    if (m == nullptr || m->read == nullptr) {
      r.Fail("no stacking component has the bit " + std::to_string(bit));
    }
    Settings s = settings;
    s.R_method = m->code >= 0 ? m->code : kSVM;
    std::unique_ptr<Recognizer> c = m->read(r, s, L);
    c->set_threshold(r.Single(g[1]));
    c->set_length(L);
    R->components.push_back({bit, std::move(c)});
  }
  R->scale_a = r.Floats("scale_a", static_cast<size_t>(n));
  R->scale_b = r.Floats("scale_b", static_cast<size_t>(n));
  const int d = static_cast<int>(n);
  if (stacker == kSVM) {
    R->stacker = std::make_unique<SvmRowRecognizer>(settings, d, ReadSvmModel(r, 0));
  } else {
    R->stacker = ReadKnnRowsPayload(r, settings);
    if (R->stacker->dim() != d) {
      r.Fail("the stacker reads rows of " + std::to_string(R->stacker->dim()) + " numbers, not " +
             std::to_string(d));
    }
  }
  return R;
}

}  // namespace varnik
