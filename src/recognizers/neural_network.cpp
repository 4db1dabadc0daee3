#include "recognizers/neural_network.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/error.h"
#include "core/numeric.h"
#include "core/vector_ops.h"
#include "sequence/encoding.h"

namespace varnik {

float HyperbolicTangent(float s, float A, float B) { return ScaledTanh(s, A, B); }

namespace {

// The one-hot input of a window is 1 at its hot indices and 0 elsewhere.
// Products with a 0 input add (signed) zeros to sums that started at +0, which
// changes no sum, so the passes below visit the hot inputs only; a sum over
// the hot inputs in ascending order is the full sum, bit for bit.
//
// Weights are stored input-major (row k holds the H weights leaving input k),
// so that one hot input adds a contiguous row to the H hidden sums.

// Hidden sums and outputs for one row; returns the network output.
float Forward(const float* ih, const float* ho, int H, int d, float A, float B, const int32_t* hot,
              int n_hot, float* sums, float* hidden) {
  std::fill(sums, sums + H, 0.0f);
  AddRowsInto(sums, ih, hot, n_hot, H);
  AddInto(sums, ih + static_cast<size_t>(d) * H, H);  // bias
  ScaledTanhs(sums, hidden, H, A, B);
  float s = 0.0f;
  for (int j = 0; j < H; ++j) s += hidden[j] * ho[j];
  s += ho[H];
  return HyperbolicTangent(s, A, B);
}

// eta times each hidden unit's delta, delta_o ho[j] (b/a (A - h[j]) (A +
// h[j]) + flat), four units at a time with the same operations in the same
// order for each.
void HiddenDeltas(const float* h, const float* ho, int H, float delta_o, float b_over_a, float A,
                  float flat, float eta, float* eta_delta) {
  int j = 0;
#ifdef __SSE2__
  const __m128 d = _mm_set1_ps(delta_o), ba = _mm_set1_ps(b_over_a), a = _mm_set1_ps(A),
               f = _mm_set1_ps(flat), e = _mm_set1_ps(eta);
  for (; j + 4 <= H; j += 4) {
    const __m128 hj = _mm_loadu_ps(h + j);
    const __m128 slope =
        _mm_add_ps(_mm_mul_ps(_mm_mul_ps(ba, _mm_sub_ps(a, hj)), _mm_add_ps(a, hj)), f);
    const __m128 delta = _mm_mul_ps(_mm_mul_ps(d, _mm_loadu_ps(ho + j)), slope);
    _mm_storeu_ps(eta_delta + j, _mm_mul_ps(e, delta));
  }
#endif
  for (; j < H; ++j) {
    const float delta = delta_o * ho[j] * (b_over_a * (A - h[j]) * (A + h[j]) + flat);
    eta_delta[j] = eta * delta;
  }
}

}  // namespace

std::unique_ptr<NeuralNetRecognizer> TrainNeuralNetwork(const SequenceSet& positives,
                                                        const SequenceSet& negatives, int L, int H,
                                                        const Settings& settings, CRandom& rng) {
  const int n_pos = positives.size();
  const int n = n_pos + negatives.size();
  if (n_pos < 1) OnErrorExit(kUnspecifiedError, "TrainNeuralNetwork: no positive windows");
  if (H < 0) OnErrorExit(kUnspecifiedError, "TrainNeuralNetwork: negative number of hidden units");
  const int d = 4 * L;

  // Training rows as hot-index lists, positives first; desired +1 / -1.
  std::vector<int32_t> hot(static_cast<size_t>(n) * std::max(L, 0));
  std::vector<int> n_hot(static_cast<size_t>(n));
  std::vector<float> desired(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const char* w = i < n_pos ? positives[i] : negatives[i - n_pos];
    n_hot[i] = OneHotIndices(w, L, hot.data() + static_cast<size_t>(i) * L);
    desired[i] = i < n_pos ? 1.0f : -1.0f;
  }

  auto model = std::make_unique<NeuralNetRecognizer>(settings);
  NeuralNetRecognizer& R = *model;
  R.nn_hidden = H;
  R.nn_inputs = d;
  R.nn_A = settings.Htan_A;
  R.nn_B = settings.Htan_B;
  const float A = R.nn_A, B = R.nn_B;
  const size_t n_ih = static_cast<size_t>(d + 1) * H;
  R.nn_ih.assign(n_ih, 0.0f);
  R.nn_ho.assign(static_cast<size_t>(H) + 1, 0.0f);
  auto initial = [&rng] { return static_cast<float>((rng.Next() - 1) / 2147483647.0 * 0.2 - 0.1); };
  for (int j = 0; j < H; ++j) {
    for (int k = 0; k <= d; ++k) R.nn_ih[static_cast<size_t>(k) * H + j] = initial();
  }
  for (int j = 0; j <= H; ++j) R.nn_ho[j] = initial();

  std::vector<float> momentum_ih(n_ih, 0.0f), change_ih(n_ih, 0.0f);
  std::vector<float> momentum_ho(static_cast<size_t>(H) + 1, 0.0f);
  std::vector<float> change_ho(static_cast<size_t>(H) + 1, 0.0f);
  std::vector<float> sums(static_cast<size_t>(H)), h(static_cast<size_t>(H));
  std::vector<float> eta_delta(static_cast<size_t>(H));
  float* ih = R.nn_ih.data();
  float* ho = R.nn_ho.data();
  const float eta = settings.Eta, alpha = settings.Alpha, flat = settings.Flat_spot;
  const float b_over_a = B / A;

  // With Eta 0 every step adds signed zeros, and no weight can change while
  // everything stays finite: the rows are still drawn, so that the generator
  // moves on exactly as with the passes, but the passes are skipped.
  const bool frozen = eta == 0 && A != 0 && std::isfinite(A) && std::isfinite(b_over_a) &&
                      std::isfinite(alpha) && std::isfinite(flat);
  const int epochs = frozen ? 0 : settings.N_epochs;
  if (frozen) {
    for (int epoch = 0; epoch < settings.N_epochs; ++epoch) {
      for (int step = 0; step < settings.Epoch_size; ++step) rng.UniformIndex(n);
    }
  }
  for (int epoch = 0; epoch < epochs; ++epoch) {
    for (int step = 0; step < settings.Epoch_size; ++step) {
      const int i = rng.UniformIndex(n);
      const int32_t* row = hot.data() + static_cast<size_t>(i) * L;
      const float o = Forward(ih, ho, H, d, A, B, row, n_hot[i], sums.data(), h.data());
      const float delta_o = (b_over_a * (A - o) * (A + o) + flat) * (desired[i] - o);
      HiddenDeltas(h.data(), ho, H, delta_o, b_over_a, A, flat, eta, eta_delta.data());
      AddIntoRows(change_ih.data(), row, n_hot[i], H, eta_delta.data());
      AddInto(change_ih.data() + static_cast<size_t>(d) * H, eta_delta.data(), H);  // bias
      const float eta_o = eta * delta_o;
      AddScaledInto(change_ho.data(), eta_o, h.data(), H);
      change_ho[H] += eta_o;
    }
    MomentumUpdate(ih, momentum_ih.data(), change_ih.data(), alpha, static_cast<int>(n_ih));
    MomentumUpdate(ho, momentum_ho.data(), change_ho.data(), alpha, H + 1);
  }

  R.set_threshold(TrainingThreshold(n_pos, settings.Sensitivity, WithoutSensitivity::kFifth, 1, 1,
                                    [&](int begin, int end, float* out) {
                                      Scorer score(R);
                                      for (int i = begin; i < end; ++i) {
                                        out[i] = score(positives[i], L);
                                      }
                                    }));
  return model;
}

namespace {

struct NetworkScratch : ScoreScratch {
  std::vector<int32_t> hot;
  std::vector<float> sums, hidden;
};

float NetworkOutput(const NeuralNetRecognizer& R, const char* sequence, int L,
                    NetworkScratch& scratch) {
  const int H = R.nn_hidden;
  const int d = R.nn_inputs;
  scratch.hot.resize(static_cast<size_t>(std::max(L, 0)));
  scratch.sums.resize(static_cast<size_t>(H));
  scratch.hidden.resize(static_cast<size_t>(H));
  // Inputs beyond the trained width have no weights: they are left out.
  const int n_hot = OneHotIndices(sequence, std::min(L, d / 4), scratch.hot.data());
  return Forward(R.nn_ih.data(), R.nn_ho.data(), H, d, R.nn_A, R.nn_B, scratch.hot.data(), n_hot,
                 scratch.sums.data(), scratch.hidden.data());
}

}  // namespace

std::unique_ptr<ScoreScratch> NeuralNetRecognizer::NewScratch() const {
  return std::make_unique<NetworkScratch>();
}

float NeuralNetRecognizer::Score(const char* window, int L, int, ScoreScratch* scratch) const {
  if (scratch == nullptr) return NeuralNetworkOutput(*this, window, L);
  return NetworkOutput(*this, window, L, *static_cast<NetworkScratch*>(scratch));
}

float NeuralNetworkOutput(const NeuralNetRecognizer& R, const char* sequence, int L) {
  NetworkScratch scratch;
  return NetworkOutput(R, sequence, L, scratch);
}

void NeuralNetRecognizer::WritePayload(ModelWriter& w) const {
  w.Line("network", {ModelWriter::Of(nn_inputs), ModelWriter::Of(nn_hidden), ModelWriter::Of(nn_A),
                     ModelWriter::Of(nn_B)});
  w.Floats("input_weights", nn_ih.data(), nn_ih.size());
  w.Floats("output_weights", nn_ho.data(), nn_ho.size());
}

std::unique_ptr<Recognizer> ReadNetworkPayload(ModelReader& r, const Settings& settings, int L) {
  const std::vector<std::string_view> f =
      r.Expect("network", 4, "the inputs, the hidden units, A and B");
  auto R = std::make_unique<NeuralNetRecognizer>(settings);
  R->nn_inputs = static_cast<int>(r.Whole(f[0], 0, 1 << 28));
  R->nn_hidden = static_cast<int>(r.Whole(f[1], 1, 1 << 28));
  R->nn_A = r.Single(f[2]);
  R->nn_B = r.Single(f[3]);
  if (R->nn_inputs != 4 * L) {
    r.Fail("the network has " + std::to_string(R->nn_inputs) + " inputs, a window of " +
           std::to_string(L) + " letters gives " + std::to_string(4LL * L));
  }
  const long long weights = (static_cast<long long>(R->nn_inputs) + 1) * R->nn_hidden;
  r.RefuseCount(weights, 2, "input weights");
  R->nn_ih = r.Floats("input_weights", static_cast<size_t>(weights));
  R->nn_ho = r.Floats("output_weights", static_cast<size_t>(R->nn_hidden) + 1);
  return R;
}

}  // namespace varnik
