// While a run blocks the main thread the window keeps painting and answering the desktop's
// liveness checks, but takes no input: input given during a run is dropped, not replayed after it.
#pragma once

#include <QObject>

#include "platform/clock.h"

namespace qz {

class InputBlocker : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// The run's clock in the window: its pauses run the event loop, with input blocked.
class WindowRunClock : public platform::Clock {
 public:
  WindowRunClock();
  ~WindowRunClock() override;
  std::time_t Now() override;
  void Sleep(std::chrono::milliseconds duration) override;
  void KeepAlive() override;

 private:
  InputBlocker blocker_;
};

}  // namespace qz
