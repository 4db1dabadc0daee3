#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "svm/internal/kernel.h"
#include "svm/internal/solver.h"
#include "svm/internal/training.h"
#include "svm/svm.h"

namespace varnik {

namespace {

// One binary (or one-class / regression) decision function.
struct DecisionFunction {
  std::vector<double> alpha;
  double rho = 0;
};

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
  si->team = run != nullptr ? run->team : nullptr;
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
  si->team = run != nullptr ? run->team : nullptr;
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
  si->team = run != nullptr ? run->team : nullptr;
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
  si->team = run != nullptr ? run->team : nullptr;
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
  si->team = run != nullptr ? run->team : nullptr;
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

}  // namespace

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

}  // namespace varnik
