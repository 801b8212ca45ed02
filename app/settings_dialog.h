#pragma once

#include <QDialog>
#include <QStringList>
#include <map>
#include <string>

#include "app/dialog_units.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace qz {

// "Settings": the ten keys of section "Config" that the operator may edit. The caller fills the
// public members, runs OnInitDialog and the dialog; after OK they hold what was written.
class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit SettingsDialog(QWidget* parent = nullptr);

  // Moves the members into the controls and enables the two dependent fields.
  void OnInitDialog();
  // OK: takes the controls' values and, once the alarm number is an integer, writes the keys.
  void accept() override;

  std::string WebDocDir;
  std::string DownloadPath;
  std::string UseDSN;
  std::string StartCommandAfterBackup;
  int AutoStartOnDay = -1;
  int AutoStartOnHour = -1;
  std::string GetDataFromTable;
  int alarmOn = 0;
  int MoveToBackupPath = 0;
  std::string BackupPath;
  int StartAlarmOnError = 0;

 private:
  void AddButtons();
  void AddPathControls();
  void AddDatabaseControls();
  void AddScheduleControls();
  QLineEdit* AddEdit(const char* name, int x, int y, int width);
  QComboBox* AddDropDownList(const char* name, int x, int y, int width, int droppedHeight,
                             const QStringList& items);
  QCheckBox* AddCheckBox(const char* name, const QString& text, int x, int y, int width,
                         int height);
  void AddLabel(const QString& text, int x, int y, int width, int height);
  // Between members and controls in the template's exchange order. Saving returns false when the
  // alarm number is no integer; that member then keeps its value, all others are taken.
  bool UpdateData(bool save);
  void ExchangeText(bool save, QLineEdit* edit, std::string& value);
  void OnAlarmOnError();
  void OnMoveFiles();
  void AskForAnInteger();
  void WriteSettings() const;

  // What each edit was given, so OK can tell an edited text from an untouched one.
  struct ShownText {
    std::string bytes;
    QString text;
    bool latin1 = false;
  };
  std::map<const QLineEdit*, ShownText> shownTexts_;
  DialogUnits du_;
  QLineEdit* webDocDir_ = nullptr;
  QLineEdit* downloadPath_ = nullptr;
  QCheckBox* moveFiles_ = nullptr;
  QLineEdit* backupPath_ = nullptr;
  QLineEdit* useDsn_ = nullptr;
  QLineEdit* table_ = nullptr;
  QComboBox* hour_ = nullptr;
  QComboBox* day_ = nullptr;
  QLineEdit* startCommand_ = nullptr;
  QCheckBox* alarmOnError_ = nullptr;
  QLineEdit* alarmNumber_ = nullptr;
};

}  // namespace qz
