// A progress bar on stderr for long exports.
#pragma once

#include <chrono>

namespace olmts {

// Drawn only when stderr is a terminal and only once an export has run long
// enough to wait for; a count of scans when the total is not known (total <= 0).
class Progress {
 public:
  explicit Progress(long long total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void Update(long long done);

 private:
  using Clock = std::chrono::steady_clock;
  long long total_;
  bool enabled_;
  bool drawn_ = false;
  Clock::time_point start_, last_;
};

}  // namespace olmts
