#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "core/error.h"
#include "svm/internal/solver.h"

namespace varnik {

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double TAU = 1e-12;

// The cache a training asks for (cache_size, in MB) within the run's budget;
// says once per process when the budget, not the request, leaves columns of
// the problem out (they are computed again when needed: the same model).
long long CacheBytes(double megabytes, const svm_run* run, int l) {
  const double asked = megabytes * 1048576.0;
  const long long budget =
      run != nullptr && run->memory_bytes > 0 ? run->memory_bytes : svm_default_memory();
  const double whole = static_cast<double>(l) * l * sizeof(float) + 32.0 * l;
  if (static_cast<double>(budget) < whole && asked > static_cast<double>(budget)) {
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) {
      auto size = [](double bytes) {
        char out[32];
        if (bytes < 1048576.0) {
          std::snprintf(out, sizeof out, "%.0f KB", bytes / 1024.0);
        } else {
          std::snprintf(out, sizeof out, "%.0f MB", bytes / 1048576.0);
        }
        return std::string(out);
      };
      char text[300];
      std::snprintf(text, sizeof text,
                    "the kernel cache may take %s (--memory), the %d windows' kernel columns %s: "
                    "columns left out are computed again when needed (the same model, more time)",
                    size(static_cast<double>(budget)).c_str(), l, size(whole).c_str());
      Warn(text);
    }
  }
  return static_cast<long long>(asked < static_cast<double>(budget) ? asked : budget);
}

// The change of the objective a step on the pair would bring (second-order
// estimate); a curvature that is not positive is replaced by TAU.
inline double ObjectiveDecrease(double grad_diff, double quad) {
  return quad > 0 ? -(grad_diff * grad_diff) / quad : -(grad_diff * grad_diff) / TAU;
}

}  // namespace

long long svm_default_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return 1LL << 30;
  return static_cast<long long>(pages) * page_size / 2;
}

namespace {

// Columns of at least this many bytes (of problems of 65,536 vectors and
// more, where the holes would take gigabytes) have pages of their own.
constexpr size_t kMappedBytes = size_t{256} << 10;
constexpr size_t kPage = 4096;

}  // namespace

ColumnArena::~ColumnArena() {
  for (const auto& [p, bytes] : chunks_) munmap(p, bytes);
}

float* ColumnArena::Allocate(size_t n, size_t& capacity) {
  // The smallest block given up that holds n, if it is not a quarter
  // larger.
  auto idle = idle_.lower_bound(n);
  if (idle != idle_.end() && idle->first <= n + n / 4) {
    float* p = idle->second.back();
    capacity = idle->first;
    idle->second.pop_back();
    if (idle->second.empty()) idle_.erase(idle);
    idle_numbers_ -= capacity;
    return p;
  }
  capacity = n;
  if (idle_numbers_ > idle_limit_) return nullptr;
  const size_t bytes = n * sizeof(float);
  if (left_ < bytes) {
    // A new chunk, aligned to the huge page.
    constexpr size_t kHuge = size_t{2} << 20, kChunk = size_t{32} << 20;
    const size_t size = std::max(kChunk, (bytes + kHuge - 1) / kHuge * kHuge) + kHuge;
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    chunks_.emplace_back(p, size);
    const uintptr_t start = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
    next_ = reinterpret_cast<char*>(start);
    left_ = size - (start - reinterpret_cast<uintptr_t>(p));
    madvise(next_, left_ & ~(kHuge - 1), MADV_HUGEPAGE);  // a hint; failure is harmless
  }
  float* p = reinterpret_cast<float*>(next_);
  next_ += bytes;
  left_ -= bytes;
  return p;
}

void ColumnArena::Release(float* p, size_t n) {
  idle_[n].push_back(p);
  idle_numbers_ += n;
}

ColumnMemory& ColumnMemory::operator=(ColumnMemory&& other) noexcept {
  if (this != &other) {
    Free();
    std::swap(data_, other.data_);
    std::swap(capacity_, other.capacity_);
    std::swap(kind_, other.kind_);
    std::swap(arena_, other.arena_);
  }
  return *this;
}

void ColumnMemory::Free() {
  if (data_ != nullptr) {
    if (kind_ == kMapped) {
      munmap(data_, capacity_ * sizeof(float));
    } else if (kind_ == kArena) {
      arena_->Release(data_, capacity_);
    } else {
      ::operator delete(data_);
    }
  }
  data_ = nullptr;
  capacity_ = 0;
  kind_ = kHeap;
  arena_ = nullptr;
}

size_t ColumnMemory::CapacityFor(size_t n) {
  const size_t bytes = n * sizeof(float);
  // Small columns in steps of 64 bytes (blocks of the arena fit more
  // columns), large ones in whole pages.
  return bytes < kMappedBytes ? (n + 15) / 16 * 16
                              : (bytes + kPage - 1) / kPage * kPage / sizeof(float);
}

void ColumnMemory::Fit(size_t n, size_t keep, ColumnArena* arena) {
  const size_t fit = CapacityFor(n);
  const bool own_pages = kind_ == kMapped;
  if (own_pages && n * sizeof(float) >= kMappedBytes &&
      (fit > capacity_ || fit + fit / 4 < capacity_)) {
    // Pages of its own: grown, or cut when a quarter of them would be
    // spare, in place where the system can.
    const size_t mapped = fit * sizeof(float);
    void* p = mremap(data_, capacity_ * sizeof(float), mapped, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<float*>(p);
    capacity_ = mapped / sizeof(float);
    return;
  }
  if (n <= capacity_) return;
  const size_t bytes = n * sizeof(float);
  if (bytes < kMappedBytes) {
    size_t capacity = fit;
    float* grown = arena != nullptr ? arena->Allocate(fit, capacity) : nullptr;
    const Kind kind = grown != nullptr ? kArena : kHeap;
    if (grown == nullptr) {
      capacity = fit;
      grown = static_cast<float*>(::operator new(fit * sizeof(float)));
    }
    if (keep > 0) std::memcpy(grown, data_, keep * sizeof(float));
    Free();
    data_ = grown;
    capacity_ = capacity;
    kind_ = kind;
    arena_ = arena;
    return;
  }
  // Pages of its own, from here on (the memory before holds only small
  // numbers of columns, or none).
  const size_t mapped = CapacityFor(n) * sizeof(float);
  void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  if (keep > 0) std::memcpy(p, data_, keep * sizeof(float));
  Free();
  data_ = static_cast<float*>(p);
  capacity_ = mapped / sizeof(float);
  kind_ = kMapped;
}

Cache::Cache(int l, long long size_bytes)
    : arena_(static_cast<size_t>(std::max(size_bytes, 0LL)) / sizeof(float) / 16),
      head_(static_cast<size_t>(l)) {
  size_ = size_bytes / static_cast<long long>(sizeof(float));
  size_ -= static_cast<long long>(l) * 32 / 4;  // the head array, counted in numbers
  size_ = std::max(size_, 2 * static_cast<long long>(ColumnMemory::CapacityFor(
                                  static_cast<size_t>(l))));  // two columns at least
  budget_ = size_;
  lru_head_.next = lru_head_.prev = &lru_head_;
}

void Cache::lru_delete(Head* h) {
  h->prev->next = h->next;
  h->next->prev = h->prev;
}

void Cache::lru_insert(Head* h) {
  h->next = &lru_head_;
  h->prev = lru_head_.prev;
  h->prev->next = h;
  h->next->prev = h;
}

void Cache::release(Head* h) {
  h->len = 0;
  // Kept, still counted in the budget, for a later column (a few of them,
  // within an eighth of the budget): no allocation per column once the
  // cache is full.
  const long long capacity = static_cast<long long>(h->data.capacity());
  if (spare_.size() < 8 && spare_numbers_ + capacity <= budget_ / 8) {
    spare_.push_back(std::move(h->data));
    spare_numbers_ += capacity;
  } else {
    h->data.Free();
    size_ += capacity;
  }
}

bool Cache::give_up(Head* taker) {
  if (!spare_.empty()) {  // spares go first
    const long long capacity = static_cast<long long>(spare_.back().capacity());
    spare_.pop_back();
    spare_numbers_ -= capacity;
    size_ += capacity;
    return true;
  }
  Head* old = lru_head_.next;  // then the least recently used columns
  if (old == &lru_head_) return false;
  lru_delete(old);
  old->len = 0;
  if (taker != nullptr && taker->len == 0 && taker->data.capacity() == 0) {
    taker->data = std::move(old->data);  // still counted
  } else {
    size_ += static_cast<long long>(old->data.capacity());
    old->data.Free();
  }
  return true;
}

int Cache::get_data(int index, float** data, int len) {
  Head* h = &head_[index];
  if (h->len) lru_delete(h);
  follow_log(h);  // a column cut to nothing keeps its memory for its new entries
  const int more = len - h->len;
  requested_ += len;
  if (more > 0) missed_ += more;
  if (more > 0) {
    if (h->data.capacity() == 0 && !spare_.empty()) {
      // A new column in a spare's memory (counted as it was).
      spare_numbers_ -= static_cast<long long>(spare_.back().capacity());
      h->data = std::move(spare_.back());
      spare_.pop_back();
    }
    // The budget counts what the columns hold room for. A new column takes
    // the memory of the least recently used one when it must give one up
    // (its pages are in place already).
    const long long need =
        static_cast<long long>(ColumnMemory::CapacityFor(static_cast<size_t>(len)));
    while (size_ < need - static_cast<long long>(h->data.capacity()) && give_up(h)) {
    }
    const long long have = static_cast<long long>(h->data.capacity());
    h->data.Fit(static_cast<size_t>(len), static_cast<size_t>(h->len), &arena_);
    size_ -= static_cast<long long>(h->data.capacity()) - have;
    // A block of the arena may hold more than asked for: columns are given
    // up until the budget holds it.
    while (size_ < 0 && give_up(nullptr)) {
    }
    std::swap(h->len, len);
  }
  lru_insert(h);
  *data = h->data.data();
  return len;
}

void Cache::swap_index(int i, int j) {
  if (i == j) return;
  if (head_[i].len) lru_delete(&head_[i]);
  if (head_[j].len) lru_delete(&head_[j]);
  std::swap(head_[i].data, head_[j].data);
  std::swap(head_[i].len, head_[j].len);
  std::swap(head_[i].swaps, head_[j].swaps);
  if (head_[i].len) lru_insert(&head_[i]);
  if (head_[j].len) lru_insert(&head_[j]);
  log_.emplace_back(std::min(i, j), std::max(i, j));
}

void Cache::follow_log(Head* h) {
  const long long behind = swaps_done() - h->swaps;
  h->swaps = swaps_done();
  if (h->len == 0 || behind == 0) return;
  const size_t first = log_.size() - static_cast<size_t>(behind);
  // Following a swap reads 8 bytes of the log; computing an entry again
  // costs a few times more.
  if (behind > 4 * static_cast<long long>(h->len)) {
    h->len = 0;
    return;
  }
  float* data = h->data.data();
  for (size_t k = first; k < log_.size(); ++k) {
    const auto [i, j] = log_[k];
    if (h->len <= i) continue;
    if (h->len > j) {
      std::swap(data[i], data[j]);
    } else {
      h->len = i;  // entry i would be column j's: the entries before it stay
      if (i == 0) return;
    }
  }
}

void Cache::apply_swaps() {
  // A long log is followed by every column at once and started again.
  if (log_.size() < std::max<size_t>(4 * head_.size(), size_t{1} << 20)) return;
  for (Head* h = lru_head_.next; h != &lru_head_;) {
    Head* next = h->next;
    follow_log(h);
    if (h->len == 0) {
      lru_delete(h);
      release(h);
    }
    h = next;
  }
  log_start_ = swaps_done();
  log_.clear();
}

SVC_Q::SVC_Q(const svm_problem& prob, const svm_parameter& param, const signed char* y,
             svm_run* run)
    : Kernel(prob.l, prob.x.data(), param, run),
      y_(y, y + prob.l),
      cache_(std::make_unique<Cache>(prob.l, CacheBytes(param.cache_size, run, prob.l))),
      QD_(static_cast<size_t>(prob.l)) {
  for (int i = 0; i < prob.l; ++i) QD_[i] = kernel(i, i);
}

// Q is symmetric: an entry whose mirror is already cached may be copied from
// it (the same number the kernel would give again).
const float* SVC_Q::get_Q(int i, int len) {
  float* data;
  const int start = cache_->get_data(i, &data, len);
  fill_column(
      i, start, len, data, [&](int j) { return cache_->peek(j, i); },
      [&](int j) { return y_[i] * y_[j]; });
  return data;
}

void SVC_Q::swap_index(int i, int j) {
  swap_index_later(i, j);
  cache_->apply_swaps();
}

void SVC_Q::swap_index_later(int i, int j) {
  cache_->swap_index(i, j);
  Kernel::swap_index(i, j);
  std::swap(y_[i], y_[j]);
  std::swap(QD_[i], QD_[j]);
}

ONE_CLASS_Q::ONE_CLASS_Q(const svm_problem& prob, const svm_parameter& param, svm_run* run)
    : Kernel(prob.l, prob.x.data(), param, run),
      cache_(std::make_unique<Cache>(prob.l, CacheBytes(param.cache_size, run, prob.l))),
      QD_(static_cast<size_t>(prob.l)) {
  for (int i = 0; i < prob.l; ++i) QD_[i] = kernel(i, i);
}

const float* ONE_CLASS_Q::get_Q(int i, int len) {
  float* data;
  const int start = cache_->get_data(i, &data, len);
  fill_column(
      i, start, len, data, [&](int j) { return cache_->peek(j, i); }, [](int) { return 1; });
  return data;
}

void ONE_CLASS_Q::swap_index(int i, int j) {
  swap_index_later(i, j);
  cache_->apply_swaps();
}

void ONE_CLASS_Q::swap_index_later(int i, int j) {
  cache_->swap_index(i, j);
  Kernel::swap_index(i, j);
  std::swap(QD_[i], QD_[j]);
}

SVR_Q::SVR_Q(const svm_problem& prob, const svm_parameter& param, svm_run* run)
    : Kernel(prob.l, prob.x.data(), param, run),
      l_(prob.l),
      cache_(std::make_unique<Cache>(prob.l, CacheBytes(param.cache_size, run, prob.l))),
      sign_(static_cast<size_t>(2 * prob.l)),
      index_(static_cast<size_t>(2 * prob.l)),
      QD_(static_cast<size_t>(2 * prob.l)) {
  for (int k = 0; k < l_; ++k) {
    sign_[k] = 1;
    sign_[k + l_] = -1;
    index_[k] = k;
    index_[k + l_] = k;
    QD_[k] = kernel(k, k);
    QD_[k + l_] = QD_[k];
  }
  buffer_[0].resize(static_cast<size_t>(2 * l_));
  buffer_[1].resize(static_cast<size_t>(2 * l_));
}

const float* SVR_Q::get_Q(int i, int len) {
  float* data;
  const int real_i = index_[i];
  const int start = cache_->get_data(real_i, &data, l_);
  fill_column(
      real_i, start, l_, data, [&](int j) { return cache_->peek(j, real_i); },
      [](int) { return 1; });
  float* buf = buffer_[next_buffer_].data();
  next_buffer_ = 1 - next_buffer_;
  const signed char si = sign_[i];
  for (int j = 0; j < len; ++j)
    buf[j] = static_cast<float>(si) * static_cast<float>(sign_[j]) * data[index_[j]];
  return buf;
}

void SVR_Q::swap_index(int i, int j) {
  std::swap(sign_[i], sign_[j]);
  std::swap(index_[i], index_[j]);
  std::swap(QD_[i], QD_[j]);
}

void Solver::swap_index(int i, int j, bool later) {
  if (later) {
    Q->swap_index_later(i, j);
  } else {
    Q->swap_index(i, j);
  }
  std::swap(y[i], y[j]);
  std::swap(G[i], G[j]);
  std::swap(alpha_status[i], alpha_status[j]);
  std::swap(alpha[i], alpha[j]);
  std::swap(p[i], p[j]);
  std::swap(active_set[i], active_set[j]);
  std::swap(G_bar[i], G_bar[j]);
}

void Solver::reconstruct_gradient() {
  if (active_size == l) return;
  Spread(l - active_size, [&](int begin, int end, int) {
    for (int j = active_size + begin; j < active_size + end; ++j) G[j] = G_bar[j] + p[j];
  });
  std::vector<int> free;
  for (int j = 0; j < active_size; ++j) {
    if (is_free(j)) free.push_back(j);
  }
  const int nr_free = static_cast<int>(free.size());
  if (static_cast<double>(nr_free) * l > 2.0 * active_size * (l - active_size)) {
    for (int i = active_size; i < l; ++i) {
      const float* Q_i = Q->get_Q(i, active_size);
      for (int j = 0; j < active_size; ++j) {
        if (is_free(j)) G[i] += alpha[j] * Q_i[j];
      }
    }
  } else if (!add_free_terms(free)) {
    for (int i = 0; i < active_size; ++i) {
      if (is_free(i)) {
        const float* Q_i = Q->get_Q(i, l);
        const double alpha_i = alpha[i];
        // Each G[j] still takes the free variables in order.
        Spread(l - active_size, [&](int begin, int end, int) {
          for (int j = active_size + begin; j < active_size + end; ++j) G[j] += alpha_i * Q_i[j];
        });
      }
    }
  }
}

// G[t] += alpha_i Q_it for every inactive t over the free i in their order:
// the sums the columns of the free variables give, without taking those
// columns through the cache (their inactive part is seldom used again). The
// inactive variables are cut into pieces over the run's threads. False when
// the matrix cannot compute entries past its cache.
bool Solver::add_free_terms(const std::vector<int>& free) {
  if (!Q->has_entries()) return false;
  const int nr_free = static_cast<int>(free.size());
  std::vector<double> alpha_free(free.size());
  for (int k = 0; k < nr_free; ++k) alpha_free[k] = alpha[free[k]];
  // A few inactive variables against a chunk of the free ones at a time, so
  // that the chunk's windows stay in the processor's cache.
  constexpr int kBlock = 32, kChunk = 512;
  const int parts = (l - active_size + kBlock - 1) / kBlock;
  const std::function<void(int)> piece = [&](int part) {
    float out[kChunk];
    const int begin = active_size + part * kBlock, end = std::min(l, begin + kBlock);
    for (int first = 0; first < nr_free; first += kChunk) {
      const int m = std::min(kChunk, nr_free - first);
      for (int t = begin; t < end; ++t) {
        Q->entries(t, free.data() + first, m, false, out);
        double g = G[t];
        for (int k = 0; k < m; ++k) g += alpha_free[first + k] * out[k];
        G[t] = g;
      }
    }
  };
  if (team_ != nullptr && team_->size() > 1 && parts > 1) {
    team_->Run(parts, piece);
  } else {
    for (int part = 0; part < parts; ++part) piece(part);
  }
  Q->count_entries(static_cast<long long>(l - active_size) * nr_free);
  return true;
}

void Solver::Solve(int l_in, QMatrix& Q_in, const double* p_in, const signed char* y_in,
                   double* alpha_in, double Cp_in, double Cn_in, double eps_in, SolutionInfo* si,
                   int shrinking) {
  team_ = si->team;
  initialise_state(l_in, Q_in, p_in, y_in, alpha_in, Cp_in, Cn_in, eps_in);
  initialise_gradient();

  // Optimisation. The step limit is far beyond what a solvable problem needs;
  // it only guards against a run that would never end.
  const long long max_iter = std::max<long long>(10000000, 100LL * l);
  long long iter = 0;
  int counter = std::min(l, 1000) + 1;
  while (iter < max_iter) {
    if (--counter == 0) {
      counter = std::min(l, 1000);
      if (shrinking) do_shrinking();
    }
    int i, j;
    if (select_working_set(i, j) != 0) {
      reconstruct_gradient();
      active_size = l;
      if (select_working_set(i, j) != 0) break;
      counter = 1;  // shrink at the next step
    }
    ++iter;
    if (si->progress != nullptr && iter % 1000 == 0) {
      si->progress->Advance(1000, [this] {
        char text[200];
        const Cache* c = Q->cache();
        std::snprintf(text, sizeof text, "active %d of %d, largest violation %.3g", active_size, l,
                      violation_);
        std::string detail = text;
        if (c != nullptr) {
          std::snprintf(text, sizeof text, ", kernel cache %lld MB, %.1f%% of entries found",
                        c->bytes_used() >> 20, 100.0 * c->hit_rate());
          detail += text;
        }
        return detail;
      });
    }
    take_step(i, j);
  }
  if (iter >= max_iter) {
    if (active_size < l) {
      reconstruct_gradient();
      active_size = l;
    }
    std::fprintf(stderr, "varnik: the SVM solver stopped after %lld steps without converging\n",
                 iter);
  }
  store_solution(alpha_in, si, iter);
}

void Solver::initialise_state(int l_in, QMatrix& Q_in, const double* p_in, const signed char* y_in,
                              const double* alpha_in, double Cp_in, double Cn_in, double eps_in) {
  l = l_in;
  Q = &Q_in;
  QD = Q->get_QD();
  p.assign(p_in, p_in + l);
  y.assign(y_in, y_in + l);
  alpha.assign(alpha_in, alpha_in + l);
  Cp = Cp_in;
  Cn = Cn_in;
  eps = eps_in;
  unshrink = false;
  alpha_status.assign(static_cast<size_t>(l), LOWER_BOUND);
  for (int i = 0; i < l; ++i) update_alpha_status(i);
  active_set.resize(static_cast<size_t>(l));
  for (int i = 0; i < l; ++i) active_set[i] = i;
  active_size = l;
}

void Solver::initialise_gradient() {
  G.assign(p.begin(), p.end());
  G_bar.assign(static_cast<size_t>(l), 0.0);
  for (int i = 0; i < l; ++i) {
    if (!is_lower_bound(i)) {
      const float* Q_i = Q->get_Q(i, l);
      const double alpha_i = alpha[i];
      for (int j = 0; j < l; ++j) G[j] += alpha_i * Q_i[j];
      if (is_upper_bound(i)) {
        for (int j = 0; j < l; ++j) G_bar[j] += get_C(i) * Q_i[j];
      }
    }
  }
}

void Solver::take_step(int i, int j) {
  const float* Q_i = Q->get_Q(i, active_size);
  const float* Q_j = Q->get_Q(j, active_size);
  const double old_alpha_i = alpha[i];
  const double old_alpha_j = alpha[j];
  update_pair(i, j, Q_i[j]);
  update_gradients(i, j, Q_i, Q_j, alpha[i] - old_alpha_i, alpha[j] - old_alpha_j);
}

void Solver::update_pair(int i, int j, double Q_ij) {
  const double C_i = get_C(i);
  const double C_j = get_C(j);
  if (y[i] != y[j]) {
    double quad = QD[i] + QD[j] + 2 * Q_ij;
    if (quad <= 0) quad = TAU;
    const double delta = (-G[i] - G[j]) / quad;
    const double diff = alpha[i] - alpha[j];
    alpha[i] += delta;
    alpha[j] += delta;
    if (diff > 0) {
      if (alpha[j] < 0) {
        alpha[j] = 0;
        alpha[i] = diff;
      }
    } else {
      if (alpha[i] < 0) {
        alpha[i] = 0;
        alpha[j] = -diff;
      }
    }
    if (diff > C_i - C_j) {
      if (alpha[i] > C_i) {
        alpha[i] = C_i;
        alpha[j] = C_i - diff;
      }
    } else {
      if (alpha[j] > C_j) {
        alpha[j] = C_j;
        alpha[i] = C_j + diff;
      }
    }
  } else {
    double quad = QD[i] + QD[j] - 2 * Q_ij;
    if (quad <= 0) quad = TAU;
    const double delta = (G[i] - G[j]) / quad;
    const double sum = alpha[i] + alpha[j];
    alpha[i] -= delta;
    alpha[j] += delta;
    if (sum > C_i) {
      if (alpha[i] > C_i) {
        alpha[i] = C_i;
        alpha[j] = sum - C_i;
      }
    } else {
      if (alpha[j] < 0) {
        alpha[j] = 0;
        alpha[i] = sum;
      }
    }
    if (sum > C_j) {
      if (alpha[j] > C_j) {
        alpha[j] = C_j;
        alpha[i] = sum - C_j;
      }
    } else {
      if (alpha[i] < 0) {
        alpha[i] = 0;
        alpha[j] = sum;
      }
    }
  }
}

void Solver::update_gradients(int i, int j, const float* Q_i, const float* Q_j,
                              double delta_alpha_i, double delta_alpha_j) {
  Spread(active_size, [&](int begin, int end, int) {
    for (int k = begin; k < end; ++k) G[k] += Q_i[k] * delta_alpha_i + Q_j[k] * delta_alpha_j;
  });
  // G_bar follows the variables that reach or leave their upper bound.
  const bool ui = is_upper_bound(i);
  const bool uj = is_upper_bound(j);
  update_alpha_status(i);
  update_alpha_status(j);
  for (const auto& [index, was_upper] : {std::pair<int, bool>{i, ui}, {j, uj}}) {
    if (was_upper == is_upper_bound(index)) continue;
    const double C = get_C(index);
    const float* Q_full = Q->get_Q(index, l);
    const bool leaves_upper = was_upper;  // a binding a lambda may capture
    Spread(l, [&](int begin, int end, int) {
      if (leaves_upper) {
        for (int k = begin; k < end; ++k) G_bar[k] -= C * Q_full[k];
      } else {
        for (int k = begin; k < end; ++k) G_bar[k] += C * Q_full[k];
      }
    });
  }
}

void Solver::store_solution(double* alpha_out, SolutionInfo* si, long long iterations) {
  si->rho = calculate_rho();
  double v = 0;
  for (int i = 0; i < l; ++i) v += alpha[i] * (G[i] + p[i]);
  si->obj = v / 2;
  for (int i = 0; i < l; ++i) alpha_out[active_set[i]] = alpha[i];
  si->upper_bound_p = Cp;
  si->upper_bound_n = Cn;
  si->iterations = iterations;
}

int Solver::select_working_set(int& out_i, int& out_j) {
  // Each piece finds its own best as one loop over all would (a later equal
  // value wins); the pieces' bests are then taken in order by the same rule,
  // so the pair chosen is the one of a single loop, whatever the pieces.
  const int parts = spread_parts(active_size);
  firsts_.assign(static_cast<size_t>(parts), First{-INF, -1});
  Spread(active_size, [&](int begin, int end, int part) {
    First b{-INF, -1};
    for (int t = begin; t < end; ++t) {
      if (y[t] == +1) {
        if (!is_upper_bound(t) && -G[t] >= b.value) b = {-G[t], t};
      } else {
        if (!is_lower_bound(t) && G[t] >= b.value) b = {G[t], t};
      }
    }
    firsts_[static_cast<size_t>(part)] = b;
  });
  double Gmax = -INF;
  int Gmax_idx = -1;
  for (const First& b : firsts_) {
    if (b.value >= Gmax) {
      Gmax = b.value;
      Gmax_idx = b.index;
    }
  }
  const int i = Gmax_idx;
  const float* Q_i = i != -1 ? Q->get_Q(i, active_size) : nullptr;

  seconds_.assign(static_cast<size_t>(parts), Second{-INF, INF, -1});
  Spread(active_size, [&](int begin, int end, int part) {
    Second s{-INF, INF, -1};
    for (int j = begin; j < end; ++j) {
      if (y[j] == +1) {
        if (!is_lower_bound(j)) {
          const double grad_diff = Gmax + G[j];
          if (G[j] >= s.gmax2) s.gmax2 = G[j];
          if (grad_diff > 0) {
            const double quad = QD[i] + QD[j] - 2.0 * y[i] * Q_i[j];
            const double obj_diff = ObjectiveDecrease(grad_diff, quad);
            if (obj_diff <= s.obj) s = {s.gmax2, obj_diff, j};
          }
        }
      } else {
        if (!is_upper_bound(j)) {
          const double grad_diff = Gmax - G[j];
          if (-G[j] >= s.gmax2) s.gmax2 = -G[j];
          if (grad_diff > 0) {
            const double quad = QD[i] + QD[j] + 2.0 * y[i] * Q_i[j];
            const double obj_diff = ObjectiveDecrease(grad_diff, quad);
            if (obj_diff <= s.obj) s = {s.gmax2, obj_diff, j};
          }
        }
      }
    }
    seconds_[static_cast<size_t>(part)] = s;
  });
  double Gmax2 = -INF;
  int Gmin_idx = -1;
  double obj_diff_min = INF;
  for (const Second& s : seconds_) {
    if (s.gmax2 >= Gmax2) Gmax2 = s.gmax2;
    if (s.index != -1 && s.obj <= obj_diff_min) {
      Gmin_idx = s.index;
      obj_diff_min = s.obj;
    }
  }
  violation_ = Gmax + Gmax2;
  if (Gmax + Gmax2 < eps || Gmin_idx == -1) return 1;
  out_i = Gmax_idx;
  out_j = Gmin_idx;
  return 0;
}

bool Solver::be_shrunk(int i, double Gmax1, double Gmax2) const {
  if (is_upper_bound(i)) {
    return y[i] == +1 ? -G[i] > Gmax1 : -G[i] > Gmax2;
  }
  if (is_lower_bound(i)) {
    return y[i] == +1 ? G[i] > Gmax2 : G[i] > Gmax1;
  }
  return false;
}

void Solver::do_shrinking() {
  // Gmax1: max of -y_i G_i over the variables that may move up; Gmax2: max
  // of y_i G_i over those that may move down. Each piece takes its own
  // maxima, then the largest of them (a maximum is the same in any order;
  // only the sign of a zero could differ, which no comparison sees).
  const int parts = spread_parts(active_size);
  std::vector<std::pair<double, double>> maxima(static_cast<size_t>(parts), {-INF, -INF});
  Spread(active_size, [&](int begin, int end, int part) {
    double Gmax1 = -INF, Gmax2 = -INF;
    for (int i = begin; i < end; ++i) {
      if (y[i] == +1) {
        if (!is_upper_bound(i) && -G[i] >= Gmax1) Gmax1 = -G[i];
        if (!is_lower_bound(i) && G[i] >= Gmax2) Gmax2 = G[i];
      } else {
        if (!is_upper_bound(i) && -G[i] >= Gmax2) Gmax2 = -G[i];
        if (!is_lower_bound(i) && G[i] >= Gmax1) Gmax1 = G[i];
      }
    }
    maxima[part] = {Gmax1, Gmax2};
  });
  double Gmax1 = -INF, Gmax2 = -INF;
  for (const auto& [m1, m2] : maxima) {
    if (m1 >= Gmax1) Gmax1 = m1;
    if (m2 >= Gmax2) Gmax2 = m2;
  }
  if (!unshrink && Gmax1 + Gmax2 <= eps * 10) {
    unshrink = true;
    reconstruct_gradient();
    active_size = l;
  }
  for (int i = 0; i < active_size; ++i) {
    if (be_shrunk(i, Gmax1, Gmax2)) {
      --active_size;
      while (active_size > i) {
        if (!be_shrunk(active_size, Gmax1, Gmax2)) {
          swap_index(i, active_size, true);
          break;
        }
        --active_size;
      }
    }
  }
  Q->finish_swaps();  // the cache's columns follow the swaps at once
}

double Solver::calculate_rho() {
  int nr_free = 0;
  double ub = INF, lb = -INF, sum_free = 0;
  for (int i = 0; i < active_size; ++i) {
    const double yG = y[i] * G[i];
    if (is_upper_bound(i)) {
      if (y[i] == -1) {
        ub = std::min(ub, yG);
      } else {
        lb = std::max(lb, yG);
      }
    } else if (is_lower_bound(i)) {
      if (y[i] == +1) {
        ub = std::min(ub, yG);
      } else {
        lb = std::max(lb, yG);
      }
    } else {
      ++nr_free;
      sum_free += yG;
    }
  }
  return nr_free > 0 ? sum_free / nr_free : (ub + lb) / 2;
}

int Solver_NU::select_working_set(int& out_i, int& out_j) {
  double Gmaxp = -INF, Gmaxp2 = -INF;
  int Gmaxp_idx = -1;
  double Gmaxn = -INF, Gmaxn2 = -INF;
  int Gmaxn_idx = -1;
  int Gmin_idx = -1;
  double obj_diff_min = INF;

  for (int t = 0; t < active_size; ++t) {
    if (y[t] == +1) {
      if (!is_upper_bound(t) && -G[t] >= Gmaxp) {
        Gmaxp = -G[t];
        Gmaxp_idx = t;
      }
    } else {
      if (!is_lower_bound(t) && G[t] >= Gmaxn) {
        Gmaxn = G[t];
        Gmaxn_idx = t;
      }
    }
  }
  const int ip = Gmaxp_idx;
  const int in = Gmaxn_idx;
  const float* Q_ip = ip != -1 ? Q->get_Q(ip, active_size) : nullptr;
  const float* Q_in = in != -1 ? Q->get_Q(in, active_size) : nullptr;

  for (int j = 0; j < active_size; ++j) {
    if (y[j] == +1) {
      if (!is_lower_bound(j)) {
        const double grad_diff = Gmaxp + G[j];
        if (G[j] >= Gmaxp2) Gmaxp2 = G[j];
        if (grad_diff > 0) {
          const double quad = QD[ip] + QD[j] - 2 * Q_ip[j];
          const double obj_diff = ObjectiveDecrease(grad_diff, quad);
          if (obj_diff <= obj_diff_min) {
            Gmin_idx = j;
            obj_diff_min = obj_diff;
          }
        }
      }
    } else {
      if (!is_upper_bound(j)) {
        const double grad_diff = Gmaxn - G[j];
        if (-G[j] >= Gmaxn2) Gmaxn2 = -G[j];
        if (grad_diff > 0) {
          const double quad = QD[in] + QD[j] - 2 * Q_in[j];
          const double obj_diff = ObjectiveDecrease(grad_diff, quad);
          if (obj_diff <= obj_diff_min) {
            Gmin_idx = j;
            obj_diff_min = obj_diff;
          }
        }
      }
    }
  }
  violation_ = std::max(Gmaxp + Gmaxp2, Gmaxn + Gmaxn2);
  if (std::max(Gmaxp + Gmaxp2, Gmaxn + Gmaxn2) < eps || Gmin_idx == -1) return 1;
  out_i = y[Gmin_idx] == +1 ? Gmaxp_idx : Gmaxn_idx;
  out_j = Gmin_idx;
  return 0;
}

bool Solver_NU::be_shrunk(int i, double Gmax1, double Gmax2, double Gmax3, double Gmax4) const {
  if (is_upper_bound(i)) {
    return y[i] == +1 ? -G[i] > Gmax1 : -G[i] > Gmax4;
  }
  if (is_lower_bound(i)) {
    return y[i] == +1 ? G[i] > Gmax2 : G[i] > Gmax3;
  }
  return false;
}

void Solver_NU::do_shrinking() {
  double Gmax1 = -INF;  // -G over y = +1 not at the upper bound
  double Gmax2 = -INF;  // G over y = +1 not at the lower bound
  double Gmax3 = -INF;  // G over y = -1 not at the lower bound
  double Gmax4 = -INF;  // -G over y = -1 not at the upper bound
  for (int i = 0; i < active_size; ++i) {
    if (!is_upper_bound(i)) {
      if (y[i] == +1) {
        if (-G[i] > Gmax1) Gmax1 = -G[i];
      } else if (-G[i] > Gmax4) {
        Gmax4 = -G[i];
      }
    }
    if (!is_lower_bound(i)) {
      if (y[i] == +1) {
        if (G[i] > Gmax2) Gmax2 = G[i];
      } else if (G[i] > Gmax3) {
        Gmax3 = G[i];
      }
    }
  }
  if (!unshrink && std::max(Gmax1 + Gmax2, Gmax3 + Gmax4) <= eps * 10) {
    unshrink = true;
    reconstruct_gradient();
    active_size = l;
  }
  for (int i = 0; i < active_size; ++i) {
    if (be_shrunk(i, Gmax1, Gmax2, Gmax3, Gmax4)) {
      --active_size;
      while (active_size > i) {
        if (!be_shrunk(active_size, Gmax1, Gmax2, Gmax3, Gmax4)) {
          swap_index(i, active_size, true);
          break;
        }
        --active_size;
      }
    }
  }
  Q->finish_swaps();  // the cache's columns follow the swaps at once
}

double Solver_NU::calculate_rho() {
  // r1 and r2 per sign, each with its own equality constraint.
  int nr_free1 = 0, nr_free2 = 0;
  double ub1 = INF, ub2 = INF, lb1 = -INF, lb2 = -INF;
  double sum_free1 = 0, sum_free2 = 0;
  for (int i = 0; i < active_size; ++i) {
    if (y[i] == +1) {
      if (is_upper_bound(i)) {
        lb1 = std::max(lb1, G[i]);
      } else if (is_lower_bound(i)) {
        ub1 = std::min(ub1, G[i]);
      } else {
        ++nr_free1;
        sum_free1 += G[i];
      }
    } else {
      if (is_upper_bound(i)) {
        lb2 = std::max(lb2, G[i]);
      } else if (is_lower_bound(i)) {
        ub2 = std::min(ub2, G[i]);
      } else {
        ++nr_free2;
        sum_free2 += G[i];
      }
    }
  }
  const double r1 = nr_free1 > 0 ? sum_free1 / nr_free1 : (ub1 + lb1) / 2;
  const double r2 = nr_free2 > 0 ? sum_free2 / nr_free2 : (ub2 + lb2) / 2;
  si_->r = (r1 + r2) / 2;
  return (r1 - r2) / 2;
}

}  // namespace varnik
