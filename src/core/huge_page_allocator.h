// An allocator for large, long-lived blocks (window sets, data matrices): a
// block of several megabytes is aligned to 2 MiB and offered to the kernel for
// transparent huge pages, which cuts the page faults of filling it by a factor
// of 512. Small blocks are allocated as usual.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <new>

namespace varnik {

template <typename T>
class HugePageAllocator {
 public:
  using value_type = T;
  HugePageAllocator() = default;
  template <typename U>
  HugePageAllocator(const HugePageAllocator<U>&) {}

  T* allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kThreshold) return static_cast<T*>(::operator new(bytes));
    void* p = ::operator new(bytes, std::align_val_t(kHugePage));
    madvise(p, bytes & ~(kHugePage - 1), MADV_HUGEPAGE);  // a hint; failure is harmless
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) {
    if (n * sizeof(T) < kThreshold) {
      ::operator delete(p);
    } else {
      ::operator delete(p, std::align_val_t(kHugePage));
    }
  }

  template <typename U>
  bool operator==(const HugePageAllocator<U>&) const {
    return true;
  }

 private:
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;
  static constexpr std::size_t kThreshold = std::size_t{4} << 20;
};

}  // namespace varnik
