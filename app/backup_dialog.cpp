#include "app/backup_dialog.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

#include "app/about_dialog.h"
#include "app/dialog_units.h"
#include "app/icons.h"
#include "app/resource_ids.h"
#include "app/run_clock.h"
#include "app/settings_dialog.h"
#include "backup/backup_run.h"
#include "config/load_settings.h"
#include "config/process_values.h"
#include "config/string_table.h"
#include "monitor/disk_watchdog_thread.h"
#include "monitor/scheduler_thread.h"
#include "platform/odbc.h"

namespace qz {
namespace {

constexpr const char* kFrameCaption = "Backup files from servers";

QString Text(int id) {
  return QString::fromStdString(LoadString(id));
}

}  // namespace

BackupDialog::ThreadStarters BackupDialog::DefaultThreadStarters() {
  return {StartSchedulerThread, StartDiskWatchdogThread};
}

BackupDialog::BackupDialog(QWidget* parent, ThreadStarters starters)
    : QDialog(parent), windowIcon_(LoadIcon(IDI_MAIN)), starters_(std::move(starters)) {
  setFont(DialogFont());
  setWindowTitle("Corvane Backup-Tool");
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  CreateControls();
}

BackupDialog::~BackupDialog() {
  AutoBackupTarget* self = this;
  MainWindowHandle.compare_exchange_strong(self, nullptr);
}

void BackupDialog::CreateControls() {
  DialogUnits du(font());
  setFixedSize(du.Size(502, 300));

  frame_ = new QGroupBox(kFrameCaption, this);
  frame_->setObjectName("frame");
  frame_->setGeometry(du.Rect(7, 7, 488, 262));

  resultList_ = new QTreeWidget(this);
  resultList_->setObjectName("IDC_RESULT_LIST");
  resultList_->setGeometry(du.Rect(28, 25, 445, 213));
  resultList_->setRootIsDecorated(false);
  resultList_->setSortingEnabled(false);
  resultList_->header()->setSectionsClickable(false);
  resultList_->setHeaderHidden(true);
  resultList_->setColumnCount(0);

  auto* backupNow = new QPushButton("Backup now", this);
  backupNow->setObjectName("IDC_BACKUP_NOW");
  backupNow->setGeometry(du.Rect(219, 249, 63, 14));
  connect(backupNow, &QPushButton::clicked, this, [this] { RunBackup(); });

  auto* settings = new QPushButton("Settings", this);
  settings->setObjectName("IDC_SETTINGS");
  settings->setGeometry(du.Rect(7, 279, 50, 14));
  connect(settings, &QPushButton::clicked, this, [this] { OnSettings(); });

  auto* exit = new QPushButton("Exit", this);
  exit->setObjectName("IDOK");
  exit->setGeometry(du.Rect(225, 279, 50, 14));
  // The other two stay auto-default: Enter presses the focused button, Exit everywhere else.
  exit->setDefault(true);
  connect(exit, &QPushButton::clicked, this, &QDialog::accept);
}

void BackupDialog::OnInitDialog() {
  setWindowIcon(windowIcon_);
  if (!LoadSettings()) {
    ShowCreateDirFailed();
    return;
  }
  SetUpResultList();
  MainWindowHandle = this;
  if (starters_.scheduler) starters_.scheduler();
  if (HardDiskWatchDogActive == 1 && starters_.watchdog) starters_.watchdog();
}

bool BackupDialog::LoadSettings() {
  settingsLoaded_ = qz::LoadSettings(backupSettings_);
  startDownloadPath_ = backupSettings_.DownloadPath;
  return settingsLoaded_;
}

void BackupDialog::ShowCreateDirFailed() {
  ShowError(FormatString(IDS_CREATE_DIR_FAILED, startDownloadPath_));
}

// A download path changed in Settings is tested and created only at the next start.
void BackupDialog::RefuseRunWithoutDownloadDirectory() {
  if (backupSettings_.DownloadPath == startDownloadPath_) return ShowCreateDirFailed();
  ShowError(FormatString(IDS_CREATE_DIR_FAILED, startDownloadPath_) +
            "\nRestart the tool to use the new download path " + backupSettings_.DownloadPath +
            ".");
}

void BackupDialog::ShowError(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, Text(IDS_ERROR), QString::fromStdString(text),
                  QMessageBox::Ok, this);
  box.exec();
}

void BackupDialog::SetUpResultList() {
  resultList_->setColumnCount(3);
  resultList_->setHeaderLabels(
      {Text(IDS_COL_SERVER), Text(IDS_COL_FILENAME), Text(IDS_COL_STATUS)});
  resultList_->setColumnWidth(0, 140);
  resultList_->setColumnWidth(1, 350);
  resultList_->setColumnWidth(2, 150);
  // The list's free width stays free, as in the template, rather than widening the last column.
  resultList_->header()->setStretchLastSection(false);
  resultList_->setIconSize(QSize(13, 13));
  resultList_->setHeaderHidden(false);
}

void BackupDialog::RunBackup() {
  ExecuteRun(false);
}

int BackupDialog::OnAutoBackup() {
  ExecuteRun(true);
  return 0;
}

void BackupDialog::ExecuteRun(bool automatic) {
  if (!settingsLoaded_) {
    // Without its download directory a run would fetch into whatever the working directory is.
    RefuseRunWithoutDownloadDirectory();
    return;
  }
  std::optional<std::string> dataLayerError;
  RunSummary summary;
  running_ = true;
  {
    WindowRunClock clock;
    try {
      if (automatic)
        qz::OnAutoBackup(backupSettings_, *this, clock, this);
      else
        summary = qz::RunBackup(backupSettings_, *this, clock, this);
    } catch (const platform::OdbcError& error) {
      dataLayerError = error.what();
    }
  }
  running_ = false;
  // The operator who pressed "Backup now" learns why nothing happened; an automatic run's refusal
  // went to standard error and must not hold the scheduler with a box.
  if (!summary.refusal.empty()) ShowError(summary.refusal);
  if (dataLayerError) ShowDataLayerError(*dataLayerError);
  RunPendingAutoBackups();
}

// The run returns while the box is shown: the scheduler waits for the run, never for a click. One
// box at a time; an error while it is shown is in the log only.
void BackupDialog::ShowDataLayerError(const std::string& text) {
  if (dataLayerErrorBox_ && dataLayerErrorBox_->isVisible()) return;
  auto* box = new QMessageBox(QMessageBox::Warning, "qzbackup", QString::fromStdString(text),
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  dataLayerErrorBox_ = box;
  box->open();
}

void BackupDialog::OnSettings() {
  LoadRemainingSettingsOnce();
  SettingsDialog dialog(this);
  dialog.WebDocDir = backupSettings_.WebDocDir;
  dialog.DownloadPath = backupSettings_.DownloadPath;
  dialog.UseDSN = backupSettings_.UseDSN;
  dialog.GetDataFromTable = backupSettings_.GetDataFromTable;
  dialog.StartCommandAfterBackup = backupSettings_.StartCommandAfterBackup;
  dialog.AutoStartOnDay = AutoStartOnDay;
  dialog.AutoStartOnHour = AutoStartOnHour;
  // These three take effect at the next start, so the dialog shows what that start will load: a
  // second OK must not write the loaded values back over a change already confirmed.
  BackupSettings nextStart = backupSettings_;
  ReadSettingsForNextStart(nextStart);
  dialog.StartAlarmOnError = nextStart.StartAlarmOnError;
  dialog.MoveToBackupPath = nextStart.MoveToBackupPath;
  dialog.BackupPath = nextStart.BackupPath;
  dialog.OnInitDialog();
  if (dialog.exec() != QDialog::Accepted) return;
  // The move, the backup path and the alarm number take effect at the next start.
  backupSettings_.WebDocDir = dialog.WebDocDir;
  backupSettings_.DownloadPath = ResolveDirectorySetting(dialog.DownloadPath);
  backupSettings_.UseDSN = dialog.UseDSN;
  backupSettings_.GetDataFromTable = dialog.GetDataFromTable;
  backupSettings_.StartCommandAfterBackup = dialog.StartCommandAfterBackup;
  AutoStartOnDay = dialog.AutoStartOnDay;
  AutoStartOnHour = dialog.AutoStartOnHour;
}

// Without its download directory the window loaded two keys only, and the dialog would write the
// others back empty. Once only: a second load would take the dialog's later edits into memory.
void BackupDialog::LoadRemainingSettingsOnce() {
  if (settingsLoaded_ || remainingSettingsLoaded_) return;
  qz::LoadRemainingSettings(backupSettings_);
  remainingSettingsLoaded_ = true;
}

bool BackupDialog::OnSysCommand(int commandId) {
  if ((commandId & 0xFFF0) != IDM_ABOUTBOX) return false;
  ShowAboutBox();
  return true;
}

void BackupDialog::ShowAboutBox() {
  AboutDialog about(this);
  about.exec();
}

void BackupDialog::contextMenuEvent(QContextMenuEvent* event) {
  QString text = Text(IDS_ABOUTBOX);
  if (text.isEmpty()) return;
  QMenu menu(this);
  QAction* about = menu.addAction(text);
  if (menu.exec(event->globalPos()) == about) OnSysCommand(IDM_ABOUTBOX);
}

void BackupDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) {
    OnSysCommand(IDM_ABOUTBOX);
    return;
  }
  QDialog::keyPressEvent(event);
}

void BackupDialog::AddLine(const ResultLine& line) {
  auto* item = new QTreeWidgetItem;
  item->setText(0, QString::fromStdString(line.server));
  item->setIcon(0, LoadIcon(line.image == kImageOk ? IDI_STATUS_OK : IDI_STATUS_FAILED));
  item->setText(1, QString::fromStdString(line.file));
  item->setText(2, QString::fromStdString(line.status));
  resultList_->insertTopLevelItem(0, item);
  // The list lays out new rows only when events run; the run's input blocker is in place.
  if (running_) QCoreApplication::processEvents();
}

void BackupDialog::RunStarted(std::size_t total) {
  RowDone(0, total, 0);
}

void BackupDialog::RowDone(std::size_t done, std::size_t total, std::size_t failed) {
  frame_->setTitle(QString("%1 (%2)").arg(
      kFrameCaption, QString::fromStdString(FormatProgress(done, total, failed))));
}

void BackupDialog::RunEnded(const RunSummary&) {
  frame_->setTitle(kFrameCaption);
}

int BackupDialog::CountLines() const {
  return resultList_->topLevelItemCount();
}

void BackupDialog::DeleteLine(int index) {
  delete resultList_->takeTopLevelItem(index);
}

void BackupDialog::SendAutoBackup() {
  std::promise<void> done;
  std::future<void> handled = done.get_future();
  QMetaObject::invokeMethod(
      this, [this, &done] { HandleAutoBackupRequest(&done); }, Qt::QueuedConnection);
  handled.wait();
}

void BackupDialog::HandleAutoBackupRequest(std::promise<void>* done) {
  pendingAutoBackups_.push_back(done);
  if (!running_) RunPendingAutoBackups();
}

void BackupDialog::RunPendingAutoBackups() {
  while (!pendingAutoBackups_.empty()) {
    std::promise<void>* done = pendingAutoBackups_.front();
    pendingAutoBackups_.erase(pendingAutoBackups_.begin());
    OnAutoBackup();
    done->set_value();
  }
}

}  // namespace qz
