// The neural network computed the plain way (dense one-hot rows, weights row
// by row, every product formed), to check the fast version against, in tests
// and benchmarks.
#pragma once

#include <cmath>
#include <vector>

#include "core/random.h"
#include "core/sequence_set.h"
#include "core/settings.h"
#include "sequence/encoding.h"

namespace varnik::testing {

struct ReferenceNet {
  int H = 0, d = 0;
  float A = 0, B = 0;
  std::vector<std::vector<float>> ih;
  std::vector<float> ho;

  float f(float s) const {
    if (s < -45) return -A;
    if (s > 45) return A;
    return static_cast<float>(static_cast<double>(A) * std::tanh(static_cast<double>(B * s)));
  }
  float Output(const float* x, std::vector<float>& h) const {
    h.assign(static_cast<size_t>(H), 0.0f);
    for (int j = 0; j < H; ++j) {
      float s = 0.0f;
      for (int k = 0; k < d; ++k) s += ih[j][k] * x[k];
      s += ih[j][d];
      h[j] = f(s);
    }
    float s = 0.0f;
    for (int j = 0; j < H; ++j) s += h[j] * ho[j];
    s += ho[H];
    return f(s);
  }

  void Train(const SequenceSet& pos, const SequenceSet& neg, int L, int hidden, const Settings& st,
             CRandom& rng) {
    ScalarData data = ConvertToScalarData(pos, neg, L, 0);
    const int n = data.ndata;
    H = hidden;
    d = data.dim;
    A = st.Htan_A;
    B = st.Htan_B;
    auto draw = [&] { return static_cast<float>((rng.Next() - 1) / 2147483647.0 * 0.2 - 0.1); };
    ih.assign(static_cast<size_t>(H), std::vector<float>(static_cast<size_t>(d) + 1));
    for (int j = 0; j < H; ++j) {
      for (int k = 0; k <= d; ++k) ih[j][k] = draw();
    }
    ho.resize(static_cast<size_t>(H) + 1);
    for (int j = 0; j <= H; ++j) ho[j] = draw();
    auto mi = ih, ci = ih;
    for (auto& r : mi) std::fill(r.begin(), r.end(), 0.0f);
    for (auto& r : ci) std::fill(r.begin(), r.end(), 0.0f);
    std::vector<float> mo(ho.size(), 0.0f), co(ho.size(), 0.0f), h, delta(static_cast<size_t>(H));
    for (int e = 0; e < st.N_epochs; ++e) {
      for (int s = 0; s < st.Epoch_size; ++s) {
        const int i = static_cast<int>((rng.Next() - 1.0) / 2147483647.0 * n);
        const float* x = data.row(i);
        const float desired = data.labels[i] == 0 ? 1.0f : -1.0f;
        const float o = Output(x, h);
        const float dout = ((B / A) * (A - o) * (A + o) + st.Flat_spot) * (desired - o);
        for (int j = 0; j < H; ++j) {
          delta[j] = dout * ho[j] * ((B / A) * (A - h[j]) * (A + h[j]) + st.Flat_spot);
        }
        for (int j = 0; j < H; ++j) {
          for (int k = 0; k < d; ++k) ci[j][k] += st.Eta * delta[j] * x[k];
          ci[j][d] += st.Eta * delta[j];
        }
        for (int j = 0; j < H; ++j) co[j] += st.Eta * dout * h[j];
        co[H] += st.Eta * dout;
      }
      for (int j = 0; j < H; ++j) {
        for (int k = 0; k <= d; ++k) {
          mi[j][k] = mi[j][k] * st.Alpha + ci[j][k];
          ci[j][k] = 0.0f;
          ih[j][k] = ih[j][k] + mi[j][k];
        }
      }
      for (int j = 0; j <= H; ++j) {
        mo[j] = mo[j] * st.Alpha + co[j];
        co[j] = 0.0f;
        ho[j] = ho[j] + mo[j];
      }
    }
  }
};

}  // namespace varnik::testing
