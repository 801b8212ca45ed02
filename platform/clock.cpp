#include "platform/clock.h"

#include <sys/prctl.h>

#include <thread>

namespace qz::platform {
namespace {

class RealClock : public Clock {
 public:
  std::time_t Now() override { return std::time(nullptr); }
  // The kernel may end a sleep late by the thread's timer slack (50 us unless set); a pause
  // every row makes is ended as close to its length as the kernel allows.
  void Sleep(std::chrono::milliseconds duration) override {
    prctl(PR_SET_TIMERSLACK, 1UL);
    std::this_thread::sleep_for(duration);
  }
};

}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

}  // namespace qz::platform
