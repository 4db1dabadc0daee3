// The windows of one class. Every window is a terminated string of exactly L
// letters, L being the run's current window length (kept by the caller). The
// windows live in one block, each in a slot of the same size, so that whole
// sets are scanned without chasing pointers; window pointers stay valid until
// the set is resized.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "core/huge_page_allocator.h"

namespace varnik {

class SequenceSet {
 public:
  SequenceSet() = default;
  // count empty windows, each able to hold up to capacity letters.
  SequenceSet(int count, int capacity)
      : stride_(static_cast<size_t>(capacity) + 1),
        count_(count),
        data_(static_cast<size_t>(count) * stride_, '\0') {}

  int size() const { return count_; }
  bool empty() const { return count_ == 0; }
  int capacity() const { return static_cast<int>(stride_ - 1); }

  char* operator[](int i) { return data_.data() + static_cast<size_t>(i) * stride_; }
  const char* operator[](int i) const { return data_.data() + static_cast<size_t>(i) * stride_; }

  // Sets window i to text (at most capacity letters).
  void Assign(int i, std::string_view text) {
    char* w = (*this)[i];
    if (!text.empty()) std::memcpy(w, text.data(), text.size());
    w[text.size()] = '\0';
  }
  // Appends a window (at most capacity letters).
  void Append(std::string_view text) {
    data_.resize(data_.size() + stride_, '\0');
    ++count_;
    Assign(count_ - 1, text);
  }
  // Keeps the first count windows (or adds empty ones).
  void Resize(int count) {
    data_.resize(static_cast<size_t>(count) * stride_, '\0');
    count_ = count;
  }
  void Reserve(int count) { data_.reserve(static_cast<size_t>(count) * stride_); }
  void Swap(int i, int j) {
    if (i != j) std::swap_ranges((*this)[i], (*this)[i] + stride_, (*this)[j]);
  }

  // Pointers to every window, in order.
  std::vector<const char*> Pointers() const {
    std::vector<const char*> p(static_cast<size_t>(count_));
    for (int i = 0; i < count_; ++i) p[i] = (*this)[i];
    return p;
  }

 private:
  size_t stride_ = 1;
  int count_ = 0;
  std::vector<char, HugePageAllocator<char>> data_;
};

}  // namespace varnik
