// Prediction: decision values, labels and probability estimates of a trained
// model.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "svm/internal/kernel.h"
#include "svm/internal/training.h"
#include "svm/svm.h"

namespace varnik {

namespace {

double sigmoid_predict(double decision_value, double A, double B) {
  const double fApB = decision_value * A + B;
  if (fApB >= 0) return std::exp(-fApB) / (1.0 + std::exp(-fApB));
  return 1.0 / (1 + std::exp(fApB));
}

// Pairwise coupling of k classes.
void multiclass_probability(int k, const std::vector<std::vector<double>>& r, double* p) {
  std::vector<std::vector<double>> Q(static_cast<size_t>(k),
                                     std::vector<double>(static_cast<size_t>(k)));
  std::vector<double> Qp(static_cast<size_t>(k));
  const int max_iter = std::max(100, k);
  const double eps = 0.005 / k;
  for (int t = 0; t < k; ++t) {
    p[t] = 1.0 / k;
    Q[t][t] = 0;
    for (int j = 0; j < t; ++j) {
      Q[t][t] += r[j][t] * r[j][t];
      Q[t][j] = Q[j][t];
    }
    for (int j = t + 1; j < k; ++j) {
      Q[t][t] += r[j][t] * r[j][t];
      Q[t][j] = -r[j][t] * r[t][j];
    }
  }
  for (int iter = 0; iter < max_iter; ++iter) {
    double pQp = 0;
    for (int t = 0; t < k; ++t) {
      Qp[t] = 0;
      for (int j = 0; j < k; ++j) Qp[t] += Q[t][j] * p[j];
      pQp += p[t] * Qp[t];
    }
    double max_error = 0;
    for (int t = 0; t < k; ++t) max_error = std::max(max_error, std::fabs(Qp[t] - pQp));
    if (max_error < eps) break;
    for (int t = 0; t < k; ++t) {
      const double diff = (-Qp[t] + pQp) / Q[t][t];
      p[t] += diff;
      pQp = (pQp + diff * (diff * Q[t][t] + 2 * Qp[t])) / (1 + diff) / (1 + diff);
      for (int j = 0; j < k; ++j) {
        Qp[j] = (Qp[j] + diff * Q[t][j]) / (1 + diff);
        p[j] /= (1 + diff);
      }
    }
  }
}

}  // namespace

void svm_prepare_prediction(svm_model& model) {
  model.sv_codes.clear();
  model.sv_ones.clear();
  model.rbf_table.clear();
  model.sv_letters.clear();
  model.sv_self.clear();
  const int k = model.param.kernel_type;
  if ((k == wd || k == wds) && model.l > 0) {
    std::vector<std::string> letters(static_cast<size_t>(model.l));
    for (int i = 0; i < model.l; ++i) {
      if (!NodesAsLetters(model.SV[i], letters[i])) return;
    }
    if (k == wds) {
      for (const std::string& w : letters) {
        const auto* u = reinterpret_cast<const unsigned char*>(w.data());
        const int n = static_cast<int>(w.size());
        model.sv_self.push_back(WdsSum(u, u, n, model.param.degree, model.param.gamma,
                                       WdWeights(model.param.degree, n)));
      }
    }
    model.sv_letters = std::move(letters);
    return;
  }
  if (!(k == linear || k == polynomial || k == rbf || k == sigmoid) || model.l == 0) return;
  std::vector<std::string> codes(static_cast<size_t>(model.l));
  std::vector<int> ones(static_cast<size_t>(model.l));
  size_t longest = 0;
  for (int i = 0; i < model.l; ++i) {
    if (!EncodeOneHot(model.SV[i], codes[i])) return;
    int n = 0;
    while (model.SV[i][n].index != -1) ++n;
    ones[i] = n;
    longest = std::max(longest, codes[i].size());
  }
  // The codes of every support vector padded to the longest: kept only while
  // that stays within 256 MiB (otherwise prediction takes the general way).
  if (longest * codes.size() > (size_t{1} << 28)) return;
  for (std::string& c : codes) PadCodes(c, longest);
  if (k == rbf) {
    // Windows of up to the longest support vector's length (more fall back).
    const int most = 2 * static_cast<int>(longest);
    for (int m = 0; m <= most; ++m) model.rbf_table.push_back(std::exp(-model.param.gamma * m));
  }
  model.sv_codes = std::move(codes);
  model.sv_ones = std::move(ones);
}

namespace {

// Kernel values of x against every support vector, into scratch.kvalue.
void KernelValues(const svm_model& model, const svm_node* x, svm_scratch& scratch) {
  const int l = model.l;
  std::vector<double>& kvalue = scratch.kvalue;
  kvalue.resize(static_cast<size_t>(l));
  std::string& codes = scratch.codes;
  if (!model.sv_letters.empty() && NodesAsLetters(x, codes)) {
    // String kernels: the window's letters and its self-similarity once.
    const svm_parameter& p = model.param;
    const int n = static_cast<int>(codes.size());
    const auto* a = reinterpret_cast<const unsigned char*>(codes.data());
    std::unique_ptr<WdWeights>& weights = scratch.weights;
    if (weights == nullptr || weights->d() != p.degree || weights->n() != n) {
      weights = std::make_unique<WdWeights>(p.degree, n);
    }
    const double self_x = p.kernel_type == wds ? WdsSum(a, a, n, p.degree, p.gamma, *weights) : 0;
    if (p.kernel_type == wd) {
      // Every support vector at least as long as the window: all in one row.
      std::vector<const unsigned char*>& rows = scratch.rows;
      rows.clear();
      for (int i = 0; i < l && static_cast<int>(model.sv_letters[i].size()) >= n; ++i) {
        rows.push_back(reinterpret_cast<const unsigned char*>(model.sv_letters[i].data()));
      }
      if (static_cast<int>(rows.size()) == l) {
        WdKernelRow(a, rows.data(), l, n, *weights, kvalue.data());
        return;
      }
    }
    for (int i = 0; i < l; ++i) {
      const std::string& sv = model.sv_letters[i];
      if (static_cast<int>(sv.size()) < n) {  // shorter support vector: the general way
        kvalue[i] = k_function(x, model.SV[i], p);
        continue;
      }
      const auto* b = reinterpret_cast<const unsigned char*>(sv.data());
      kvalue[i] = p.kernel_type == wd ? WdKernelLetters(a, b, n, *weights)
                                      : WdsKernelLetters(a, b, n, p.degree, p.gamma, *weights,
                                                         self_x, model.sv_self[i]);
    }
    return;
  }
  if (!model.sv_codes.empty() && EncodeOneHot(x, codes)) {
    // One-hot windows: the same whole numbers the sparse sums give.
    const size_t n = model.sv_codes[0].size();
    codes.resize(n, '\0');
    int x_ones = 0;
    while (x[x_ones].index != -1) ++x_ones;
    const svm_parameter& p = model.param;
    const auto* a = reinterpret_cast<const unsigned char*>(codes.data());
    for (int i = 0; i < l; ++i) {
      const double d = CountCommonCodes(
          a, reinterpret_cast<const unsigned char*>(model.sv_codes[i].data()), static_cast<int>(n));
      switch (p.kernel_type) {
        case linear:
          kvalue[i] = d;
          break;
        case polynomial:
          kvalue[i] = Kernel::k_from_dot(d, p);
          break;
        case rbf: {
          const double squared = x_ones + model.sv_ones[i] - 2 * d;
          kvalue[i] = squared < static_cast<double>(model.rbf_table.size())
                          ? model.rbf_table[static_cast<size_t>(squared)]
                          : std::exp(-p.gamma * squared);
          break;
        }
        default:
          kvalue[i] = std::tanh(p.gamma * d + p.coef0);
          break;
      }
    }
    return;
  }
  for (int i = 0; i < l; ++i) kvalue[i] = k_function(x, model.SV[i], model.param);
}

}  // namespace

svm_scratch::svm_scratch() = default;
svm_scratch::~svm_scratch() = default;
svm_scratch::svm_scratch(svm_scratch&&) noexcept = default;
svm_scratch& svm_scratch::operator=(svm_scratch&&) noexcept = default;

double svm_predict_values(const svm_model& model, const svm_node* x, double* dec_values) {
  svm_scratch scratch;
  return svm_predict_values(model, x, dec_values, scratch);
}

double svm_predict_values(const svm_model& model, const svm_node* x, double* dec_values,
                          svm_scratch& scratch) {
  const int svm_type = model.param.svm_type;
  const std::vector<double>& kvalue = scratch.kvalue;
  if (svm_type == one_class || svm_type == epsilon_svr || svm_type == nu_svr) {
    const std::vector<double>& sv_coef = model.sv_coef[0];
    KernelValues(model, x, scratch);
    double sum = 0;
    for (int i = 0; i < model.l; ++i) sum += sv_coef[i] * kvalue[i];
    sum -= model.rho[0];
    *dec_values = sum;
    if (svm_type == one_class) return sum > 0 ? 1 : -1;
    return sum;
  }
  const int nr_class = model.nr_class;
  KernelValues(model, x, scratch);
  std::vector<int> start(static_cast<size_t>(nr_class), 0);
  for (int i = 1; i < nr_class; ++i) start[i] = start[i - 1] + model.nSV[i - 1];
  std::vector<int> vote(static_cast<size_t>(nr_class), 0);
  int p = 0;
  for (int i = 0; i < nr_class; ++i) {
    for (int j = i + 1; j < nr_class; ++j) {
      double sum = 0;
      const int si = start[i], sj = start[j];
      const int ci = model.nSV[i], cj = model.nSV[j];
      const std::vector<double>& coef1 = model.sv_coef[j - 1];
      const std::vector<double>& coef2 = model.sv_coef[i];
      for (int k = 0; k < ci; ++k) sum += coef1[si + k] * kvalue[si + k];
      for (int k = 0; k < cj; ++k) sum += coef2[sj + k] * kvalue[sj + k];
      sum -= model.rho[p];
      dec_values[p] = sum;
      if (dec_values[p] > 0) {
        ++vote[i];
      } else {
        ++vote[j];
      }
      ++p;
    }
  }
  int vote_max_idx = 0;
  for (int i = 1; i < nr_class; ++i) {
    if (vote[i] > vote[vote_max_idx]) vote_max_idx = i;
  }
  return model.label.empty() ? 0 : model.label[vote_max_idx];
}

double svm_predict(const svm_model& model, const svm_node* x) {
  const int nr_class = model.nr_class;
  const int svm_type = model.param.svm_type;
  const size_t n = (svm_type == one_class || svm_type == epsilon_svr || svm_type == nu_svr)
                       ? 1
                       : static_cast<size_t>(std::max(nr_class * (nr_class - 1) / 2, 1));
  std::vector<double> dec_values(n);
  return svm_predict_values(model, x, dec_values.data());
}

double svm_predict_probability(const svm_model& model, const svm_node* x, double* prob_estimates) {
  if ((model.param.svm_type == c_svc || model.param.svm_type == nu_svc) && !model.probA.empty() &&
      !model.probB.empty()) {
    const int nr_class = model.nr_class;
    std::vector<double> dec_values(static_cast<size_t>(std::max(nr_class * (nr_class - 1) / 2, 1)));
    svm_predict_values(model, x, dec_values.data());
    const double min_prob = 1e-7;
    std::vector<std::vector<double>> pairwise(static_cast<size_t>(nr_class),
                                              std::vector<double>(static_cast<size_t>(nr_class)));
    int k = 0;
    for (int i = 0; i < nr_class; ++i) {
      for (int j = i + 1; j < nr_class; ++j) {
        pairwise[i][j] = std::min(
            std::max(sigmoid_predict(dec_values[k], model.probA[k], model.probB[k]), min_prob),
            1 - min_prob);
        pairwise[j][i] = 1 - pairwise[i][j];
        ++k;
      }
    }
    if (nr_class == 2) {
      prob_estimates[0] = pairwise[0][1];
      prob_estimates[1] = pairwise[1][0];
    } else {
      multiclass_probability(nr_class, pairwise, prob_estimates);
    }
    int prob_max_idx = 0;
    for (int i = 1; i < nr_class; ++i) {
      if (prob_estimates[i] > prob_estimates[prob_max_idx]) prob_max_idx = i;
    }
    return model.label[prob_max_idx];
  }
  return svm_predict(model, x);
}

}  // namespace varnik
