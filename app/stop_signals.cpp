#include "app/stop_signals.h"

#include <pthread.h>

#include <thread>

#include "backup/backup_run.h"
#include "transfer/download_file.h"

namespace qz {

sigset_t BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

void WatchStopSignals(const sigset_t& stopSignals, std::function<void(int)> onFirst) {
  std::thread([stopSignals, onFirst = std::move(onFirst)] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    onFirst(signal);
    StopRequested = true;
    sigwait(&stopSignals, &signal);
    CancelDownloads = true;
    // Later ones are taken here too and change nothing.
    for (;;) sigwait(&stopSignals, &signal);
  }).detach();
}

}  // namespace qz
