// The clock and the pause, injected wherever the logic waits or reads the time, so tests can step
// simulated time instead of sleeping.
#pragma once

#include <chrono>
#include <ctime>

namespace qz::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::time_t Now() = 0;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  // Called between the polls of a long wait, so a window can keep answering while the main
  // thread waits for a child process.
  virtual void KeepAlive() {}
};

// The real clock and a real sleep.
Clock& SystemClock();

// Local broken-down time of `t`.
std::tm LocalTime(std::time_t t);

}  // namespace qz::platform
