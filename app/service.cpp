#include "app/service.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <future>
#include <mutex>

#include "app/service_status.h"
#include "app/stop_signals.h"
#include "app/stream_result_list.h"
#include "app/systemd_watchdog.h"
#include "backup/backup_run.h"
#include "config/load_settings.h"
#include "config/process_values.h"
#include "config/string_table.h"
#include "monitor/alarm.h"
#include "monitor/auto_start_text.h"
#include "monitor/disk_watchdog_thread.h"
#include "monitor/main_window_handle.h"
#include "monitor/scheduler_thread.h"
#include "platform/control_bytes.h"
#include "platform/odbc.h"
#include "platform/service_notify.h"

namespace qz {
namespace {

// Takes the scheduler's automatic starts to the main thread, one at a time.
class ServiceLoop : public AutoBackupTarget {
 public:
  explicit ServiceLoop(const BackupSettings& settings) : settings_(settings) {}

  void SendAutoBackup() override {
    std::promise<void> done;
    std::future<void> handled = done.get_future();
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(&done);
    }
    wake_.notify_all();
    handled.wait();
  }

  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
  }

  // Returns when a stop has been requested and no run is going on. Waiting, it pings systemd's
  // watchdog; a run pings from its clock.
  void Run() {
    for (;;) {
      std::promise<void>* request;
      {
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, pinger_.WaitBetweenPings(),
                               [this] { return stopping_ || !requests_.empty(); }))
          pinger_.PingIfDue();
        if (stopping_) return;
        request = requests_.front();
        requests_.pop_front();
      }
      RunAutomatically();
      request->set_value();
    }
  }

 private:
  void RunAutomatically() {
    StreamResultList list(stdout);
    ServiceRunClock clock(pinger_);
    platform::NotifyStatus("Backing up");
    try {
      OnAutoBackup(settings_, list, clock, &status_, DataLayerErrorAlarm::kStart);
    } catch (const platform::OdbcError& error) {
      std::fprintf(stderr, "%s\n", platform::EscapeControlBytes(error.what()).c_str());
    }
    // The run's last word, its summary, stays the status until the next run.
  }

  const BackupSettings& settings_;
  WatchdogPinger pinger_;
  // Tells the service manager how far an automatic run is.
  ServiceStatusProgress status_{[](const std::string& text) { platform::NotifyStatus(text); }};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::promise<void>*> requests_;
  bool stopping_ = false;
};

}  // namespace

int RunService() {
  sigset_t stopSignals = BlockStopSignals();
  static BackupSettings settings;
  if (!LoadSettings(settings)) {
    std::fprintf(
        stderr, "%s\n",
        platform::EscapeControlBytes(FormatString(IDS_CREATE_DIR_FAILED, settings.DownloadPath))
            .c_str());
    return 2;
  }
  static ServiceLoop loop(settings);
  WatchStopSignals(stopSignals, [](int) { loop.Stop(); });
  MainWindowHandle = &loop;
  StartSchedulerThread();
  if (HardDiskWatchDogActive == 1) StartDiskWatchdogThread();
  platform::NotifyStatus(IdleStatusText());
  platform::NotifyReady();
  loop.Run();
  MainWindowHandle = nullptr;
  WaitForAlarmPrograms();
  return 0;
}

}  // namespace qz
