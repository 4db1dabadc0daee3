// The dual problem solver: SMO with second-order working-set selection,
// shrinking and a least-recently-used cache of Q columns.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "core/progress.h"
#include "svm/internal/kernel.h"

namespace varnik {

// Memory for the small columns of one cache: chunks offered to the kernel
// for huge pages (filling a new column then costs a page fault per 2 MiB,
// not per 4 KiB), blocks given up kept for columns of their size or up to a
// quarter smaller. Once the
// blocks given up and not taken again reach the idle limit, Allocate gives
// null and columns go to the heap: the arena does not grow without bound.
class ColumnArena {
 public:
  explicit ColumnArena(size_t idle_limit) : idle_limit_(idle_limit) {}
  ColumnArena(const ColumnArena&) = delete;
  ColumnArena& operator=(const ColumnArena&) = delete;
  ~ColumnArena();
  // Room for n numbers (capacity: how many the block holds), or null.
  float* Allocate(size_t n, size_t& capacity);
  void Release(float* p, size_t n);

 private:
  std::vector<std::pair<void*, size_t>> chunks_;
  char* next_ = nullptr;
  size_t left_ = 0;
  std::map<size_t, std::vector<float*>> idle_;  // blocks given up, by size
  size_t idle_numbers_ = 0, idle_limit_;
};

// The numbers of a cache column. Small columns live in the cache's arena
// (or on the heap); large ones in pages of their own, which grow without a
// copy and go back to the system when given up: columns whose lengths
// change as the active set shrinks and grows back leave no holes behind
// (the holes would add to what the process takes beyond the budget). New
// numbers are left unset (a column is filled by its kernel right after it
// grows).
class ColumnMemory {
 public:
  ColumnMemory() = default;
  ColumnMemory(const ColumnMemory&) = delete;
  ColumnMemory& operator=(const ColumnMemory&) = delete;
  ColumnMemory(ColumnMemory&& other) noexcept { *this = std::move(other); }
  ColumnMemory& operator=(ColumnMemory&& other) noexcept;
  ~ColumnMemory() { Free(); }
  float* data() const { return data_; }
  size_t capacity() const { return capacity_; }
  // The room Fit(n) makes for a column of its own.
  static size_t CapacityFor(size_t n);
  // Room for at least n numbers, the first `keep` kept: pages of its own
  // are made to fit n (grown or cut), other memory grows when too small
  // (from the arena when there is one).
  void Fit(size_t n, size_t keep, ColumnArena* arena = nullptr);
  void Free();

 private:
  enum Kind : unsigned char { kHeap, kArena, kMapped };
  float* data_ = nullptr;
  size_t capacity_ = 0;
  Kind kind_ = kHeap;
  ColumnArena* arena_ = nullptr;
};

// Least-recently-used store of Q columns within a budget of numbers.
class Cache {
 public:
  // l columns, size bytes (capped at a safe share of the machine's memory).
  Cache(int l, long long size_bytes);
  // Makes column index hold at least len numbers; *data points at them.
  // Returns how many leading numbers were already there.
  int get_data(int index, float** data, int len);
  // Column index when it holds entry entry already, else null; the order of
  // use is not changed. A column still to follow swaps counts as not held.
  const float* peek(int index, int entry) const {
    const Head& h = head_[index];
    return h.len > entry && h.swaps == swaps_done() ? h.data.data() : nullptr;
  }
  // Swaps variables i and j: the columns change hands at once, and the swap
  // goes to a log that each column follows when it is next asked for (a
  // swap costs nothing for the columns never asked for again).
  void swap_index(int i, int j);
  // Keeps the log bounded (after a batch of swaps): a long one is followed
  // by every column at once and started again.
  void apply_swaps();
  // What the columns take, and the share of the entries asked for that were
  // there already.
  long long bytes_used() const { return (budget_ - size_) * static_cast<long long>(sizeof(float)); }
  double hit_rate() const {
    return requested_ > 0 ? 1.0 - static_cast<double>(missed_) / static_cast<double>(requested_)
                          : 0;
  }

 private:
  struct Head {
    Head* prev = nullptr;
    Head* next = nullptr;
    ColumnMemory data;
    int len = 0;
    long long swaps = 0;  // the swaps of the log its entries follow
  };
  long long swaps_done() const { return log_start_ + static_cast<long long>(log_.size()); }
  // Makes h's entries follow the swaps logged since it last did: a pair it
  // holds both of is swapped, one it holds only the first of cuts it there.
  // A column far behind is dropped (computing it again costs less).
  void follow_log(Head* h);
  void lru_delete(Head* h);
  void lru_insert(Head* h);
  void release(Head* h);
  // Gives up a spare, else the least recently used column, whose memory
  // goes to taker when that holds none (else it is freed); false when
  // there is nothing left to give up.
  bool give_up(Head* taker);

  ColumnArena arena_;  // before the columns, which give their memory back to it
  // Given-up columns keep their memory for the next ones (a few, within the
  // budget's slack): no allocation per column once the cache is full.
  std::vector<ColumnMemory> spare_;
  long long spare_numbers_ = 0;
  long long size_;  // remaining budget in numbers
  long long budget_ = 0;
  long long requested_ = 0, missed_ = 0;
  // The swaps (i < j) since number log_start_, which the columns follow.
  std::vector<std::pair<int, int>> log_;
  long long log_start_ = 0;
  std::vector<Head> head_;
  Head lru_head_;
};

// Q of C-SVC and nu-SVC: Q_ij = y_i y_j K(i, j).
class SVC_Q : public Kernel {
 public:
  SVC_Q(const svm_problem& prob, const svm_parameter& param, const signed char* y, svm_run* run);
  const float* get_Q(int i, int len) override;
  const double* get_QD() const override { return QD_.data(); }
  void swap_index(int i, int j) override;
  void swap_index_later(int i, int j) override;
  void finish_swaps() override { cache_->apply_swaps(); }
  const Cache* cache() const override { return cache_.get(); }
  bool has_entries() const override { return true; }
  void entries(int t, const int* others, int count, bool t_column, float* out) const override {
    entries_of(t, others, count, t_column, out, [&](int o) { return y_[t] * y_[o]; });
  }

 private:
  std::vector<signed char> y_;
  std::unique_ptr<Cache> cache_;
  std::vector<double> QD_;
};

// Q of one-class SVM: Q_ij = K(i, j).
class ONE_CLASS_Q : public Kernel {
 public:
  ONE_CLASS_Q(const svm_problem& prob, const svm_parameter& param, svm_run* run);
  const float* get_Q(int i, int len) override;
  const double* get_QD() const override { return QD_.data(); }
  void swap_index(int i, int j) override;
  void swap_index_later(int i, int j) override;
  void finish_swaps() override { cache_->apply_swaps(); }
  const Cache* cache() const override { return cache_.get(); }
  bool has_entries() const override { return true; }
  void entries(int t, const int* others, int count, bool t_column, float* out) const override {
    entries_of(t, others, count, t_column, out, [](int) { return 1; });
  }

 private:
  std::unique_ptr<Cache> cache_;
  std::vector<double> QD_;
};

// Q of the regressions: 2l variables over l vectors.
class SVR_Q : public Kernel {
 public:
  SVR_Q(const svm_problem& prob, const svm_parameter& param, svm_run* run);
  const float* get_Q(int i, int len) override;
  const double* get_QD() const override { return QD_.data(); }
  void swap_index(int i, int j) override;
  const Cache* cache() const override { return cache_.get(); }

 private:
  int l_;
  std::unique_ptr<Cache> cache_;
  std::vector<signed char> sign_;
  std::vector<int> index_;
  int next_buffer_ = 0;
  std::vector<float> buffer_[2];
  std::vector<double> QD_;
};

struct SolutionInfo {
  double obj = 0;
  double rho = 0;
  double upper_bound_p = 0;
  double upper_bound_n = 0;
  double r = 0;  // Solver_NU only
  long long iterations = 0;
  Progress* progress = nullptr;  // told of the steps, when set
  ThreadTeam* team = nullptr;    // for the loops over long active sets, when set
};

// minimise 1/2 a'Qa + p'a subject to y'a = delta, 0 <= a_t <= C_t.
class Solver {
 public:
  Solver() = default;
  virtual ~Solver() = default;
  void Solve(int l, QMatrix& Q, const double* p, const signed char* y, double* alpha, double Cp,
             double Cn, double eps, SolutionInfo* si, int shrinking);

 protected:
  enum { LOWER_BOUND = 0, UPPER_BOUND = 1, FREE = 2 };
  int active_size = 0;
  std::vector<signed char> y;
  std::vector<double> G;
  std::vector<char> alpha_status;
  std::vector<double> alpha;
  QMatrix* Q = nullptr;
  const double* QD = nullptr;
  double violation_ = 0;  // of the last working-set selection, for the progress lines
  ThreadTeam* team_ = nullptr;
  // f(begin, end) over contiguous pieces of [0, n): on the team when n is
  // long enough to pay for it, else at once.
  template <typename F>
  void Spread(int n, F f) {
    const int parts = spread_parts(n);
    if (parts <= 1) {
      f(0, n, 0);
      return;
    }
    team_->Run(parts, [&](int p) { f(PieceBegin(n, parts, p), PieceBegin(n, parts, p + 1), p); });
  }
  // The pieces Spread cuts [0, n) into: one per thread of the team, of at
  // least 8192 items, for loops of 16384 items or more.
  int spread_parts(int n) const {
    return team_ != nullptr && n >= 16384 ? std::max(1, std::min(team_->size(), n / 8192)) : 1;
  }
  // The pieces' bests of the working-set selection (kept from step to step).
  struct First {
    double value;
    int index;
  };
  struct Second {
    double gmax2, obj;
    int index;
  };
  std::vector<First> firsts_;
  std::vector<Second> seconds_;
  double eps = 0;
  double Cp = 0, Cn = 0;
  std::vector<double> p;
  std::vector<int> active_set;
  std::vector<double> G_bar;
  int l = 0;
  bool unshrink = false;

  double get_C(int i) const { return y[i] > 0 ? Cp : Cn; }
  void update_alpha_status(int i) {
    if (alpha[i] >= get_C(i)) {
      alpha_status[i] = UPPER_BOUND;
    } else if (alpha[i] <= 0) {
      alpha_status[i] = LOWER_BOUND;
    } else {
      alpha_status[i] = FREE;
    }
  }
  bool is_upper_bound(int i) const { return alpha_status[i] == UPPER_BOUND; }
  bool is_lower_bound(int i) const { return alpha_status[i] == LOWER_BOUND; }
  bool is_free(int i) const { return alpha_status[i] == FREE; }
  // later: the kernel cache's entries follow at Q->finish_swaps().
  void swap_index(int i, int j, bool later = false);
  void reconstruct_gradient();
  bool add_free_terms(const std::vector<int>& free);
  virtual int select_working_set(int& i, int& j);
  virtual double calculate_rho();
  virtual void do_shrinking();

 private:
  bool be_shrunk(int i, double Gmax1, double Gmax2) const;
  // The steps of Solve.
  void initialise_state(int l, QMatrix& Q, const double* p, const signed char* y,
                        const double* alpha, double Cp, double Cn, double eps);
  void initialise_gradient();
  // One step on the working pair: the pair's new alphas, then the gradients.
  void take_step(int i, int j);
  void update_pair(int i, int j, double Q_ij);
  void update_gradients(int i, int j, const float* Q_i, const float* Q_j, double delta_alpha_i,
                        double delta_alpha_j);
  void store_solution(double* alpha, SolutionInfo* si, long long iterations);
};

// The variant for the nu formulations: one equality constraint per sign.
class Solver_NU : public Solver {
 public:
  void Solve(int l, QMatrix& Q, const double* p, const signed char* y, double* alpha, double Cp,
             double Cn, double eps, SolutionInfo* si, int shrinking) {
    si_ = si;
    Solver::Solve(l, Q, p, y, alpha, Cp, Cn, eps, si, shrinking);
  }

 private:
  SolutionInfo* si_ = nullptr;
  int select_working_set(int& i, int& j) override;
  double calculate_rho() override;
  bool be_shrunk(int i, double Gmax1, double Gmax2, double Gmax3, double Gmax4) const;
  void do_shrinking() override;
};

}  // namespace varnik
