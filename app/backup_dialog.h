#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "backup/result_list.h"
#include "backup/run_progress.h"
#include "config/backup_settings.h"
#include "monitor/main_window_handle.h"

class QGroupBox;
class QMessageBox;
class QTreeWidget;

namespace qz {

// The main window: the result list, "Backup now", "Settings" and "Exit".
class BackupDialog : public QDialog,
                     public ResultList,
                     public RunProgress,
                     public AutoBackupTarget {
  Q_OBJECT
 public:
  // How the window starts its two background threads; tests replace them.
  struct ThreadStarters {
    std::function<void()> scheduler;
    std::function<void()> watchdog;
  };
  static ThreadStarters DefaultThreadStarters();

  explicit BackupDialog(QWidget* parent = nullptr,
                        ThreadStarters starters = DefaultThreadStarters());
  ~BackupDialog() override;

  // The window's initialisation: settings, list columns and images, the handle, the threads.
  void OnInitDialog();
  bool LoadSettings();
  void RunBackup();
  int OnAutoBackup();
  void OnSettings();
  // A system-menu command; true when it was the About command.
  bool OnSysCommand(int commandId);

  // ResultList
  void AddLine(const ResultLine& line) override;
  int CountLines() const override;
  void DeleteLine(int index) override;

  // RunProgress: the frame's caption tells how far a run is, and is restored after it.
  void RunStarted(std::size_t total) override;
  void RowDone(std::size_t done, std::size_t total, std::size_t failed) override;
  void RunEnded(const RunSummary& summary) override;

  // AutoBackupTarget: called by the scheduler thread.
  void SendAutoBackup() override;

  BackupSettings& Settings() { return backupSettings_; }
  bool SettingsLoaded() const { return settingsLoaded_; }
  QTreeWidget* ResultListControl() const { return resultList_; }
  QGroupBox* Frame() const { return frame_; }

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateControls();
  void SetUpResultList();
  void ShowCreateDirFailed();
  void RefuseRunWithoutDownloadDirectory();
  void ShowError(const std::string& text);
  void ShowAboutBox();
  void LoadRemainingSettingsOnce();
  // Runs on the main thread: at once when idle, or after the run that is going on.
  void HandleAutoBackupRequest(std::promise<void>* done);
  void RunPendingAutoBackups();
  void ExecuteRun(bool automatic);
  void ShowDataLayerError(const std::string& text);

  BackupSettings backupSettings_;
  // The download path loaded at start, which the start tested and created.
  std::string startDownloadPath_;
  QGroupBox* frame_ = nullptr;
  QTreeWidget* resultList_ = nullptr;
  QIcon windowIcon_;
  ThreadStarters starters_;
  bool settingsLoaded_ = false;
  bool remainingSettingsLoaded_ = false;
  bool running_ = false;
  std::vector<std::promise<void>*> pendingAutoBackups_;
  // The data-layer error box while it is shown; cleared when it closes.
  QPointer<QMessageBox> dataLayerErrorBox_;
};

}  // namespace qz
