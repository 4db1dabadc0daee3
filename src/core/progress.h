// Progress of long work on standard error: a line every few seconds with
// the work done and, when the whole is known, an estimate of the time left.
// Nothing is printed unless enabled (--progress, or standard error is a
// terminal); reports and output files never change.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>

namespace varnik {

class Progress {
 public:
  // total 0: the amount of work is not known beforehand. A line at most
  // every `every`.
  Progress(bool enabled, std::string what, long long total,
           std::chrono::milliseconds every = std::chrono::seconds(3));
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // n more pieces done (from any thread).
  void Advance(long long n = 1);
  // The same; a line that is due also tells detail() (where the work
  // stands), which is asked for only then.
  void Advance(long long n, const std::function<std::string()>& detail);
  // Whether a line was printed (the work was long enough to be followed).
  bool printed() const { return printed_; }

 private:
  void Print(long long done, bool last, const std::string& detail = "");

  bool enabled_;
  std::string what_;
  long long total_;
  std::chrono::milliseconds every_;
  std::atomic<long long> done_{0};
  std::chrono::steady_clock::time_point start_, next_;
  std::mutex print_;
  std::atomic<bool> printed_{false};
};

}  // namespace varnik
