// The kernel matrix family read by the solver: QMatrix (columns of Q), Kernel
// (kernel values of training rows), and the fast string kernels.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/parallel.h"
#include "svm/svm.h"

namespace varnik {

// Columns of the matrix Q of the dual problem.
class Cache;

class QMatrix {
 public:
  virtual ~QMatrix() = default;
  // The first len entries of column i (valid until the next call but one).
  virtual const float* get_Q(int column, int len) = 0;
  virtual const double* get_QD() const = 0;
  virtual void swap_index(int i, int j) = 0;
  // A swap whose cached entries follow at finish_swaps (for many at once).
  virtual void swap_index_later(int i, int j) { swap_index(i, j); }
  virtual void finish_swaps() {}
  // Its column cache, for the progress lines (null when it has none).
  virtual const Cache* cache() const { return nullptr; }
  // Whether it computes entries past its cache (entries below).
  virtual bool has_entries() const { return false; }
  // Entries of Q computed afresh, past the cache, safe from several threads
  // at once: out[k] is entry others[k] of column t (t_column), or entry t of
  // column others[k], the same numbers get_Q gives.
  virtual void entries(int /*t*/, const int* /*others*/, int /*count*/, bool /*t_column*/,
                       float* /*out*/) const {}
  // Adds entries computed that way to the run's count of kernel values.
  virtual void count_entries(long long /*count*/) {}
};

// Sparse dot product.
double dot(const svm_node* px, const svm_node* py);

// One-hot windows (every value 1, at most one index per block of four
// 4p + 1 .. 4p + 4) as one code per position: 1 .. 4, or 0 for none. Their dot
// product is the number of positions with the same non-zero code, the same
// whole number the sparse product sums to. Encode fails for other vectors.
bool EncodeOneHot(const svm_node* x, std::string& codes);
// Positions beyond this make EncodeOneHot refuse (1 MiB of codes).
inline constexpr int kMaxOneHotPositions = 1 << 20;
int CountCommonCodes(const unsigned char* a, const unsigned char* b, int n);
// Codes padded with zeros (which match nothing) to n positions rounded up to
// a whole number of 16-byte blocks.
inline void PadCodes(std::string& codes, size_t n) {
  n = (n + 15) / 16 * 16;
  if (codes.size() < n) codes.resize(n, '\0');
}

// Weights of the weighted-degree kernel for windows of n letters and maximal
// k-mer length d: the value of a run of r matching letters, and prefix sums of
// the k-mer weights beta_k = d - k + 1.
class WdWeights {
 public:
  WdWeights() = default;
  WdWeights(int d, int n);
  int d() const { return d_; }
  int n() const { return n_; }
  // Sum over k = 1 .. min(d, r) of beta_k (r - k + 1): what a run of r
  // matches adds to the numerator (and, for r = n, the denominator).
  int64_t run(int r) const { return run_[r]; }
  // Sum over k = 1 .. min(d, t) of beta_k, for t up to n.
  int64_t beta_prefix(int t) const { return prefix_[t < cap_ ? t : cap_]; }
  const int64_t* beta_prefix_table() const { return prefix_.data(); }
  // For the shifted k-mers of wds: inner_run(r) sums beta_prefix(j) over
  // j = 1 .. r (a run of r matches that stops before the window's end);
  // tail(t) sums beta_prefix(n - t') over t' = t .. n - 1 (positions whose
  // matches run to the end).
  int64_t inner_run(int r) const { return inner_[r]; }
  int64_t tail(int t) const { return tail_[t]; }

 private:
  int d_ = 0, n_ = 0;
  int cap_ = 0;  // min(d, n): the longest k-mer that counts
  std::vector<int64_t> run_, prefix_, inner_, tail_;
};

// The window's letters when every value is a letter code (a whole number
// 0 .. 255); false otherwise.
bool NodesAsLetters(const svm_node* x, std::string& out);

// The string kernels on letter strings of n letters (b at least as long).
double WdKernelLetters(const unsigned char* a, const unsigned char* b, int n, const WdWeights& w);
// out[i] = WdKernelLetters(a, b[i], n, w) for i < count.
void WdKernelRow(const unsigned char* a, const unsigned char* const* b, int count, int n,
                 const WdWeights& w, double* out);
// WdKernelRow one value at a time (the way processors without AVX-512 take),
// and whether windows of n letters take the eight-at-a-time way here (for
// tests: both must give the same numbers).
void WdKernelRowNarrow(const unsigned char* a, const unsigned char* const* b, int count, int n,
                       const WdWeights& w, double* out);
bool WdKernelRowIsWide(int n);
// The same without the processor's vector extensions (for tests).
double WdKernelLettersPortable(const unsigned char* a, const unsigned char* b, int n,
                               const WdWeights& w);
double WdsSum(const unsigned char* u, const unsigned char* v, int n, int d, double sigma,
              const WdWeights& w);
double WdsKernelLetters(const unsigned char* a, const unsigned char* b, int n, int d, double sigma,
                        const WdWeights& w, double self_a, double self_b);

// Kernel values of the rows of a training problem.
class Kernel : public QMatrix {
 public:
  Kernel(int l, const svm_node* const* x, const svm_parameter& param, svm_run* run);
  void swap_index(int i, int j) override;

  static double k_function(const svm_node* x, const svm_node* y, const svm_parameter& param);
  // The polynomial kernel from a dot product.
  static double k_from_dot(double dot, const svm_parameter& param);

 protected:
  double kernel(int i, int j);
  void count_entries(long long count) override {
    if (run_ != nullptr) run_->kernel_evaluations += count;
  }
  // QMatrix::entries with Q_ij = factor(j) K(x_i, x_j) (factor symmetric).
  template <typename Factor>
  void entries_of(int t, const int* others, int count, bool t_column, float* out,
                  Factor factor) const;
  // K(x_i, x_j) without counting it: safe from several threads at once.
  double value(int i, int j) const;
  // Whether copying an entry from a cached mirror column beats computing it:
  // not for the fast kernels on letters and codes, where the copy's memory
  // access costs more than the value (both give the same number).
  bool mirrors_pay() const { return !one_hot_ && !(letters_ && kernel_type_ == wd); }
  // Fills entries start .. len - 1 of column i: data[j] = factor(j) K(x_i,
  // x_j), or a copy from a cached mirror column (mirror(j): column j when it
  // holds entry i, else null) where that pays. Long columns are cut into
  // pieces over the run's threads; every entry is the same number whichever
  // thread computes it.
  template <typename Mirror, typename Factor>
  void fill_column(int i, int start, int len, float* data, Mirror mirror, Factor factor);
  svm_run* run_;

 private:
  // The entries begin .. end - 1 of fill_column; returns how many it computed.
  template <typename Mirror, typename Factor>
  long long column_piece(int i, int begin, int end, float* data, Mirror mirror,
                         Factor factor) const;
  // The same for wd on letters, the window of row i against many at once
  // (false, nothing written, for other kernels or a shorter row).
  template <typename Factor>
  bool string_column(int i, int begin, int end, float* data, Factor factor) const;
  // out[k] = factor(j) K(x_i, x_j) for j = other(k), k < count: wd on
  // letters, row i's window against many at once (none shorter than it).
  template <typename Other, typename Factor>
  void string_values(int i, int count, Other other, float* out, Factor factor) const;
  double kernel_string(int i, int j) const;

  std::vector<const svm_node*> x_;
  std::vector<double> x_square_;  // rbf only
  // Classic kernels on one-hot windows: the rows as codes of one length.
  bool one_hot_ = false;
  std::vector<std::string> row_codes_;
  // rbf on one-hot windows: the squared distance is a whole number m, so
  // exp(-gamma m) is looked up (the same value, computed once per m).
  std::vector<double> rbf_table_;
  double dot_rows(int i, int j) const;
  int kernel_type_, degree_;
  double gamma_, coef0_;
  // String kernels: every row as letters (when all values are letter codes),
  // its length, and W(x_i, x_i) for wds.
  bool letters_ = false;
  // Row i's letters at row(i), rows one after another at a fixed stride (the
  // longest row's length), so that a column's kernel values read them in
  // order from one block.
  std::string row_letters_;
  size_t stride_ = 0;
  const unsigned char* row(int i) const {
    return reinterpret_cast<const unsigned char*>(row_letters_.data()) +
           static_cast<size_t>(i) * stride_;
  }
  std::vector<int> row_length_;
  bool one_length_ = true;  // every row as long as the others
  std::vector<double> self_wds_;
  std::vector<WdWeights> weights_;  // by window length, for the lengths met
  const WdWeights& weights_for(int n) const;
  void add_weights_for(int n);
};

template <typename Other, typename Factor>
void Kernel::string_values(int i, int count, Other other, float* out, Factor factor) const {
  // A few hundred entries at a time, on the stack (no allocation per column).
  constexpr int kChunk = 256;
  const unsigned char* rows[kChunk];
  double values[kChunk];
  const int n = row_length_[i];
  const WdWeights& w = weights_for(n);
  for (int first = 0; first < count; first += kChunk) {
    const int m = std::min(kChunk, count - first);
    for (int k = 0; k < m; ++k) rows[k] = row(other(first + k));
    WdKernelRow(row(i), rows, m, n, w, values);
    for (int k = 0; k < m; ++k) {
      out[first + k] = static_cast<float>(factor(other(first + k)) * values[k]);
    }
  }
}

template <typename Factor>
bool Kernel::string_column(int i, int begin, int end, float* data, Factor factor) const {
  if (!letters_ || kernel_type_ != wd) return false;
  if (!one_length_) {
    for (int j = begin; j < end; ++j) {
      if (row_length_[j] < row_length_[i]) return false;  // a shorter row: entry by entry
    }
  }
  string_values(
      i, end - begin, [begin](int k) { return begin + k; }, data + begin, factor);
  return true;
}

template <typename Factor>
void Kernel::entries_of(int t, const int* others, int count, bool t_column, float* out,
                        Factor factor) const {
  if (letters_ && kernel_type_ == wd && one_length_) {
    // Windows of one length: the value is the same whichever is the column
    // (the same match bits), so t's window goes against many at once.
    string_values(
        t, count, [others](int k) { return others[k]; }, out, factor);
    return;
  }
  for (int k = 0; k < count; ++k) {
    const int o = others[k];
    out[k] = static_cast<float>(factor(o) * (t_column ? value(t, o) : value(o, t)));
  }
}

template <typename Mirror, typename Factor>
long long Kernel::column_piece(int i, int begin, int end, float* data, Mirror mirror,
                               Factor factor) const {
  const bool mirrors = mirrors_pay();
  if (!mirrors && string_column(i, begin, end, data, factor)) return end - begin;
  long long computed = 0;
  for (int j = begin; j < end; ++j) {
    const float* copy = mirrors && j != i ? mirror(j) : nullptr;
    if (copy != nullptr) {
      data[j] = copy[i];
    } else {
      data[j] = static_cast<float>(factor(j) * value(i, j));
      ++computed;
    }
  }
  return computed;
}

template <typename Mirror, typename Factor>
void Kernel::fill_column(int i, int start, int len, float* data, Mirror mirror, Factor factor) {
  const int n = len - start;
  if (n <= 0) return;
  const int threads = run_ != nullptr ? run_->threads : 1;
  // Below this many entries a column is not worth the threads' start.
  int grain = letters_ ? 1024 : 8192;
  if (run_ != nullptr && run_->column_piece > 0) grain = run_->column_piece;
  const int parts = std::max(1, std::min(threads, n / grain));
  std::vector<long long> computed(static_cast<size_t>(parts), 0);
  auto piece = [&](int p) {
    computed[p] = column_piece(i, start + PieceBegin(n, parts, p),
                               start + PieceBegin(n, parts, p + 1), data, mirror, factor);
  };
  if (run_ != nullptr && run_->team != nullptr) {
    run_->team->Run(parts, piece);
  } else {
    ParallelFor(parts, parts, [&](int p, int) { piece(p); });
  }
  if (run_ != nullptr) {
    for (long long c : computed) run_->kernel_evaluations += c;
  }
}

}  // namespace varnik
