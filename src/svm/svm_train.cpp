#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "svm/svm.h"
#include "svm/svm_kernel.h"
#include "svm/svm_solver.h"

namespace varnik {

namespace {

// One binary (or one-class / regression) decision function.
struct DecisionFunction {
  std::vector<double> alpha;
  double rho = 0;
};

// The vectors at perm[0 .. begin) and perm[end .. l), in that order.
svm_problem ProblemWithout(const svm_problem& prob, const std::vector<int>& perm, int begin,
                           int end) {
  svm_problem sub;
  sub.l = prob.l - (end - begin);
  for (int j = 0; j < prob.l; ++j) {
    if (j == begin) j = end;
    if (j >= prob.l) break;
    sub.x.push_back(prob.x[perm[j]]);
    sub.y.push_back(prob.y[perm[j]]);
  }
  return sub;
}

void CountIterations(svm_run* run, const SolutionInfo& si) {
  if (run != nullptr) run->iterations += si.iterations;
}

void solve_c_svc(const svm_problem& prob, const svm_parameter& param, double* alpha,
                 SolutionInfo* si, double Cp, double Cn, svm_run* run) {
  const int l = prob.l;
  std::vector<double> minus_ones(static_cast<size_t>(l), -1.0);
  std::vector<signed char> y(static_cast<size_t>(l));
  for (int i = 0; i < l; ++i) {
    alpha[i] = 0;
    y[i] = prob.y[i] > 0 ? +1 : -1;
  }
  SVC_Q Q(prob, param, y.data(), run);
  Solver s;
  si->progress = run != nullptr ? run->progress : nullptr;
  s.Solve(l, Q, minus_ones.data(), y.data(), alpha, Cp, Cn, param.eps, si, param.shrinking);
  for (int i = 0; i < l; ++i) alpha[i] *= y[i];
}

void solve_nu_svc(const svm_problem& prob, const svm_parameter& param, double* alpha,
                  SolutionInfo* si, svm_run* run) {
  const int l = prob.l;
  const double nu = param.nu;
  std::vector<signed char> y(static_cast<size_t>(l));
  for (int i = 0; i < l; ++i) y[i] = prob.y[i] > 0 ? +1 : -1;
  double sum_pos = nu * l / 2;
  double sum_neg = nu * l / 2;
  for (int i = 0; i < l; ++i) {
    if (y[i] == +1) {
      alpha[i] = std::min(1.0, sum_pos);
      sum_pos -= alpha[i];
    } else {
      alpha[i] = std::min(1.0, sum_neg);
      sum_neg -= alpha[i];
    }
  }
  std::vector<double> zeros(static_cast<size_t>(l), 0.0);
  SVC_Q Q(prob, param, y.data(), run);
  Solver_NU s;
  si->progress = run != nullptr ? run->progress : nullptr;
  s.Solve(l, Q, zeros.data(), y.data(), alpha, 1.0, 1.0, param.eps, si, param.shrinking);
  const double r = si->r;
  for (int i = 0; i < l; ++i) alpha[i] *= y[i] / r;
  si->rho /= r;
  si->obj /= (r * r);
  si->upper_bound_p = 1 / r;
  si->upper_bound_n = 1 / r;
}

void solve_one_class(const svm_problem& prob, const svm_parameter& param, double* alpha,
                     SolutionInfo* si, svm_run* run) {
  const int l = prob.l;
  const int n = static_cast<int>(param.nu * prob.l);
  for (int i = 0; i < n; ++i) alpha[i] = 1;
  if (n < prob.l) alpha[n] = param.nu * prob.l - n;
  for (int i = n + 1; i < l; ++i) alpha[i] = 0;
  std::vector<double> zeros(static_cast<size_t>(l), 0.0);
  std::vector<signed char> ones(static_cast<size_t>(l), 1);
  ONE_CLASS_Q Q(prob, param, run);
  Solver s;
  si->progress = run != nullptr ? run->progress : nullptr;
  s.Solve(l, Q, zeros.data(), ones.data(), alpha, 1.0, 1.0, param.eps, si, param.shrinking);
}

void solve_epsilon_svr(const svm_problem& prob, const svm_parameter& param, double* alpha,
                       SolutionInfo* si, svm_run* run) {
  const int l = prob.l;
  std::vector<double> alpha2(static_cast<size_t>(2 * l), 0.0);
  std::vector<double> linear_term(static_cast<size_t>(2 * l));
  std::vector<signed char> y(static_cast<size_t>(2 * l));
  for (int i = 0; i < l; ++i) {
    linear_term[i] = param.p - prob.y[i];
    y[i] = 1;
    linear_term[i + l] = param.p + prob.y[i];
    y[i + l] = -1;
  }
  SVR_Q Q(prob, param, run);
  Solver s;
  si->progress = run != nullptr ? run->progress : nullptr;
  s.Solve(2 * l, Q, linear_term.data(), y.data(), alpha2.data(), param.C, param.C, param.eps, si,
          param.shrinking);
  for (int i = 0; i < l; ++i) alpha[i] = alpha2[i] - alpha2[i + l];
}

void solve_nu_svr(const svm_problem& prob, const svm_parameter& param, double* alpha,
                  SolutionInfo* si, svm_run* run) {
  const int l = prob.l;
  const double C = param.C;
  std::vector<double> alpha2(static_cast<size_t>(2 * l));
  std::vector<double> linear_term(static_cast<size_t>(2 * l));
  std::vector<signed char> y(static_cast<size_t>(2 * l));
  double sum = C * param.nu * l / 2;
  for (int i = 0; i < l; ++i) {
    alpha2[i] = alpha2[i + l] = std::min(sum, C);
    sum -= alpha2[i];
    linear_term[i] = -prob.y[i];
    y[i] = 1;
    linear_term[i + l] = prob.y[i];
    y[i + l] = -1;
  }
  SVR_Q Q(prob, param, run);
  Solver_NU s;
  si->progress = run != nullptr ? run->progress : nullptr;
  s.Solve(2 * l, Q, linear_term.data(), y.data(), alpha2.data(), C, C, param.eps, si,
          param.shrinking);
  for (int i = 0; i < l; ++i) alpha[i] = alpha2[i] - alpha2[i + l];
}

DecisionFunction svm_train_one(const svm_problem& prob, const svm_parameter& param, double Cp,
                               double Cn, svm_run* run) {
  DecisionFunction f;
  f.alpha.assign(static_cast<size_t>(prob.l), 0.0);
  SolutionInfo si;
  switch (param.svm_type) {
    case c_svc:
      solve_c_svc(prob, param, f.alpha.data(), &si, Cp, Cn, run);
      break;
    case nu_svc:
      solve_nu_svc(prob, param, f.alpha.data(), &si, run);
      break;
    case one_class:
      solve_one_class(prob, param, f.alpha.data(), &si, run);
      break;
    case epsilon_svr:
      solve_epsilon_svr(prob, param, f.alpha.data(), &si, run);
      break;
    case nu_svr:
      solve_nu_svr(prob, param, f.alpha.data(), &si, run);
      break;
    default:
      break;
  }
  CountIterations(run, si);
  f.rho = si.rho;
  return f;
}

// Platt's sigmoid fit of decision values to targets.
void sigmoid_train(int l, const double* dec_values, const double* labels, double& A, double& B) {
  double prior1 = 0, prior0 = 0;
  for (int i = 0; i < l; ++i) {
    if (labels[i] > 0) {
      prior1 += 1;
    } else {
      prior0 += 1;
    }
  }
  const int max_iter = 100;
  const double min_step = 1e-10;
  const double sigma = 1e-12;
  const double eps = 1e-5;
  const double hiTarget = (prior1 + 1.0) / (prior1 + 2.0);
  const double loTarget = 1 / (prior0 + 2.0);
  std::vector<double> t(static_cast<size_t>(l));
  for (int i = 0; i < l; ++i) t[i] = labels[i] > 0 ? hiTarget : loTarget;
  A = 0.0;
  B = std::log((prior0 + 1.0) / (prior1 + 1.0));
  auto objective = [&](double a, double b) {
    double f = 0;
    for (int i = 0; i < l; ++i) {
      const double fApB = dec_values[i] * a + b;
      if (fApB >= 0) {
        f += t[i] * fApB + std::log(1 + std::exp(-fApB));
      } else {
        f += (t[i] - 1) * fApB + std::log(1 + std::exp(fApB));
      }
    }
    return f;
  };
  double fval = objective(A, B);
  for (int iter = 0; iter < max_iter; ++iter) {
    double h11 = sigma, h22 = sigma, h21 = 0, g1 = 0, g2 = 0;
    for (int i = 0; i < l; ++i) {
      const double fApB = dec_values[i] * A + B;
      double p, q;
      if (fApB >= 0) {
        p = std::exp(-fApB) / (1.0 + std::exp(-fApB));
        q = 1.0 / (1.0 + std::exp(-fApB));
      } else {
        p = 1.0 / (1.0 + std::exp(fApB));
        q = std::exp(fApB) / (1.0 + std::exp(fApB));
      }
      const double d2 = p * q;
      h11 += dec_values[i] * dec_values[i] * d2;
      h22 += d2;
      h21 += dec_values[i] * d2;
      const double d1 = t[i] - p;
      g1 += dec_values[i] * d1;
      g2 += d1;
    }
    if (std::fabs(g1) < eps && std::fabs(g2) < eps) break;
    const double det = h11 * h22 - h21 * h21;
    const double dA = -(h22 * g1 - h21 * g2) / det;
    const double dB = -(-h21 * g1 + h11 * g2) / det;
    const double gd = g1 * dA + g2 * dB;
    double stepsize = 1;
    while (stepsize >= min_step) {
      const double newA = A + stepsize * dA;
      const double newB = B + stepsize * dB;
      const double newf = objective(newA, newB);
      if (newf < fval + 0.0001 * stepsize * gd) {
        A = newA;
        B = newB;
        fval = newf;
        break;
      }
      stepsize = stepsize / 2.0;
    }
    if (stepsize < min_step) break;  // the line search failed
  }
}

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

// Sigmoid parameters of one pair from five-fold decision values.
void svm_binary_svc_probability(const svm_problem& prob, const svm_parameter& param, double Cp,
                                double Cn, double& probA, double& probB, SvmRandom& rng,
                                svm_run* run) {
  const int nr_fold = 5;
  const int l = prob.l;
  std::vector<int> perm(static_cast<size_t>(l));
  std::vector<double> dec_values(static_cast<size_t>(l));
  for (int i = 0; i < l; ++i) perm[i] = i;
  for (int i = 0; i < l; ++i) {
    const int j = i + rng.Next() % (l - i);
    std::swap(perm[i], perm[j]);
  }
  for (int i = 0; i < nr_fold; ++i) {
    const int begin = i * l / nr_fold;
    const int end = (i + 1) * l / nr_fold;
    const svm_problem sub = ProblemWithout(prob, perm, begin, end);
    int p_count = 0, n_count = 0;
    for (int j = 0; j < sub.l; ++j) {
      if (sub.y[j] > 0) {
        ++p_count;
      } else {
        ++n_count;
      }
    }
    if (p_count == 0 && n_count == 0) {
      for (int j = begin; j < end; ++j) dec_values[perm[j]] = 0;
    } else if (p_count > 0 && n_count == 0) {
      for (int j = begin; j < end; ++j) dec_values[perm[j]] = 1;
    } else if (p_count == 0 && n_count > 0) {
      for (int j = begin; j < end; ++j) dec_values[perm[j]] = -1;
    } else {
      svm_parameter subparam = param;
      subparam.probability = 0;
      subparam.C = 1.0;
      subparam.nr_weight = 2;
      subparam.weight_label = {+1, -1};
      subparam.weight = {Cp, Cn};
      std::unique_ptr<svm_model> submodel = svm_train(sub, subparam, rng, run);
      for (int j = begin; j < end; ++j) {
        svm_predict_values(*submodel, prob.x[perm[j]], &dec_values[perm[j]]);
        dec_values[perm[j]] *= submodel->label[0];  // the first label may be -1
      }
    }
  }
  sigmoid_train(l, dec_values.data(), prob.y.data(), probA, probB);
}

// Laplace scale of the residuals of a five-fold cross-validation.
double svm_svr_probability(const svm_problem& prob, const svm_parameter& param, SvmRandom& rng,
                           svm_run* run) {
  const int nr_fold = 5;
  std::vector<double> ymv(static_cast<size_t>(prob.l));
  svm_parameter newparam = param;
  newparam.probability = 0;
  svm_cross_validation(prob, newparam, nr_fold, ymv.data(), rng, run);
  double mae = 0;
  for (int i = 0; i < prob.l; ++i) {
    ymv[i] = prob.y[i] - ymv[i];
    mae += std::fabs(ymv[i]);
  }
  mae /= prob.l;
  const double std_dev = std::sqrt(2 * mae * mae);
  int count = 0;
  mae = 0;
  for (int i = 0; i < prob.l; ++i) {
    if (std::fabs(ymv[i]) > 5 * std_dev) {
      ++count;
    } else {
      mae += std::fabs(ymv[i]);
    }
  }
  mae /= (prob.l - count);
  return mae;
}

// Classes in order of first appearance; perm lists the positions class by
// class, in training order within a class.
struct ClassGroups {
  int nr_class = 0;
  std::vector<int> label, start, count, perm;
};

ClassGroups svm_group_classes(const svm_problem& prob) {
  ClassGroups g;
  const int l = prob.l;
  std::vector<int> data_label(static_cast<size_t>(l));
  g.label.reserve(16);
  for (int i = 0; i < l; ++i) {
    const int this_label = static_cast<int>(prob.y[i]);
    int j = 0;
    for (; j < g.nr_class; ++j) {
      if (this_label == g.label[j]) {
        ++g.count[j];
        break;
      }
    }
    data_label[i] = j;
    if (j == g.nr_class) {
      g.label.push_back(this_label);
      g.count.push_back(1);
      ++g.nr_class;
    }
  }
  g.start.assign(static_cast<size_t>(g.nr_class), 0);
  for (int i = 1; i < g.nr_class; ++i) g.start[i] = g.start[i - 1] + g.count[i - 1];
  g.perm.assign(static_cast<size_t>(l), 0);
  std::vector<int> next = g.start;
  for (int i = 0; i < l; ++i) g.perm[next[data_label[i]]++] = i;
  return g;
}

}  // namespace

const char* svm_check_parameter(const svm_problem& prob, const svm_parameter& param) {
  const int svm_type = param.svm_type;
  if (svm_type < c_svc || svm_type > nu_svr) return "unknown svm type";
  const int kernel_type = param.kernel_type;
  if (kernel_type < linear || kernel_type > wds) return "unknown kernel type";
  if (param.gamma < 0) return "gamma < 0";
  if (param.degree < 0) return "degree of polynomial kernel < 0";
  if ((kernel_type == wd || kernel_type == wds) && param.degree < 1) {
    return "degree of string kernel < 1";
  }
  if (param.cache_size <= 0) return "cache_size <= 0";
  if (param.eps <= 0) return "eps <= 0";
  if ((svm_type == c_svc || svm_type == epsilon_svr || svm_type == nu_svr) && param.C <= 0) {
    return "C <= 0";
  }
  if ((svm_type == nu_svc || svm_type == one_class || svm_type == nu_svr) &&
      (param.nu <= 0 || param.nu > 1)) {
    return "nu <= 0 or nu > 1";
  }
  if (svm_type == epsilon_svr && param.p < 0) return "p < 0";
  if (param.shrinking != 0 && param.shrinking != 1) return "shrinking != 0 and shrinking != 1";
  if (param.probability != 0 && param.probability != 1) {
    return "probability != 0 and probability != 1";
  }
  if (param.probability == 1 && svm_type == one_class) {
    return "one-class SVM probability output not supported yet";
  }
  if (svm_type == nu_svc) {
    const ClassGroups g = svm_group_classes(prob);
    for (int i = 0; i < g.nr_class; ++i) {
      for (int j = i + 1; j < g.nr_class; ++j) {
        if (param.nu * (g.count[i] + g.count[j]) / 2 > std::min(g.count[i], g.count[j])) {
          return "specified nu is infeasible";
        }
      }
    }
  }
  return nullptr;
}

std::unique_ptr<svm_model> svm_train(const svm_problem& prob, const svm_parameter& param,
                                     SvmRandom& rng, svm_run* run) {
  auto model = std::make_unique<svm_model>();
  model->param = param;
  model->free_sv = 0;

  if (param.svm_type == one_class || param.svm_type == epsilon_svr || param.svm_type == nu_svr) {
    model->nr_class = 2;
    if (param.probability && (param.svm_type == epsilon_svr || param.svm_type == nu_svr)) {
      model->probA = {svm_svr_probability(prob, param, rng, run)};
    }
    const DecisionFunction f = svm_train_one(prob, param, 0, 0, run);
    model->rho = {f.rho};
    model->sv_coef.assign(1, {});
    for (int i = 0; i < prob.l; ++i) {
      if (std::fabs(f.alpha[i]) > 0) {
        model->SV.push_back(prob.x[i]);
        model->sv_coef[0].push_back(f.alpha[i]);
      }
    }
    model->l = static_cast<int>(model->SV.size());
    svm_prepare_prediction(*model);
    return model;
  }

  // Classification.
  const int l = prob.l;
  const ClassGroups g = svm_group_classes(prob);
  const int nr_class = g.nr_class;
  std::vector<const svm_node*> x(static_cast<size_t>(l));
  for (int i = 0; i < l; ++i) x[i] = prob.x[g.perm[i]];

  std::vector<double> weighted_C(static_cast<size_t>(nr_class), param.C);
  for (int i = 0; i < param.nr_weight; ++i) {
    int j = 0;
    for (; j < nr_class; ++j) {
      if (param.weight_label[i] == g.label[j]) break;
    }
    if (j == nr_class) {
      std::fprintf(stderr, "warning: class label %d specified in weight is not found\n",
                   param.weight_label[i]);
    } else {
      weighted_C[j] *= param.weight[i];
    }
  }

  std::vector<char> nonzero(static_cast<size_t>(l), 0);
  const int pairs = nr_class * (nr_class - 1) / 2;
  std::vector<DecisionFunction> f(static_cast<size_t>(pairs));
  std::vector<double> probA, probB;
  if (param.probability) {
    probA.resize(static_cast<size_t>(pairs));
    probB.resize(static_cast<size_t>(pairs));
  }
  int p = 0;
  for (int i = 0; i < nr_class; ++i) {
    for (int j = i + 1; j < nr_class; ++j) {
      const int si = g.start[i], sj = g.start[j];
      const int ci = g.count[i], cj = g.count[j];
      svm_problem sub;
      sub.l = ci + cj;
      sub.x.resize(static_cast<size_t>(sub.l));
      sub.y.resize(static_cast<size_t>(sub.l));
      for (int k = 0; k < ci; ++k) {
        sub.x[k] = x[si + k];
        sub.y[k] = +1;
      }
      for (int k = 0; k < cj; ++k) {
        sub.x[ci + k] = x[sj + k];
        sub.y[ci + k] = -1;
      }
      if (param.probability) {
        svm_binary_svc_probability(sub, param, weighted_C[i], weighted_C[j], probA[p], probB[p],
                                   rng, run);
      }
      f[p] = svm_train_one(sub, param, weighted_C[i], weighted_C[j], run);
      for (int k = 0; k < ci; ++k) {
        if (!nonzero[si + k] && std::fabs(f[p].alpha[k]) > 0) nonzero[si + k] = 1;
      }
      for (int k = 0; k < cj; ++k) {
        if (!nonzero[sj + k] && std::fabs(f[p].alpha[ci + k]) > 0) nonzero[sj + k] = 1;
      }
      ++p;
    }
  }

  model->nr_class = nr_class;
  model->label = g.label;
  model->rho.resize(static_cast<size_t>(pairs));
  for (int i = 0; i < pairs; ++i) model->rho[i] = f[i].rho;
  model->probA = probA;
  model->probB = probB;
  std::vector<int> nz_count(static_cast<size_t>(nr_class));
  model->nSV.resize(static_cast<size_t>(nr_class));
  int total_sv = 0;
  for (int i = 0; i < nr_class; ++i) {
    int nSV = 0;
    for (int j = 0; j < g.count[i]; ++j) {
      if (nonzero[g.start[i] + j]) {
        ++nSV;
        ++total_sv;
      }
    }
    model->nSV[i] = nSV;
    nz_count[i] = nSV;
  }
  model->l = total_sv;
  for (int i = 0; i < l; ++i) {
    if (nonzero[i]) model->SV.push_back(x[i]);
  }
  std::vector<int> nz_start(static_cast<size_t>(nr_class), 0);
  for (int i = 1; i < nr_class; ++i) nz_start[i] = nz_start[i - 1] + nz_count[i - 1];
  model->sv_coef.assign(static_cast<size_t>(std::max(nr_class - 1, 0)),
                        std::vector<double>(static_cast<size_t>(total_sv), 0.0));
  p = 0;
  for (int i = 0; i < nr_class; ++i) {
    for (int j = i + 1; j < nr_class; ++j) {
      // The coefficients of class i for the pair (i, j) go to row j - 1,
      // those of class j to row i.
      const int si = g.start[i], sj = g.start[j];
      const int ci = g.count[i], cj = g.count[j];
      int q = nz_start[i];
      for (int k = 0; k < ci; ++k) {
        if (nonzero[si + k]) model->sv_coef[j - 1][q++] = f[p].alpha[k];
      }
      q = nz_start[j];
      for (int k = 0; k < cj; ++k) {
        if (nonzero[sj + k]) model->sv_coef[i][q++] = f[p].alpha[ci + k];
      }
      ++p;
    }
  }
  svm_prepare_prediction(*model);
  return model;
}

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

void svm_fold_layout(const svm_problem& prob, const svm_parameter& param, int nr_fold,
                     SvmRandom& rng, std::vector<int>& perm, std::vector<int>& fold_start) {
  const int l = prob.l;
  perm.assign(static_cast<size_t>(std::max(l, 0)), 0);
  fold_start.assign(static_cast<size_t>(std::max(nr_fold, 0)) + 1, 0);
  if (nr_fold < 1 || l < 1) return;
  if ((param.svm_type == c_svc || param.svm_type == nu_svc) && nr_fold < l) {
    // Stratified folds: each class shuffled and dealt out evenly.
    const ClassGroups g = svm_group_classes(prob);
    std::vector<int> index = g.perm;
    for (int c = 0; c < g.nr_class; ++c) {
      for (int i = 0; i < g.count[c]; ++i) {
        const int j = i + rng.Next() % (g.count[c] - i);
        std::swap(index[g.start[c] + j], index[g.start[c] + i]);
      }
    }
    std::vector<int> fold_count(static_cast<size_t>(nr_fold), 0);
    for (int i = 0; i < nr_fold; ++i) {
      for (int c = 0; c < g.nr_class; ++c) {
        fold_count[i] += (i + 1) * g.count[c] / nr_fold - i * g.count[c] / nr_fold;
      }
    }
    fold_start[0] = 0;
    for (int i = 1; i <= nr_fold; ++i) fold_start[i] = fold_start[i - 1] + fold_count[i - 1];
    std::vector<int> next(fold_start.begin(), fold_start.end() - 1);
    for (int c = 0; c < g.nr_class; ++c) {
      for (int i = 0; i < nr_fold; ++i) {
        const int begin = g.start[c] + i * g.count[c] / nr_fold;
        const int end = g.start[c] + (i + 1) * g.count[c] / nr_fold;
        for (int j = begin; j < end; ++j) perm[next[i]++] = index[j];
      }
    }
  } else {
    for (int i = 0; i < l; ++i) perm[i] = i;
    for (int i = 0; i < l; ++i) {
      const int j = i + rng.Next() % (l - i);
      std::swap(perm[i], perm[j]);
    }
    for (int i = 0; i <= nr_fold; ++i) fold_start[i] = i * l / nr_fold;
  }
}

void svm_cross_validation(const svm_problem& prob, const svm_parameter& param, int nr_fold,
                          double* target, SvmRandom& rng, svm_run* run) {
  const int l = prob.l;
  if (nr_fold < 1 || l < 1) return;
  std::vector<int> perm, fold_start;
  svm_fold_layout(prob, param, nr_fold, rng, perm, fold_start);
  for (int i = 0; i < nr_fold; ++i) {
    const int begin = fold_start[i];
    const int end = fold_start[i + 1];
    const svm_problem sub = ProblemWithout(prob, perm, begin, end);
    std::unique_ptr<svm_model> submodel = svm_train(sub, param, rng, run);
    if (param.probability && (param.svm_type == c_svc || param.svm_type == nu_svc)) {
      std::vector<double> prob_estimates(static_cast<size_t>(svm_get_nr_class(*submodel)));
      for (int j = begin; j < end; ++j) {
        target[perm[j]] =
            svm_predict_probability(*submodel, prob.x[perm[j]], prob_estimates.data());
      }
    } else {
      for (int j = begin; j < end; ++j) target[perm[j]] = svm_predict(*submodel, prob.x[perm[j]]);
    }
  }
}

int svm_get_svm_type(const svm_model& model) { return model.param.svm_type; }

int svm_get_nr_class(const svm_model& model) { return model.nr_class; }

void svm_get_labels(const svm_model& model, int* label) {
  for (size_t i = 0; i < model.label.size(); ++i) label[i] = model.label[i];
}

double svm_get_svr_probability(const svm_model& model) {
  if ((model.param.svm_type == epsilon_svr || model.param.svm_type == nu_svr) &&
      !model.probA.empty()) {
    return model.probA[0];
  }
  std::fprintf(stderr, "Model doesn't contain information for SVR probability inference\n");
  return 0;
}

int svm_check_probability_model(const svm_model& model) {
  return ((model.param.svm_type == c_svc || model.param.svm_type == nu_svc) &&
          !model.probA.empty() && !model.probB.empty()) ||
         ((model.param.svm_type == epsilon_svr || model.param.svm_type == nu_svr) &&
          !model.probA.empty());
}

void svm_free_and_destroy_model(std::unique_ptr<svm_model>& model) { model.reset(); }

void svm_free_model_content(svm_model& model) {
  const svm_parameter param = model.param;
  model = svm_model();
  model.param = param;
}

void svm_destroy_model(std::unique_ptr<svm_model>& model) {
  std::fprintf(stderr,
               "warning: svm_destroy_model is deprecated and should not be used. Please use "
               "svm_free_and_destroy_model(svm_model **model_ptr_ptr)\n");
  svm_free_and_destroy_model(model);
}

void svm_destroy_param(svm_parameter& param) {
  param.weight_label.clear();
  param.weight.clear();
  param.nr_weight = 0;
}

}  // namespace varnik
