// Work spread over threads with results that do not depend on their number:
// each task writes only its own results, which the caller gathers in task
// order afterwards. A failure in a task is rethrown after every thread has
// finished, the one of the lowest task first.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace varnik {

// The number of cores this process may use (at least 1).
int AvailableCores();

// Says on standard error, once per process, that only `started` of `wanted`
// threads could be started.
void NoteFewerThreads(int started, int wanted);

// Address space held while threads are started: when the system refuses a
// thread (the address-space limit reached by their stacks, say), it is given
// back, so that the tasks of the threads that did start still find room for
// their own memory.
class AddressReserve {
 public:
  AddressReserve();
  ~AddressReserve() { Release(); }
  AddressReserve(const AddressReserve&) = delete;
  AddressReserve& operator=(const AddressReserve&) = delete;
  void Release();

 private:
  void* block_ = nullptr;
};

// Starts threads running work(w) for w = 1 .. threads - 1 into pool (the
// caller is thread 0). When the system will not start more, the ones started
// share the work (the results are the same for any number): said once.
template <typename Work>
void StartThreads(int threads, std::vector<std::thread>& pool, Work work) {
  pool.reserve(static_cast<size_t>(std::max(threads - 1, 0)));
  AddressReserve reserve;
  for (int w = 1; w < threads; ++w) {
    try {
      pool.emplace_back(work, w);
    } catch (const std::system_error&) {
      reserve.Release();
      NoteFewerThreads(static_cast<int>(pool.size()) + 1, threads);
      break;
    }
  }
}

// Runs task(i, worker) for every i in [0, n) on up to `threads` threads
// (worker in [0, threads) names the thread, for per-thread scratch space).
// Tasks are taken in increasing order by whichever thread is free.
template <typename Task>
void ParallelFor(int n, int threads, Task task) {
  threads = std::max(1, std::min(threads, n));
  if (threads == 1) {
    for (int i = 0; i < n; ++i) task(i, 0);
    return;
  }
  std::atomic<int> next{0};
  std::vector<std::exception_ptr> failure(static_cast<size_t>(n));
  auto work = [&](int worker) {
    for (int i = next++; i < n; i = next++) {
      try {
        task(i, worker);
      } catch (...) {
        failure[i] = std::current_exception();
      }
    }
  };
  std::vector<std::thread> pool;
  StartThreads(threads, pool, work);
  work(0);
  for (std::thread& t : pool) t.join();
  for (const std::exception_ptr& e : failure) {
    if (e) std::rethrow_exception(e);
  }
}

// Threads started once and given work many times (the steps of a solver):
// Run costs a wake-up, not a thread start. The caller's thread takes part.
// Threads the system will not start leave their share to the others.
class ThreadTeam {
 public:
  explicit ThreadTeam(int threads);
  ~ThreadTeam();
  ThreadTeam(const ThreadTeam&) = delete;
  ThreadTeam& operator=(const ThreadTeam&) = delete;
  int size() const { return static_cast<int>(workers_.size()) + 1; }
  // task(p) for every p in [0, parts), spread over the team; returns when all
  // are done. A failure is rethrown after all are done, the lowest p's first.
  void Run(int parts, const std::function<void(int)>& task);

 private:
  void Work();
  void TakeParts();
  std::vector<std::thread> workers_;
  // Between runs close together the threads wait by looking (a wake-up
  // through the system would cost more than short work), then sleep.
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::atomic<long long> generation_{0};
  std::atomic<bool> stop_{false};
  const std::function<void(int)>* task_ = nullptr;
  int parts_ = 0;
  std::atomic<int> next_{0};
  std::atomic<int> busy_{0};  // workers still in the current generation
  std::vector<std::exception_ptr> failure_;
  // Looking costs a core: only when every thread has one of its own.
  bool look_ = true;
};

// The range [0, n) cut into `parts` contiguous pieces of nearly equal size:
// piece p is [Begin(p), Begin(p + 1)).
inline int PieceBegin(int n, int parts, int p) {
  return static_cast<int>(static_cast<long long>(n) * p / parts);
}

// Runs piece(begin, end) over [0, n) cut into contiguous pieces of at least
// `grain` items, one piece per thread (for loops whose items need scratch
// space: one scratch per piece).
template <typename Piece>
void ParallelPieces(int n, int threads, int grain, Piece piece) {
  const int parts = std::max(1, std::min(threads, n / std::max(grain, 1)));
  ParallelFor(parts, parts,
              [&](int p, int) { piece(PieceBegin(n, parts, p), PieceBegin(n, parts, p + 1)); });
}

}  // namespace varnik
