#include "app/settings_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>

#include "app/backup_dialog.h"
#include "app/dialog_units.h"
#include "config/backup_settings.h"
#include "config/process_values.h"
#include "platform/profile.h"
#include "tests/app/qt_test_app.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

using test::App;
using test::WhenModal;

template <class T>
T* Control(QWidget* dialog, const char* name) {
  T* control = dialog->findChild<T*>(name);
  if (!control) ADD_FAILURE() << "no control " << name;
  return control;
}

QLineEdit* Edit(QWidget* dialog, const char* name) {
  return Control<QLineEdit>(dialog, name);
}
QCheckBox* Box(QWidget* dialog, const char* name) {
  return Control<QCheckBox>(dialog, name);
}
QComboBox* List(QWidget* dialog, const char* name) {
  return Control<QComboBox>(dialog, name);
}

std::string Config(const char* key) {
  return platform::GetPrivateProfileString("Config", key, "<absent>", kIniFile);
}

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetConfig(); }
  // A dialog filled as the main window would fill it, then initialised.
  void Open(int alarm, int move, int day = 1, int hour = 2) {
    dialog_.WebDocDir = "confwav";
    dialog_.DownloadPath = "/srv/download/";
    dialog_.UseDSN = "qz_data";
    dialog_.GetDataFromTable = "recording";
    dialog_.StartCommandAfterBackup = "/usr/bin/after --all";
    dialog_.AutoStartOnDay = day;
    dialog_.AutoStartOnHour = hour;
    dialog_.StartAlarmOnError = alarm;
    dialog_.MoveToBackupPath = move;
    dialog_.BackupPath = "/srv/backup/";
    dialog_.OnInitDialog();
  }
  QApplication& app_ = App();
  SettingsDialog dialog_;
};

TEST_F(SettingsDialogTest, AlarmBoxIsTickedFromTenOnAndUnlocksTheNumber) {
  for (int alarm : {0, 9, 10, 7099}) {
    SettingsDialog dialog;
    dialog.StartAlarmOnError = alarm;
    dialog.OnInitDialog();
    bool on = alarm >= 10;
    EXPECT_EQ(Box(&dialog, "IDC_ALARM_ON_ERROR")->isChecked(), on) << alarm;
    EXPECT_EQ(Edit(&dialog, "IDC_ALARM_NUMBER")->isEnabled(), on) << alarm;
    EXPECT_EQ(Edit(&dialog, "IDC_ALARM_NUMBER")->text(), QString::number(alarm));
  }
}

TEST_F(SettingsDialogTest, ClearingTheAlarmBoxKeepsTheNumberAndOkStoresIt) {
  Open(7099, 1);
  Box(&dialog_, "IDC_ALARM_ON_ERROR")->click();
  EXPECT_FALSE(Edit(&dialog_, "IDC_ALARM_NUMBER")->isEnabled());
  EXPECT_EQ(Edit(&dialog_, "IDC_ALARM_NUMBER")->text(), "7099");
  dialog_.accept();
  EXPECT_EQ(dialog_.result(), QDialog::Accepted);
  EXPECT_EQ(Config("StartAlarmOnError"), "7099");

  SettingsDialog reopened;
  reopened.StartAlarmOnError = 7099;
  reopened.OnInitDialog();
  EXPECT_TRUE(Box(&reopened, "IDC_ALARM_ON_ERROR")->isChecked());
}

TEST_F(SettingsDialogTest, TickingTheAlarmBoxUnlocksTheNumber) {
  Open(0, 0);
  Box(&dialog_, "IDC_ALARM_ON_ERROR")->click();
  EXPECT_TRUE(Edit(&dialog_, "IDC_ALARM_NUMBER")->isEnabled());
  Edit(&dialog_, "IDC_ALARM_NUMBER")->setText("7100");
  dialog_.accept();
  EXPECT_EQ(Config("StartAlarmOnError"), "7100");
}

TEST_F(SettingsDialogTest, MoveOffLocksTheBackupPathButOkStoresItsText) {
  Open(0, 0);
  QLineEdit* backupPath = Edit(&dialog_, "IDC_BACKUPPATH");
  EXPECT_FALSE(Box(&dialog_, "IDC_MOVE_FILES")->isChecked());
  EXPECT_FALSE(backupPath->isEnabled());
  EXPECT_EQ(backupPath->text(), "/srv/backup/");
  dialog_.accept();
  EXPECT_EQ(Config("MoveToBackupPath"), "0");
  EXPECT_EQ(Config("BackupPath"), "/srv/backup/");
}

TEST_F(SettingsDialogTest, MoveBoxSwitchesTheBackupPathAndStoresZeroOrOne) {
  Open(0, 1);
  EXPECT_TRUE(Edit(&dialog_, "IDC_BACKUPPATH")->isEnabled());
  Box(&dialog_, "IDC_MOVE_FILES")->click();
  EXPECT_FALSE(Edit(&dialog_, "IDC_BACKUPPATH")->isEnabled());
  Box(&dialog_, "IDC_MOVE_FILES")->click();
  EXPECT_TRUE(Edit(&dialog_, "IDC_BACKUPPATH")->isEnabled());

  // Any other non-zero value counts as on, and is stored as 1.
  SettingsDialog odd;
  odd.MoveToBackupPath = 5;
  odd.OnInitDialog();
  EXPECT_TRUE(Box(&odd, "IDC_MOVE_FILES")->isChecked());
  EXPECT_TRUE(Edit(&odd, "IDC_BACKUPPATH")->isEnabled());
  odd.accept();
  EXPECT_EQ(Config("MoveToBackupPath"), "1");
}

TEST_F(SettingsDialogTest, HourOrDayMatchingNoItemShowsNoSelectionAndStoresMinusOne) {
  for (auto [day, hour] : {std::pair{-1, -1}, std::pair{8, 24}, std::pair{-9, 100}}) {
    test::ResetConfig();
    SettingsDialog dialog;
    dialog.AutoStartOnDay = day;
    dialog.AutoStartOnHour = hour;
    dialog.OnInitDialog();
    EXPECT_EQ(List(&dialog, "IDC_AUTOSTART_DAY")->currentIndex(), -1) << day;
    EXPECT_EQ(List(&dialog, "IDC_AUTOSTART_HOUR")->currentIndex(), -1) << hour;
    EXPECT_TRUE(List(&dialog, "IDC_AUTOSTART_HOUR")->currentText().isEmpty());
    dialog.accept();
    EXPECT_EQ(Config("AutoStartOnDay"), "-1");
    EXPECT_EQ(Config("AutoStartOnHour"), "-1");
  }
}

TEST_F(SettingsDialogTest, ListItemStandsForItsValue) {
  Open(0, 0, 7, 23);
  QComboBox* day = List(&dialog_, "IDC_AUTOSTART_DAY");
  QComboBox* hour = List(&dialog_, "IDC_AUTOSTART_HOUR");
  EXPECT_EQ(day->currentText(), "Saturday");
  EXPECT_EQ(hour->currentText(), "23");
  day->setCurrentIndex(day->findText("Every day"));
  hour->setCurrentIndex(hour->findText("00"));
  dialog_.accept();
  EXPECT_EQ(Config("AutoStartOnDay"), "0");
  EXPECT_EQ(Config("AutoStartOnHour"), "0");
}

TEST_F(SettingsDialogTest, ListsHoldTheirItemsInOrderAndTakeNoTyping) {
  QComboBox* day = List(&dialog_, "IDC_AUTOSTART_DAY");
  QComboBox* hour = List(&dialog_, "IDC_AUTOSTART_HOUR");
  QStringList days;
  for (int i = 0; i < day->count(); ++i) days << day->itemText(i);
  EXPECT_EQ(days, QStringList({"Every day", "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday",
                               "Friday", "Saturday"}));
  ASSERT_EQ(hour->count(), 24);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(hour->itemText(i), QString::asprintf("%02d", i));
  EXPECT_FALSE(day->isEditable());
  EXPECT_FALSE(hour->isEditable());
}

TEST_F(SettingsDialogTest, OkWritesTheTenKeysInOrder) {
  Open(7099, 1, 3, 4);
  Edit(&dialog_, "IDC_TABLE")->setText("calls");
  dialog_.accept();
  EXPECT_EQ(test::ReadFile(test::IniFile()),
            "[Config]\n"
            "WebDocDir=confwav\n"
            "DownloadPath=/srv/download/\n"
            "UseDSN=qz_data\n"
            "GetDataFromTable=calls\n"
            "StartCommandAfterBackup=/usr/bin/after --all\n"
            "AutoStartOnDay=3\n"
            "AutoStartOnHour=4\n"
            "MoveToBackupPath=1\n"
            "BackupPath=/srv/backup/\n"
            "StartAlarmOnError=7099\n");
  EXPECT_EQ(dialog_.GetDataFromTable, "calls");
}

TEST_F(SettingsDialogTest, PastedLineBreaksBecomeBlanksAndEachKeyStaysOneLine) {
  Open(0, 1);
  QApplication::clipboard()->setText("x\r\n[WatchDog]\nStartAlarmOnError=0\r");
  const QString shown = "x  [WatchDog] StartAlarmOnError=0 ";
  for (const char* name : {"IDC_WEBDOCDIR", "IDC_DOWNLOADPATH", "IDC_USEDSN", "IDC_TABLE",
                           "IDC_START_COMMAND", "IDC_BACKUPPATH"}) {
    QLineEdit* edit = Edit(&dialog_, name);
    edit->selectAll();
    edit->paste();
    EXPECT_EQ(edit->text(), shown) << name;
  }
  Control<QPushButton>(&dialog_, "IDOK")->click();
  const std::string file = test::ReadFile(test::IniFile());
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 11) << file;  // [Config] and ten keys
  EXPECT_EQ(Config("StartCommandAfterBackup"), "x  [WatchDog] StartAlarmOnError=0");
}

TEST_F(SettingsDialogTest, EmptyAlarmNumberAsksForAnIntegerAndWritesNothing) {
  Open(7099, 0);
  dialog_.show();
  Edit(&dialog_, "IDC_ALARM_NUMBER")->clear();
  QString asked;
  WhenModal([&](QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) asked = box->text();
    qobject_cast<QDialog*>(modal)->accept();
  });
  dialog_.accept();
  EXPECT_EQ(asked, "Please enter an integer.");
  EXPECT_TRUE(dialog_.isVisible());
  EXPECT_FALSE(std::filesystem::exists(test::IniFile()));

  Edit(&dialog_, "IDC_ALARM_NUMBER")->setText("12");
  dialog_.accept();
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(Config("StartAlarmOnError"), "12");
}

TEST_F(SettingsDialogTest, AlarmNumberTakesDigitsOnly) {
  Open(10, 0);
  QLineEdit* number = Edit(&dialog_, "IDC_ALARM_NUMBER");
  number->clear();
  QTest::keyClicks(number, "7a-0 9+");
  EXPECT_EQ(number->text(), "709");
}

TEST_F(SettingsDialogTest, ControlsStandAtTheirTemplatePositions) {
  DialogUnits du(dialog_.font());
  EXPECT_EQ(dialog_.windowTitle(), "Settings");
  EXPECT_EQ(dialog_.size(), du.Size(308, 300));
  EXPECT_EQ(Edit(&dialog_, "IDC_WEBDOCDIR")->geometry(), du.Rect(138, 26, 100, 14));
  EXPECT_EQ(Edit(&dialog_, "IDC_ALARM_NUMBER")->geometry(), du.Rect(138, 243, 40, 14));
  QRect move = Box(&dialog_, "IDC_MOVE_FILES")->geometry();
  EXPECT_EQ(move.topLeft(), du.Rect(19, 97, 138, 15).topLeft());
  EXPECT_EQ(move.height(), du.Rect(19, 97, 138, 15).height());
  EXPECT_GE(move.width(), du.Rect(19, 97, 138, 15).width());
  // A box widened for its text still ends before the field beside it.
  EXPECT_LT(move.right(), Edit(&dialog_, "IDC_BACKUPPATH")->x());
  EXPECT_LT(Box(&dialog_, "IDC_ALARM_ON_ERROR")->geometry().right(),
            Edit(&dialog_, "IDC_ALARM_NUMBER")->x());
  QRect hour = List(&dialog_, "IDC_AUTOSTART_HOUR")->geometry();
  EXPECT_EQ(hour.topLeft(), du.Rect(138, 173, 37, 173).topLeft());
  EXPECT_EQ(hour.width(), du.Rect(138, 173, 37, 173).width());
  auto* ok = Control<QPushButton>(&dialog_, "IDOK");
  EXPECT_EQ(ok->geometry(), du.Rect(133, 279, 50, 14));
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(Control<QPushButton>(&dialog_, "IDCANCEL")->geometry(), du.Rect(251, 279, 50, 14));
}

// Every text must be readable whole in the box the template gives it, with the fallback font.
TEST_F(SettingsDialogTest, TextsFitTheirControls) {
  for (QLabel* label : dialog_.findChildren<QLabel*>()) {
    EXPECT_LE(label->heightForWidth(label->width()), label->height())
        << label->text().toStdString();
  }
  for (QCheckBox* box : dialog_.findChildren<QCheckBox*>()) {
    EXPECT_LE(box->sizeHint().width(), box->width()) << box->text().toStdString();
  }
  auto hint = dialog_.findChildren<QLabel*>();
  auto found = std::find_if(hint.begin(), hint.end(), [](QLabel* label) {
    return label->text().startsWith(
        "This is used to get files from client web-server. Do not enter the servername,\n");
  });
  EXPECT_NE(found, hint.end());
}

class SettingsCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    test::ResetConfig();
    MainWindowHandle = nullptr;
  }
  void WriteIni(const std::string& downloadPath) {
    test::WriteFile(test::IniFile(),
                    "[Config]\nDownloadPath=" + downloadPath +
                        "\nMoveToBackupPath=0\nBackupPath=/old/\nStartAlarmOnError=0\n"
                        "AutoStartOnDay=2\nAutoStartOnHour=3\n");
  }
  // The main window with its settings loaded and no background threads.
  std::unique_ptr<BackupDialog> OpenMainWindow() {
    auto window = std::make_unique<BackupDialog>(nullptr, BackupDialog::ThreadStarters{});
    window->OnInitDialog();
    return window;
  }
  test::TempDir dir_;
};

TEST_F(SettingsCommandTest, OkTakesTextsAndScheduleOverButMoveBackupPathAndAlarmWaitForRestart) {
  WriteIni(dir_.str() + "/");
  auto window = OpenMainWindow();
  WhenModal([](QWidget* settings) {
    Edit(settings, "IDC_USEDSN")->setText("other_dsn");
    List(settings, "IDC_AUTOSTART_HOUR")->setCurrentIndex(22);
    List(settings, "IDC_AUTOSTART_DAY")->setCurrentIndex(0);
    Box(settings, "IDC_MOVE_FILES")->click();
    Edit(settings, "IDC_BACKUPPATH")->setText("/new/");
    Box(settings, "IDC_ALARM_ON_ERROR")->click();
    Edit(settings, "IDC_ALARM_NUMBER")->setText("7100");
    Control<QPushButton>(settings, "IDOK")->click();
  });
  window->OnSettings();

  const BackupSettings& memory = window->Settings();
  EXPECT_EQ(memory.UseDSN, "other_dsn");
  EXPECT_EQ(AutoStartOnHour.load(), 22);
  EXPECT_EQ(AutoStartOnDay.load(), 0);
  EXPECT_EQ(memory.MoveToBackupPath, 0);
  EXPECT_EQ(memory.BackupPath, "/old/");
  EXPECT_EQ(memory.StartAlarmOnError, 0);
  EXPECT_EQ(Config("UseDSN"), "other_dsn");
  EXPECT_EQ(Config("AutoStartOnHour"), "22");
  EXPECT_EQ(Config("MoveToBackupPath"), "1");
  EXPECT_EQ(Config("BackupPath"), "/new/");
  EXPECT_EQ(Config("StartAlarmOnError"), "7100");

  // Reopened, the dialog shows the confirmed change, and one Enter on OK keeps it.
  bool shownMove = false;
  QString shownPath, shownAlarm;
  WhenModal([&](QWidget* settings) {
    shownMove = Box(settings, "IDC_MOVE_FILES")->isChecked();
    shownPath = Edit(settings, "IDC_BACKUPPATH")->text();
    shownAlarm = Edit(settings, "IDC_ALARM_NUMBER")->text();
    QTest::keyClick(settings, Qt::Key_Return);
  });
  window->OnSettings();
  EXPECT_TRUE(shownMove);
  EXPECT_EQ(shownPath, "/new/");
  EXPECT_EQ(shownAlarm, "7100");
  EXPECT_EQ(Config("MoveToBackupPath"), "1");
  EXPECT_EQ(Config("BackupPath"), "/new/");
  EXPECT_EQ(Config("StartAlarmOnError"), "7100");
  EXPECT_EQ(memory.BackupPath, "/old/");
}

TEST_F(SettingsCommandTest, TextsGoBackInTheBytesAndEncodingTheyCameIn) {
  WriteIni(dir_.str() + "/");
  platform::WritePrivateProfileString("Config", "WebDocDir",
                                      "Gespr\xe4"
                                      "che",
                                      kIniFile);
  platform::WritePrivateProfileString("Config", "UseDSN",
                                      "Gespr\xc3\xa4"
                                      "che",
                                      kIniFile);
  platform::WritePrivateProfileString("Config", "GetDataFromTable", "T\xe4", kIniFile);
  auto window = OpenMainWindow();
  WhenModal([](QWidget* settings) {
    EXPECT_EQ(Edit(settings, "IDC_WEBDOCDIR")->text(), QString::fromUtf8("Gespräche"));
    EXPECT_EQ(Edit(settings, "IDC_USEDSN")->text(), QString::fromUtf8("Gespräche"));
    QLineEdit* table = Edit(settings, "IDC_TABLE");
    table->setText(table->text() + QString::fromUtf8("ü"));
    Control<QPushButton>(settings, "IDOK")->click();
  });
  window->OnSettings();
  EXPECT_EQ(Config("WebDocDir"),
            "Gespr\xe4"
            "che");
  EXPECT_EQ(window->Settings().WebDocDir,
            "Gespr\xe4"
            "che");
  EXPECT_EQ(Config("UseDSN"),
            "Gespr\xc3\xa4"
            "che");
  EXPECT_EQ(Config("GetDataFromTable"), "T\xe4\xfc");
}

TEST_F(SettingsCommandTest, CancelWritesAndChangesNothing) {
  WriteIni(dir_.str() + "/");
  auto window = OpenMainWindow();
  const std::string before = test::ReadFile(test::IniFile());
  const BackupSettings memory = window->Settings();
  WhenModal([](QWidget* settings) {
    Edit(settings, "IDC_WEBDOCDIR")->setText("elsewhere");
    Edit(settings, "IDC_USEDSN")->setText("other_dsn");
    List(settings, "IDC_AUTOSTART_HOUR")->setCurrentIndex(22);
    Box(settings, "IDC_MOVE_FILES")->click();
    Control<QPushButton>(settings, "IDCANCEL")->click();
  });
  window->OnSettings();
  EXPECT_EQ(test::ReadFile(test::IniFile()), before);
  EXPECT_EQ(window->Settings().WebDocDir, memory.WebDocDir);
  EXPECT_EQ(window->Settings().UseDSN, memory.UseDSN);
  EXPECT_EQ(AutoStartOnHour.load(), 3);
  EXPECT_EQ(AutoStartOnDay.load(), 2);
}

TEST_F(SettingsCommandTest, WithoutDownloadDirectoryTheRestIsLoadedOnceBeforeTheDialog) {
  WriteIni(dir_.str() + "/missing/downloads/");
  WhenModal([](QWidget* error) { qobject_cast<QDialog*>(error)->accept(); });
  auto window = OpenMainWindow();
  ASSERT_FALSE(window->SettingsLoaded());

  QString shownDsn, shownBackupPath;
  WhenModal([&](QWidget* settings) {
    shownDsn = Edit(settings, "IDC_USEDSN")->text();
    Edit(settings, "IDC_BACKUPPATH")->setText("/new/");
    Control<QPushButton>(settings, "IDOK")->click();
  });
  window->OnSettings();
  EXPECT_EQ(shownDsn, "qz_data");
  EXPECT_EQ(Config("UseDSN"), "qz_data");
  EXPECT_EQ(Config("GetDataFromTable"), "recording");

  // A second load would take the new backup path into memory before the next start; the dialog
  // shows it as the file holds it.
  WhenModal([&](QWidget* settings) {
    shownBackupPath = Edit(settings, "IDC_BACKUPPATH")->text();
    Control<QPushButton>(settings, "IDCANCEL")->click();
  });
  window->OnSettings();
  EXPECT_EQ(shownBackupPath, "/new/");
  EXPECT_EQ(window->Settings().BackupPath, "/old/");
}

}  // namespace
}  // namespace qz
