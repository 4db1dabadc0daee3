#include "core/parallel.h"

#include <sched.h>
#include <sys/mman.h>

#include <chrono>
#include <string>

#include "core/error.h"

namespace varnik {

int AvailableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

namespace {

// Room for the tasks' scratch and the allocator's per-thread arenas.
constexpr size_t kReservedBytes = size_t{512} << 20;

}  // namespace

AddressReserve::AddressReserve() {
  void* block =
      mmap(nullptr, kReservedBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  block_ = block == MAP_FAILED ? nullptr : block;
}

void AddressReserve::Release() {
  if (block_ != nullptr) munmap(block_, kReservedBytes);
  block_ = nullptr;
}

void NoteFewerThreads(int started, int wanted) {
  // A note, not a result: said once however often it happens.
  static std::atomic<bool> said{false};
  if (said.exchange(true)) return;
  Warn("only " + std::to_string(started) + " of " + std::to_string(wanted) +
       " threads could be started; the work goes on with them (same results)");
}

ThreadTeam::ThreadTeam(int threads) : look_(threads <= AvailableCores()) {
  StartThreads(threads, workers_, [this](int) { Work(); });
}

ThreadTeam::~ThreadTeam() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

namespace {

// How long a thread looks for the next run before it sleeps.
constexpr auto kLook = std::chrono::microseconds(200);

// Looks until ready() or the time is up; true when ready.
template <typename Ready>
bool LookFor(Ready ready, bool look) {
  if (!look) return ready();
  const auto until = std::chrono::steady_clock::now() + kLook;
  for (int n = 0;; ++n) {
    if (ready()) return true;
    if ((n & 63) == 63 && std::chrono::steady_clock::now() > until) return false;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
}

}  // namespace

void ThreadTeam::TakeParts() {
  for (int p = next_++; p < parts_; p = next_++) {
    try {
      (*task_)(p);
    } catch (...) {
      failure_[static_cast<size_t>(p)] = std::current_exception();
    }
  }
}

void ThreadTeam::Work() {
  long long seen = 0;
  while (true) {
    auto fresh = [&] { return stop_.load() || generation_.load() != seen; };
    if (!LookFor(fresh, look_)) {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, fresh);
    }
    if (stop_) return;
    seen = generation_.load();
    TakeParts();
    if (busy_.fetch_sub(1) == 1) {
      std::lock_guard<std::mutex> lock(mutex_);
      done_.notify_one();
    }
  }
}

void ThreadTeam::Run(int parts, const std::function<void(int)>& task) {
  if (parts <= 0) return;
  failure_.assign(static_cast<size_t>(parts), nullptr);
  if (workers_.empty() || parts == 1) {
    for (int p = 0; p < parts; ++p) task(p);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = &task;
    parts_ = parts;
    next_ = 0;
    busy_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  TakeParts();
  auto finished = [&] { return busy_.load() == 0; };
  if (!LookFor(finished, look_)) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, finished);
  }
  for (const std::exception_ptr& e : failure_) {
    if (e) std::rethrow_exception(e);
  }
}

}  // namespace varnik
