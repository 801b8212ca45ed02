#include "app/backup_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "app/about_dialog.h"
#include "app/dialog_units.h"
#include "config/process_values.h"
#include "monitor/scheduler_thread.h"
#include "tests/app/qt_test_app.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/test_web_server.h"

namespace qz {
namespace {

using test::App;

// Closes the next modal dialog once it shows, and remembers what it said.
struct ModalCloser {
  QString title, text;
  int seen = 0;
  void Arm() {
    test::WhenModal([this](QWidget* modal) {
      ++seen;
      title = modal->windowTitle();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) text = box->text();
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->accept();
    });
  }
};

class BackupDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    test::ResetConfig();
    MainWindowHandle = nullptr;
  }
  BackupDialog::ThreadStarters CountingStarters() {
    return {[this] { ++schedulerStarts_; }, [this] { ++watchdogStarts_; }};
  }
  void WriteIni(const std::string& downloadPath, const std::string& rest = "") {
    test::WriteFile(test::IniFile(), "[Config]\nDownloadPath=" + downloadPath + "\n" + rest);
  }
  test::TempDir dir_;
  int schedulerStarts_ = 0, watchdogStarts_ = 0;
};

TEST_F(BackupDialogTest, StartUpShowsColumnsStoresTheHandleAndStartsTheScheduler) {
  WriteIni(dir_.str() + "/downloads");
  BackupDialog dialog(nullptr, CountingStarters());
  dialog.OnInitDialog();
  QTreeWidget* list = dialog.ResultListControl();
  ASSERT_EQ(list->columnCount(), 3);
  EXPECT_FALSE(list->isHeaderHidden());
  EXPECT_EQ(list->headerItem()->text(0), "Server");
  EXPECT_EQ(list->headerItem()->text(1), "Filename");
  EXPECT_EQ(list->headerItem()->text(2), "Status");
  EXPECT_EQ(list->columnWidth(0), 140);
  EXPECT_EQ(list->columnWidth(1), 350);
  EXPECT_EQ(list->columnWidth(2), 150);
  // Shown, the list keeps the template's widths: the last column is not stretched to its edge.
  dialog.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(list->columnWidth(2), 150);
  EXPECT_EQ(MainWindowHandle.load(), &dialog);
  EXPECT_EQ(schedulerStarts_, 1);
  EXPECT_EQ(watchdogStarts_, 0);
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "downloads"));
}

TEST_F(BackupDialogTest, WatchdogStartsOnlyWhenActiveIsExactlyOne) {
  for (int active : {1, 2}) {
    WriteIni(dir_.str(), "[WatchDog]\nHardDiskWatchDogActive=" + std::to_string(active) + "\n");
    watchdogStarts_ = 0;
    BackupDialog dialog(nullptr, CountingStarters());
    dialog.OnInitDialog();
    EXPECT_EQ(watchdogStarts_, active == 1 ? 1 : 0) << active;
  }
}

TEST_F(BackupDialogTest, TheWindowStartsTheRealThreadsByDefault) {
  BackupDialog::ThreadStarters starters = BackupDialog::DefaultThreadStarters();
  EXPECT_TRUE(starters.scheduler);
  EXPECT_TRUE(starters.watchdog);
}

TEST_F(BackupDialogTest, UncreatableDownloadDirectoryShowsOneMessageAndStartsNothing) {
  std::string path = dir_.str() + "/missing/downloads";
  WriteIni(path);
  ModalCloser closer;
  closer.Arm();
  BackupDialog dialog(nullptr, CountingStarters());
  dialog.OnInitDialog();
  EXPECT_EQ(closer.seen, 1);
  EXPECT_EQ(closer.title, "Error");
  EXPECT_EQ(closer.text,
            QString::fromStdString("Failed to create download directory " + path + " !"));
  EXPECT_TRUE(dialog.ResultListControl()->isHeaderHidden());
  EXPECT_EQ(MainWindowHandle.load(), nullptr);
  EXPECT_EQ(schedulerStarts_ + watchdogStarts_, 0);
}

TEST_F(BackupDialogTest, AboutCommandMasksTheLowFourBits) {
  BackupDialog dialog(nullptr, CountingStarters());
  for (int id : {0x10, 0x1F}) {
    ModalCloser closer;
    closer.Arm();
    EXPECT_TRUE(dialog.OnSysCommand(id));
    EXPECT_EQ(closer.title, QString::fromUtf8("Info über qzbackup"));
  }
  EXPECT_FALSE(dialog.OnSysCommand(0x20));
  EXPECT_FALSE(dialog.OnSysCommand(0xF060));
}

TEST_F(BackupDialogTest, EnterPressesExitAndClosesTheWindow) {
  WriteIni(dir_.str());
  BackupDialog dialog(nullptr, CountingStarters());
  dialog.OnInitDialog();
  QTimer::singleShot(0, [&] { QTest::keyClick(&dialog, Qt::Key_Return); });
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
}

TEST_F(BackupDialogTest, EnterPressesAFocusedButtonInsteadOfExit) {
  BackupDialog dialog(nullptr, CountingStarters());
  dialog.show();
  for (const char* name : {"IDC_BACKUP_NOW", "IDC_SETTINGS"}) {
    ModalCloser closer;  // the refusal without a download directory, or the settings dialog
    closer.Arm();
    auto* button = dialog.findChild<QPushButton*>(name);
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(closer.seen, 1) << name;
    EXPECT_TRUE(dialog.isVisible()) << name;
  }
  dialog.ResultListControl()->setFocus();
  QTest::keyClick(dialog.ResultListControl(), Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(BackupDialogTest, ControlsStandAtTheirTemplatePositions) {
  BackupDialog dialog(nullptr, CountingStarters());
  DialogUnits du(dialog.font());
  EXPECT_EQ(dialog.size(), du.Size(502, 300));
  EXPECT_EQ(dialog.findChild<QPushButton*>("IDC_BACKUP_NOW")->geometry(),
            du.Rect(219, 249, 63, 14));
  EXPECT_EQ(dialog.findChild<QPushButton*>("IDC_SETTINGS")->geometry(), du.Rect(7, 279, 50, 14));
  EXPECT_TRUE(dialog.findChild<QPushButton*>("IDOK")->isDefault());
  EXPECT_EQ(dialog.ResultListControl()->geometry(), du.Rect(28, 25, 445, 213));
  EXPECT_GE(du.baseX(), 4);
  EXPECT_GE(du.baseY(), 8);
}

TEST_F(BackupDialogTest, NewestResultLineIsOnTop) {
  WriteIni(dir_.str());
  BackupDialog dialog(nullptr, CountingStarters());
  dialog.OnInitDialog();
  dialog.AddLine({"srv1", "a.wav", "Backup of file successfull", kImageOk});
  dialog.AddLine({"srv2", "b.wav", "Failed to download file", kImageFailed});
  ASSERT_EQ(dialog.CountLines(), 2);
  EXPECT_EQ(dialog.ResultListControl()->topLevelItem(0)->text(1), "b.wav");
  dialog.DeleteLine(1);
  ASSERT_EQ(dialog.CountLines(), 1);
  EXPECT_EQ(dialog.ResultListControl()->topLevelItem(0)->text(0), "srv2");
}

// With the database down for nights on end, nobody at the window: every night's start still runs.
TEST_F(BackupDialogTest, DataLayerErrorBoxNeverHoldsTheLaterAutomaticStarts) {
  WriteIni(dir_.str(), "UseDSN=no_such_dsn\nAutoStartOnHour=2\nAutoStartOnDay=0\n");
  std::filesystem::create_directory(dir_ / "log");
  BackupDialog dialog(nullptr, CountingStarters());
  dialog.OnInitDialog();
  BaseDirectory = dir_.str() + "/";
  LogDirectory = dir_.str() + "/log/";
  // Two and a half simulated days on the scheduler's clock, from 00:30.
  test::FakeClock clock(test::LocalTimeOf(2026, 5, 4, 0, 30));
  const std::time_t end = test::LocalTimeOf(2026, 5, 6, 12, 30);
  std::atomic<bool> returned = false;
  std::thread scheduler([&] {
    RunScheduler(clock, [&] { return clock.Now() < end; });
    returned = true;
  });
  while (!returned) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  scheduler.join();
  QCoreApplication::processEvents();
  auto lines = test::ReadLines(dir_ / "log" / "qzbackup.log");
  auto count = [&](const std::string& text) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(", " + text) != std::string::npos;
    });
  };
  EXPECT_EQ(count("Started backup automatically"), 3);
  EXPECT_EQ(count("ERROR in database: "), 3);
  EXPECT_EQ(count("Backup run ended: 0 rows, 0 backed up, 0 failed"), 3);
  // One box owned by the window, still waiting for its click: the later errors did not stack.
  auto boxes = dialog.findChildren<QMessageBox*>();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_TRUE(boxes[0]->isVisible());
  EXPECT_NE(boxes[0]->text().indexOf("Data source name not found"), -1)
      << boxes[0]->text().toStdString();
  EXPECT_EQ(dialog.Frame()->title(), "Backup files from servers");
  // Once closed, the next error shows a box again.
  boxes[0]->accept();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  dialog.OnAutoBackup();
  boxes = dialog.findChildren<QMessageBox*>();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_TRUE(boxes[0]->isVisible());
}

TEST_F(BackupDialogTest, BackupNowRefusesWithoutItsDownloadDirectory) {
  const std::string path = dir_.str() + "/missing/downloads";
  WriteIni(path);
  ModalCloser closer;
  closer.Arm();
  BackupDialog dialog(nullptr, CountingStarters());
  dialog.OnInitDialog();
  closer.Arm();
  dialog.RunBackup();
  EXPECT_EQ(closer.seen, 2);
  EXPECT_EQ(closer.title, "Error");
  const std::string failed = "Failed to create download directory " + path + " !";
  EXPECT_EQ(closer.text, QString::fromStdString(failed));

  // A path fixed in Settings is created only at the next start, and the refusal says so.
  test::WhenModal([this](QWidget* settings) {
    settings->findChild<QLineEdit*>("IDC_DOWNLOADPATH")
        ->setText(QString::fromStdString(dir_.str()));
    qobject_cast<QDialog*>(settings)->accept();
  });
  dialog.OnSettings();
  closer.Arm();
  dialog.RunBackup();
  EXPECT_EQ(closer.text,
            QString::fromStdString(failed + "\nRestart the tool to use the new download path " +
                                   dir_.str() + "."));
  EXPECT_EQ(dialog.CountLines(), 0);
}

TEST_F(BackupDialogTest, BackupNowWithoutItsLockFolderIsRefusedWithAMessage) {
  WriteIni(dir_.str());
  BackupDialog dialog(nullptr, CountingStarters());
  dialog.OnInitDialog();
  BaseDirectory = dir_.str() + "/nobase/";
  LogDirectory = BaseDirectory + "log/";
  ModalCloser closer;
  closer.Arm();
  ::testing::internal::CaptureStderr();
  dialog.RunBackup();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(closer.title, "Error");
  EXPECT_TRUE(closer.text.startsWith("Backup run refused: the run lock ")) << said;
  EXPECT_EQ(said.rfind("qzbackup: " + closer.text.toStdString() + "\n", 0), 0u) << said;
}

TEST_F(BackupDialogTest, InputDuringARunIsDroppedNotReplayed) {
  auto source = test::MakeSqliteDataSource(dir_.path());
  test::TestWebServer web;
  setenv("no_proxy", "127.0.0.1", 1);
  for (const char* id : {"1", "2"}) {
    std::string file = std::string("rec") + id + ".wav";
    web.Publish(file, "audio");
    source->Insert(test::RecordingRow(id).Set("SERVERNAME", web.Host()).Set("FILE", file));
  }
  std::filesystem::create_directories(dir_ / "downloads");
  std::filesystem::create_directories(dir_ / "log");
  WriteIni(dir_.str() + "/downloads", "UseDSN=" + source->Dsn() + "\n");
  BackupDialog dialog(nullptr, CountingStarters());
  dialog.OnInitDialog();
  BaseDirectory = dir_.str() + "/";
  LogDirectory = dir_.str() + "/log/";
  dialog.show();
  int linesWhenClicked = -1;
  std::set<QString> captions;
  QTimer captionWatch;
  QObject::connect(&captionWatch, &QTimer::timeout,
                   [&] { captions.insert(dialog.Frame()->title()); });
  captionWatch.start(5);
  QTimer::singleShot(20, [&] {
    linesWhenClicked = dialog.CountLines();
    QTest::mouseClick(dialog.findChild<QPushButton*>("IDC_BACKUP_NOW"), Qt::LeftButton);
    QTest::keyClick(&dialog, Qt::Key_Escape);
  });
  dialog.RunBackup();
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(linesWhenClicked, 0) << "the click came after the run";
  EXPECT_TRUE(dialog.isVisible()) << "Esc given during the run closed the window";
  EXPECT_EQ(dialog.CountLines(), 2) << "the click started a second run";
  // The caption told how far the run was while it went on, and is itself again after it.
  EXPECT_TRUE(captions.count("Backup files from servers (1 of 2, 0 failed)"));
  EXPECT_EQ(dialog.Frame()->title(), "Backup files from servers");
}

TEST(AboutDialogTest, ShowsTheVersion) {
  App();
  AboutDialog about;
  EXPECT_EQ(about.findChild<QLabel*>("version")->text(), "qzbackup Version 2.0");
}

}  // namespace
}  // namespace qz
