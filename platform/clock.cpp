#include "platform/clock.h"

#include <thread>

namespace qz::platform {
namespace {

class RealClock : public Clock {
 public:
  std::time_t Now() override { return std::time(nullptr); }
  void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
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
