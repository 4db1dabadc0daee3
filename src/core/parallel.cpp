#include "core/parallel.h"

#include <sched.h>
#include <sys/mman.h>

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

}  // namespace varnik
