#include "config/load_settings.h"

#include <cctype>
#include <climits>
#include <string>

#include "config/process_values.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace qz {
namespace {

constexpr int kMissing = -9;
constexpr const char* kConfig = "Config";
constexpr const char* kWatchDog = "WatchDog";

// Reads the keys; a missing one takes its default, written back at once unless reading only.
class KeyReader {
 public:
  explicit KeyReader(bool writeBack) : writeBack_(writeBack) {}

  // A text key that is absent or empty is missing.
  std::string Text(const char* key, const char* def) const {
    std::string value = platform::GetPrivateProfileString(kConfig, key, "", kIniFile);
    if (!value.empty()) return value;
    if (writeBack_) platform::WritePrivateProfileString(kConfig, key, def, kIniFile);
    return def;
  }

  // An integer key reading -9 is missing.
  int Int(const char* section, const char* key, int def) const {
    int value = platform::GetPrivateProfileInt(section, key, kMissing, kIniFile);
    if (value != kMissing) return value;
    if (writeBack_)
      platform::WritePrivateProfileString(section, key, std::to_string(def), kIniFile);
    return def;
  }
  int Int(const char* key, int def) const { return Int(kConfig, key, def); }

 private:
  bool writeBack_;
};

// A rate in KB/s becomes bytes/s; a rate too large for 32 bits means no practical limit.
int BytesPerSecond(int kbs) {
  if (kbs <= 0) return kbs;
  return kbs > INT_MAX / 1024 ? INT_MAX : kbs * 1024;
}

void LoadWatchDogSettings(const KeyReader& read) {
  HardDiskWatchDogActive = read.Int(kWatchDog, "HardDiskWatchDogActive", 0);
  int every = read.Int(kWatchDog, "CheckHardDiskEveryMin", 2);
  CheckHardDiskEveryMin = every < 1 ? 1 : every;
  WatchDogAlarmNumber = read.Int(kWatchDog, "StartAlarmOnError", 7099);
  WaitAfterErrorMin = read.Int(kWatchDog, "WaitAfterErrorMin", 30);
}

// The base directory keeps its case: on a case-sensitive file system a lower-cased path names
// another folder.
void LoadDirectories() {
  BaseDirectory = platform::ReadMachineRegistryValue(kRegistryKey, kRegistryValue).value_or("");
  if (BaseDirectory.empty()) BaseDirectory = "\\qzt\\";
  LogDirectory = BaseDirectory + ".\\log\\";
}

// Written in any case; empty means the default. The profile layer has trimmed the blanks.
std::string DownloadSchemeOf(std::string value) {
  for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return value.empty() ? "http" : value;
}

int ReadMoveToBackupPath(const KeyReader& read) {
  return read.Int("MoveToBackupPath", 0);
}
std::string ReadBackupPath(const KeyReader& read) {
  return read.Text("BackupPath", "");
}
int ReadStartAlarmOnError(const KeyReader& read) {
  return read.Int("StartAlarmOnError", 0);
}

void LoadRemainingKeys(BackupSettings& s, const KeyReader& read) {
  s.MoveToBackupPath = ReadMoveToBackupPath(read);
  s.BackupPath = ReadBackupPath(read);
  s.UseDSN = read.Text("UseDSN", "qz_data");
  s.GetDataFromTable = read.Text("GetDataFromTable", "recording");
  s.StartCommandAfterBackup = read.Text("StartCommandAfterBackup", "");
  AutoStartOnDay = platform::GetPrivateProfileInt(kConfig, "AutoStartOnDay", 0, kIniFile);
  AutoStartOnHour = platform::GetPrivateProfileInt(kConfig, "AutoStartOnHour", 0, kIniFile);
  s.StartAlarmOnError = ReadStartAlarmOnError(read);
  s.ArchivePrefixForDBEntry = read.Text("ArchivePrefixForDBEntry", "DAT");
  s.UpdateArchiveField = read.Int("UpdateArchiveField", 1);
  s.BackupFromServerRange = read.Int("BackupFromServerRange", 0);
  if (s.BackupFromServerRange == 1) {
    s.FirstServerNumber = read.Int("FirstServerNumber", 0);
    s.LastServerNumber = read.Int("LastServerNumber", 0);
  }
  s.ArchiveFlagType = read.Int("ArchiveFlagType", 0);
  if (s.ArchiveFlagType == 1) s.MaxArchiveCount = read.Int("MaxArchiveCount", 15);
  // Read only: a first start writes the same keys as ever.
  s.WriteChecksumFile = platform::GetPrivateProfileInt(kConfig, "WriteChecksumFile", 1, kIniFile);
  s.DownloadScheme = DownloadSchemeOf(
      platform::GetPrivateProfileString(kConfig, "DownloadScheme", "http", kIniFile));
  s.ShowMaxItems = read.Int("ShowMaxItems", 500);
  s.DownloadIfFileAlreadyExists = read.Int("DownloadIfFileAlreadyExists", 0);
  s.DownloadTransferRateKbs = read.Int("DownloadTransferRateKbs", 0);
  s.DownloadTransferRateKbs = BytesPerSecond(s.DownloadTransferRateKbs);
  LoadWatchDogSettings(read);
  LoadDirectories();
}

// Taken once, before a run enters the download directory: resolved again from inside it, a
// relative directory would name another folder.
void TakeStartDirectory() {
  StartDirectory = platform::CurrentDirectory();
}

}  // namespace

std::string ResolveDirectorySetting(const std::string& directory) {
  return platform::AbsoluteDirectory(directory, StartDirectory);
}

std::string ResolveBackupPath(const BackupSettings& settings) {
  return platform::AbsoluteDirectory(settings.BackupPath,
                                     platform::NativeDirectoryPath(settings.DownloadPath));
}

void LoadRemainingSettings(BackupSettings& s) {
  LoadRemainingKeys(s, KeyReader(true));
}

bool LoadSettings(BackupSettings& s) {
  TakeStartDirectory();
  KeyReader read(true);
  s.WebDocDir = read.Text("WebDocDir", "ConfData");
  s.DownloadPath = ResolveDirectorySetting(read.Text("DownloadPath", "\\qzt\\backup\\"));
  if (!platform::DirectoryExists(s.DownloadPath) && !platform::CreateDirectory(s.DownloadPath))
    return false;
  LoadRemainingKeys(s, read);
  return true;
}

void ReadSettingsOnly(BackupSettings& s) {
  TakeStartDirectory();
  KeyReader read(false);
  s.WebDocDir = read.Text("WebDocDir", "ConfData");
  s.DownloadPath = ResolveDirectorySetting(read.Text("DownloadPath", "\\qzt\\backup\\"));
  LoadRemainingKeys(s, read);
}

void ReadSettingsForNextStart(BackupSettings& s) {
  KeyReader read(false);
  s.MoveToBackupPath = ReadMoveToBackupPath(read);
  s.BackupPath = ReadBackupPath(read);
  s.StartAlarmOnError = ReadStartAlarmOnError(read);
}

}  // namespace qz
