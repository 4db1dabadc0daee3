#include "core/progress.h"

#include <cstdio>

namespace varnik {

Progress::Progress(bool enabled, std::string what, long long total, std::chrono::milliseconds every)
    : enabled_(enabled),
      what_(std::move(what)),
      total_(total),
      every_(every),
      start_(std::chrono::steady_clock::now()),
      next_(start_ + every) {}

Progress::~Progress() {
  if (enabled_ && printed_) Print(done_.load(), true);
}

void Progress::Advance(long long n) { Advance(n, nullptr); }

void Progress::Advance(long long n, const std::function<std::string()>& detail) {
  const long long done = done_ += n;
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_) return;
  std::unique_lock<std::mutex> lock(print_, std::try_to_lock);
  if (!lock.owns_lock() || now < next_) return;
  next_ = now + every_;
  Print(done, false, detail ? detail() : std::string());
}

void Progress::Print(long long done, bool last, const std::string& detail) {
  const std::string tail = detail.empty() ? "" : "; " + detail;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  if (last) {
    std::fprintf(stderr, "varnik: %s: %lld done in %.0f s\n", what_.c_str(), done, elapsed);
  } else if (total_ > 0 && done > 0) {
    const double left = elapsed * static_cast<double>(total_ - done) / static_cast<double>(done);
    std::fprintf(stderr, "varnik: %s: %lld of %lld (%.0f%%), %.0f s, about %.0f s left%s\n",
                 what_.c_str(), done, total_, 100.0 * static_cast<double>(done) / total_, elapsed,
                 left, tail.c_str());
  } else {
    std::fprintf(stderr, "varnik: %s: %lld so far, %.0f s%s\n", what_.c_str(), done, elapsed,
                 tail.c_str());
  }
  std::fflush(stderr);
  printed_ = true;
}

}  // namespace varnik
