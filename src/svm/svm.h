// The SVM engine: support vector machines trained by sequential minimal
// optimisation on sparse real vectors and on nucleotide windows (weighted-
// degree string kernels). Five formulations: C-SVC, nu-SVC, one-class,
// epsilon-SVR and nu-SVR, with probability estimates and cross-validation.
//
// The engine never ends the run itself: problems with a parameter set are
// reported by svm_check_parameter as message strings, and its callers decide.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/random.h"

namespace varnik {

class Progress;

// One feature of a sparse vector; index -1 ends the vector.
struct svm_node {
  int32_t index;
  double value;
};

// Training vectors and their targets; the caller owns the vectors.
struct svm_problem {
  int l = 0;
  std::vector<double> y;
  std::vector<const svm_node*> x;
};

enum SvmType : int { c_svc = 0, nu_svc = 1, one_class = 2, epsilon_svr = 3, nu_svr = 4 };
enum KernelType : int {
  linear = 0,
  polynomial = 1,
  rbf = 2,
  sigmoid = 3,
  precomputed = 4,
  wd = 5,
  wds = 6,
};

// Words of the two enumerations in code order, as the model file writes them.
extern const char* const svm_type_table[];
extern const char* const kernel_type_table[];

struct svm_parameter {
  int svm_type = c_svc;
  int kernel_type = linear;
  int degree = 3;    // polynomial degree; the maximal k-mer length of wd and wds
  double gamma = 0;  // polynomial, rbf, sigmoid; the shift factor sigma of wds
  double coef0 = 0;
  double cache_size = 100;  // megabytes
  double eps = 1e-3;
  double C = 1;
  int nr_weight = 0;
  std::vector<int> weight_label;
  std::vector<double> weight;
  double nu = 0.5;
  double p = 0.1;
  int shrinking = 1;
  int probability = 0;
};

struct svm_model {
  svm_parameter param;
  int nr_class = 0;
  int l = 0;                                 // number of support vectors
  std::vector<const svm_node*> SV;           // support vectors, grouped by class
  std::vector<std::vector<double>> sv_coef;  // nr_class - 1 rows of l coefficients
  std::vector<double> rho;                   // one per class pair
  std::vector<double> probA, probB;          // empty when not fitted
  std::vector<int> label;                    // empty for one-class and regression
  std::vector<int> nSV;                      // empty for one-class and regression
  int free_sv = 0;                   // 1 when the model owns its support vectors (read from a file)
  std::vector<svm_node> sv_storage;  // their nodes, when free_sv is 1
  // Derived for fast prediction with the classic kernels when every support
  // vector is a one-hot window: one code per position (see EncodeOneHot) and
  // the number of nodes; empty otherwise.
  std::vector<std::string> sv_codes;
  std::vector<int> sv_ones;
  std::vector<double> rbf_table;  // exp(-gamma m) for whole squared distances m
  // Likewise for the string kernels: the support vectors' letters and, for
  // wds, each one's unnormalised self-similarity.
  std::vector<std::string> sv_letters;
  std::vector<double> sv_self;
};

// Fills the derived fields of the model (after its support vectors are set).
void svm_prepare_prediction(svm_model& model);

// Optional companion of a training call: counts gathered while training, and
// replacements for the string kernels (benchmarks compare the fast kernels
// with the plain formulas this way).
class ThreadTeam;

struct svm_run {
  long long iterations = 0;          // solver steps over all sub-problems
  long long kernel_evaluations = 0;  // kernel values computed (cache misses)
  int threads = 1;                   // for the entries of long kernel columns
  int column_piece = 0;              // entries per thread at least (0: the engine's choice)
  Progress* progress = nullptr;      // told of the solver's steps, when set
  ThreadTeam* team = nullptr;        // threads kept for the columns (else started per column)
  long long memory_bytes = 0;        // what its kernel cache may take (0: svm_default_memory())
  double (*wd_kernel)(const svm_node* x, const svm_node* y, int d) = nullptr;
  double (*wds_kernel)(const svm_node* x, const svm_node* y, int d, double sigma) = nullptr;
};

// The engine's own pseudo-random numbers for its shuffles: a generator in the
// C library's unseeded initial state, kept by the caller for the whole run.
using SvmRandom = CRandom;

// What kernel caches may take unless told: half of the machine's physical
// memory (read when asked).
long long svm_default_memory();

// Null when the parameter set is usable, else the reason.
const char* svm_check_parameter(const svm_problem& prob, const svm_parameter& param);

// Trains a model that refers to the problem's vectors (free_sv = 0).
std::unique_ptr<svm_model> svm_train(const svm_problem& prob, const svm_parameter& param,
                                     SvmRandom& rng, svm_run* run = nullptr);

class WdWeights;

// Working space of prediction, one per thread: the kernel values, the
// window's letters or codes, and the string kernels' weights for its length.
struct svm_scratch {
  svm_scratch();
  ~svm_scratch();
  svm_scratch(svm_scratch&&) noexcept;
  svm_scratch& operator=(svm_scratch&&) noexcept;
  std::vector<double> kvalue;
  std::string codes;
  std::unique_ptr<WdWeights> weights;
  std::vector<double> dec_values;
  std::vector<svm_node> nodes;  // for callers that encode their input
  std::vector<const unsigned char*> rows;
};

// Decision values (k(k-1)/2 for classification, one otherwise) and the
// predicted label or value. Without scratch, the call makes its own.
double svm_predict_values(const svm_model& model, const svm_node* x, double* dec_values,
                          svm_scratch& scratch);
double svm_predict_values(const svm_model& model, const svm_node* x, double* dec_values);
double svm_predict(const svm_model& model, const svm_node* x);
double svm_predict_probability(const svm_model& model, const svm_node* x, double* prob_estimates);

// The folds of a cross-validation: perm lists the training positions fold by
// fold, fold f holding perm[fold_start[f]] .. perm[fold_start[f + 1] - 1].
// Classification with fewer folds than vectors deals each class's shuffled
// members out evenly; otherwise all positions are shuffled and cut in turn.
void svm_fold_layout(const svm_problem& prob, const svm_parameter& param, int nr_fold,
                     SvmRandom& rng, std::vector<int>& perm, std::vector<int>& fold_start);

// The prediction of every training vector by a model trained without its fold.
void svm_cross_validation(const svm_problem& prob, const svm_parameter& param, int nr_fold,
                          double* target, SvmRandom& rng, svm_run* run = nullptr);

int svm_get_svm_type(const svm_model& model);
int svm_get_nr_class(const svm_model& model);
void svm_get_labels(const svm_model& model, int* label);
double svm_get_svr_probability(const svm_model& model);
int svm_check_probability_model(const svm_model& model);

// Releases the model (and, when it owns them, its support vectors).
void svm_free_and_destroy_model(std::unique_ptr<svm_model>& model);
// Empties the model's content, keeping the record.
void svm_free_model_content(svm_model& model);
// The old name of svm_free_and_destroy_model: warns on the error stream.
void svm_destroy_model(std::unique_ptr<svm_model>& model);
// Empties the weight arrays of a parameter set.
void svm_destroy_param(svm_parameter& param);

// Model file: 0 on success, -1 when the file cannot be written.
int svm_save_model(const std::string& path, const svm_model& model);
// Null when the file cannot be read or is malformed: the reason (with the
// line and the value) goes to error, or to the error stream without it.
// Every number must be finite and every header word stand once.
std::unique_ptr<svm_model> svm_load_model(const std::string& path, std::string* error = nullptr);
// The same from the file's text.
std::unique_ptr<svm_model> svm_parse_model(std::string text, std::string* error = nullptr);
// The file's text; exact writes every number so that it reads back to the
// same double (the model file's own formats round them).
std::string svm_model_text(const svm_model& model, bool exact = false);

// The model exactly as writing it with svm_save_model and reading it back with
// svm_load_model would give it (numbers rounded through the file's formats,
// support vectors copied, free_sv = 1), without a file.
std::unique_ptr<svm_model> svm_model_as_stored(const svm_model& model);

// The kernel value of two vectors outside a training problem.
double k_function(const svm_node* x, const svm_node* y, const svm_parameter& param);

// The string kernels on two windows (one node per position, values compared
// for equality; n is taken from x, and y must be at least as long).
// Weighted-degree kernel of maximal k-mer length d, normalised to 1 for equal
// windows; k-mer lengths above n are left out.
double WeightedDegreeKernel(const svm_node* x, const svm_node* y, int d);
// The same with shifts: at position i, k-mers may match shifted by up to
// (int)(i * sigma) positions, a shift of s counting 1 / (2 (s + 1)) per side.
double WeightedDegreeKernelWithShifts(const svm_node* x, const svm_node* y, int d, double sigma);

}  // namespace varnik
