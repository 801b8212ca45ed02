// Adds the time a scope takes to a running total, for the run's account of where its time goes.
#pragma once

#include <chrono>

namespace qz::platform {

class ScopeTimer {
 public:
  explicit ScopeTimer(std::chrono::nanoseconds& total)
      : total_(total), start_(std::chrono::steady_clock::now()) {}
  ~ScopeTimer() { total_ += std::chrono::steady_clock::now() - start_; }
  ScopeTimer(const ScopeTimer&) = delete;
  ScopeTimer& operator=(const ScopeTimer&) = delete;

 private:
  std::chrono::nanoseconds& total_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace qz::platform
