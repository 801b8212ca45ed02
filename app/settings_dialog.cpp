#include "app/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStringDecoder>
#include <QToolTip>
#include <algorithm>

#include "config/backup_settings.h"
#include "platform/profile.h"

namespace qz {
namespace {

constexpr const char* kConfig = "Config";
// A closed drop-down list stands as tall as the edits beside it; its template height is the
// height of the list when it is dropped.
constexpr int kDropDownFieldHeight = 14;
constexpr int kListItemHeight = 8;

const char* const kWebDocDirHint =
    "This is used to get files from client web-server. Do not enter the servername,\n"
    "only the document path, e.g. confwav for recordings under /confwav of each server.";

const char* const kLineBreaksReplaced =
    "Line breaks are replaced by blanks: each setting is one line of qzbackup.ini.";

QStringList HourItems() {
  QStringList items;
  for (int hour = 0; hour < 24; ++hour) items << QString("%1").arg(hour, 2, 10, QChar('0'));
  return items;
}

// Item n is the day value n: 0 every day, 1 Sunday ... 7 Saturday.
QStringList DayItems() {
  return {"Every day", "Sunday",   "Monday", "Tuesday",
          "Wednesday", "Thursday", "Friday", "Saturday"};
}

// Stored texts are bytes: valid UTF-8 is shown as such, anything else as Latin-1.
QString DecodeText(const std::string& bytes, bool& latin1) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
  latin1 = utf8.hasError();
  return latin1 ? QString::fromLatin1(bytes.data(), qsizetype(bytes.size())) : text;
}

// An edited text goes back in the encoding it came in; one holding characters Latin-1 lacks can
// only be UTF-8.
std::string EncodeText(const QString& text, bool latin1) {
  const bool fitsLatin1 =
      std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
  return (latin1 && fitsLatin1 ? text.toLatin1() : text.toUtf8()).toStdString();
}

// A value that names no item leaves the list without a selection, which saves as -1.
void ExchangeIndex(bool save, QComboBox* list, int& index) {
  if (save)
    index = list->currentIndex();
  else
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

void ExchangeCheck(bool save, QCheckBox* box, int& value) {
  if (save)
    value = box->isChecked() ? 1 : 0;
  else
    box->setChecked(value != 0);
}

// False when the field holds no integer; the member then keeps its last value.
bool ExchangeInt(bool save, QLineEdit* edit, int& value) {
  if (!save) {
    edit->setText(QString::number(value));
    return true;
  }
  bool ok = false;
  int number = edit->text().trimmed().toInt(&ok);
  if (ok) value = number;
  return ok;
}

// The field shows a pasted line break as a blank, and a blank is what it stores: the settings file
// holds one line per key. A tip next to the field says so.
void ReplaceLineBreaks(QLineEdit* edit) {
  QString text = edit->text();
  if (!text.contains(QChar('\r')) && !text.contains(QChar('\n'))) return;
  const int cursor = edit->cursorPosition();
  text.replace(QChar('\r'), QChar(' ')).replace(QChar('\n'), QChar(' '));
  edit->setText(text);
  edit->setCursorPosition(cursor);
  QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), kLineBreaksReplaced, edit);
}

void WriteConfig(const char* key, const std::string& value) {
  platform::WritePrivateProfileString(kConfig, key, value, kIniFile);
}

}  // namespace

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent), du_(DialogFont()) {
  setFont(DialogFont());
  setWindowTitle("Settings");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(du_.Size(308, 300));
  // Created in template order, which is also the tab order.
  AddButtons();
  auto* frame = new QGroupBox("Settings for backup tool", this);
  frame->setGeometry(du_.Rect(7, 7, 294, 262));
  AddPathControls();
  AddDatabaseControls();
  AddScheduleControls();
}

void SettingsDialog::AddButtons() {
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("IDOK");
  ok->setGeometry(du_.Rect(133, 279, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &SettingsDialog::accept);

  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("IDCANCEL");
  cancel->setGeometry(du_.Rect(251, 279, 50, 14));
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void SettingsDialog::AddPathControls() {
  AddLabel("Web-Document path on clients:", 19, 28, 106, 8);
  webDocDir_ = AddEdit("IDC_WEBDOCDIR", 138, 26, 100);
  AddLabel(kWebDocDirHint, 21, 44, 269, 27);
  AddLabel("Path to download files to:", 19, 80, 90, 8);
  downloadPath_ = AddEdit("IDC_DOWNLOADPATH", 138, 77, 100);
  moveFiles_ =
      AddCheckBox("IDC_MOVE_FILES", "Move files to other path after download:", 19, 97, 138, 15);
  connect(moveFiles_, &QCheckBox::clicked, this, &SettingsDialog::OnMoveFiles);
  backupPath_ = AddEdit("IDC_BACKUPPATH", 161, 98, 98);
}

void SettingsDialog::AddDatabaseControls() {
  AddLabel("Use DSN name to connect to DB:", 19, 127, 108, 8);
  useDsn_ = AddEdit("IDC_USEDSN", 138, 124, 100);
  AddLabel("Get files to backup from table ", 19, 147, 100, 8);
  table_ = AddEdit("IDC_TABLE", 138, 144, 100);
}

void SettingsDialog::AddScheduleControls() {
  AddLabel("Start backup automatically at hour:", 19, 175, 116, 8);
  hour_ = AddDropDownList("IDC_AUTOSTART_HOUR", 138, 173, 37, 173, HourItems());
  AddLabel("Start backup automatically on day:", 19, 193, 115, 8);
  day_ = AddDropDownList("IDC_AUTOSTART_DAY", 138, 191, 65, 182, DayItems());
  AddLabel("Start command after backup:", 19, 223, 108, 8);
  startCommand_ = AddEdit("IDC_START_COMMAND", 138, 220, 121);
  alarmOnError_ = AddCheckBox("IDC_ALARM_ON_ERROR", "Start alarm on error:", 19, 248, 74, 10);
  connect(alarmOnError_, &QCheckBox::clicked, this, &SettingsDialog::OnAlarmOnError);
  alarmNumber_ = AddEdit("IDC_ALARM_NUMBER", 138, 243, 40);
  alarmNumber_->setValidator(
      new QRegularExpressionValidator(QRegularExpression("[0-9]*"), alarmNumber_));
}

QLineEdit* SettingsDialog::AddEdit(const char* name, int x, int y, int width) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(name);
  edit->setGeometry(du_.Rect(x, y, width, 14));
  connect(edit, &QLineEdit::textChanged, this, [edit] { ReplaceLineBreaks(edit); });
  return edit;
}

QComboBox* SettingsDialog::AddDropDownList(const char* name, int x, int y, int width,
                                           int droppedHeight, const QStringList& items) {
  auto* list = new QComboBox(this);
  list->setObjectName(name);
  list->setEditable(false);
  list->addItems(items);
  // A plain drop-down list, so the template's dropped height and scroll bar hold; the style's own
  // popup would cover the screen with all 24 hours.
  list->setStyleSheet("QComboBox { combobox-popup: 0; }");
  list->setMaxVisibleItems(std::max(1, (droppedHeight - kDropDownFieldHeight) / kListItemHeight));
  list->setGeometry(du_.Rect(x, y, width, kDropDownFieldHeight));
  return list;
}

QCheckBox* SettingsDialog::AddCheckBox(const char* name, const QString& text, int x, int y,
                                       int width, int height) {
  auto* box = new QCheckBox(text, this);
  box->setObjectName(name);
  box->setGeometry(du_.Rect(x, y, width, height));
  // The fallback font and the style's indicator take more room than the original's: a box grows
  // to the right, into free space, rather than cut its text.
  box->resize(std::max(box->width(), box->sizeHint().width()), box->height());
  return box;
}

void SettingsDialog::AddLabel(const QString& text, int x, int y, int width, int height) {
  auto* label = new QLabel(text, this);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(true);
  label->setGeometry(du_.Rect(x, y, width, height));
}

// An unedited text goes back byte for byte, whatever its encoding.
void SettingsDialog::ExchangeText(bool save, QLineEdit* edit, std::string& value) {
  ShownText& shown = shownTexts_[edit];
  if (!save) {
    shown.bytes = value;
    shown.text = DecodeText(value, shown.latin1);
    edit->setText(shown.text);
  } else {
    value = edit->text() == shown.text ? shown.bytes : EncodeText(edit->text(), shown.latin1);
  }
}

void SettingsDialog::OnInitDialog() {
  UpdateData(false);
  alarmOn = StartAlarmOnError >= 10 ? 1 : 0;
  UpdateData(false);
  OnAlarmOnError();
  OnMoveFiles();
}

bool SettingsDialog::UpdateData(bool save) {
  ExchangeText(save, webDocDir_, WebDocDir);
  ExchangeText(save, downloadPath_, DownloadPath);
  ExchangeText(save, useDsn_, UseDSN);
  ExchangeText(save, startCommand_, StartCommandAfterBackup);
  ExchangeIndex(save, day_, AutoStartOnDay);
  ExchangeIndex(save, hour_, AutoStartOnHour);
  ExchangeText(save, table_, GetDataFromTable);
  ExchangeCheck(save, alarmOnError_, alarmOn);
  ExchangeCheck(save, moveFiles_, MoveToBackupPath);
  ExchangeText(save, backupPath_, BackupPath);
  return ExchangeInt(save, alarmNumber_, StartAlarmOnError);
}

// The box only unlocks the number: the alarm itself is switched by the number alone.
void SettingsDialog::OnAlarmOnError() {
  UpdateData(true);
  alarmNumber_->setEnabled(alarmOn != 0);
}

// A disabled path keeps its text, and OK stores it all the same.
void SettingsDialog::OnMoveFiles() {
  UpdateData(true);
  backupPath_->setEnabled(MoveToBackupPath != 0);
}

void SettingsDialog::accept() {
  // Keys written next to an alarm number the operator never confirmed would be half a change.
  if (!UpdateData(true)) {
    AskForAnInteger();
    return;
  }
  WriteSettings();
  QDialog::accept();
}

void SettingsDialog::AskForAnInteger() {
  QMessageBox box(QMessageBox::Warning, "qzbackup", "Please enter an integer.", QMessageBox::Ok,
                  this);
  box.exec();
  alarmNumber_->setFocus();
  alarmNumber_->selectAll();
}

void SettingsDialog::WriteSettings() const {
  WriteConfig("WebDocDir", WebDocDir);
  WriteConfig("DownloadPath", DownloadPath);
  WriteConfig("UseDSN", UseDSN);
  WriteConfig("GetDataFromTable", GetDataFromTable);
  WriteConfig("StartCommandAfterBackup", StartCommandAfterBackup);
  WriteConfig("AutoStartOnDay", std::to_string(AutoStartOnDay));
  WriteConfig("AutoStartOnHour", std::to_string(AutoStartOnHour));
  WriteConfig("MoveToBackupPath", std::to_string(MoveToBackupPath));
  WriteConfig("BackupPath", BackupPath);
  WriteConfig("StartAlarmOnError", std::to_string(StartAlarmOnError));
}

}  // namespace qz
