#include "config/load_settings.h"

#include <climits>
#include <string>

#include "config/process_values.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace qz {
namespace {

constexpr int kMissing = -9;
constexpr const char* kConfig = "Config";
constexpr const char* kWatchDog = "WatchDog";

// A text key that is absent or empty takes its default, which is written back at once.
std::string ReadText(const char* key, const char* def) {
  std::string value = platform::GetPrivateProfileString(kConfig, key, "", kIniFile);
  if (value.empty()) {
    value = def;
    platform::WritePrivateProfileString(kConfig, key, def, kIniFile);
  }
  return value;
}

// An integer key reading -9 is missing: it takes its default, written back at once.
int ReadInt(const char* section, const char* key, int def) {
  int value = platform::GetPrivateProfileInt(section, key, kMissing, kIniFile);
  if (value == kMissing) {
    value = def;
    platform::WritePrivateProfileString(section, key, std::to_string(def), kIniFile);
  }
  return value;
}

int ReadInt(const char* key, int def) {
  return ReadInt(kConfig, key, def);
}

// A rate in KB/s becomes bytes/s; a rate too large for 32 bits means no practical limit.
int BytesPerSecond(int kbs) {
  if (kbs <= 0) return kbs;
  return kbs > INT_MAX / 1024 ? INT_MAX : kbs * 1024;
}

void LoadWatchDogSettings() {
  HardDiskWatchDogActive = ReadInt(kWatchDog, "HardDiskWatchDogActive", 0);
  int every = ReadInt(kWatchDog, "CheckHardDiskEveryMin", 2);
  CheckHardDiskEveryMin = every < 1 ? 1 : every;
  WatchDogAlarmNumber = ReadInt(kWatchDog, "StartAlarmOnError", 7099);
  WaitAfterErrorMin = ReadInt(kWatchDog, "WaitAfterErrorMin", 30);
}

// The base directory keeps its case: on a case-sensitive file system a lower-cased path names
// another folder.
void LoadDirectories() {
  BaseDirectory = platform::ReadMachineRegistryValue(kRegistryKey, kRegistryValue).value_or("");
  if (BaseDirectory.empty()) BaseDirectory = "\\qzt\\";
  LogDirectory = BaseDirectory + ".\\log\\";
}

}  // namespace

void LoadRemainingSettings(BackupSettings& s) {
  s.MoveToBackupPath = ReadInt("MoveToBackupPath", 0);
  s.BackupPath = ReadText("BackupPath", "");
  s.UseDSN = ReadText("UseDSN", "qz_data");
  s.GetDataFromTable = ReadText("GetDataFromTable", "recording");
  s.StartCommandAfterBackup = ReadText("StartCommandAfterBackup", "");
  AutoStartOnDay = platform::GetPrivateProfileInt(kConfig, "AutoStartOnDay", 0, kIniFile);
  AutoStartOnHour = platform::GetPrivateProfileInt(kConfig, "AutoStartOnHour", 0, kIniFile);
  s.StartAlarmOnError = ReadInt("StartAlarmOnError", 0);
  s.ArchivePrefixForDBEntry = ReadText("ArchivePrefixForDBEntry", "DAT");
  s.UpdateArchiveField = ReadInt("UpdateArchiveField", 1);
  s.BackupFromServerRange = ReadInt("BackupFromServerRange", 0);
  if (s.BackupFromServerRange == 1) {
    s.FirstServerNumber = ReadInt("FirstServerNumber", 0);
    s.LastServerNumber = ReadInt("LastServerNumber", 0);
  }
  s.ArchiveFlagType = ReadInt("ArchiveFlagType", 0);
  if (s.ArchiveFlagType == 1) s.MaxArchiveCount = ReadInt("MaxArchiveCount", 15);
  s.ShowMaxItems = ReadInt("ShowMaxItems", 500);
  s.DownloadIfFileAlreadyExists = ReadInt("DownloadIfFileAlreadyExists", 0);
  s.DownloadTransferRateKbs = ReadInt("DownloadTransferRateKbs", 0);
  s.DownloadTransferRateKbs = BytesPerSecond(s.DownloadTransferRateKbs);
  LoadWatchDogSettings();
  LoadDirectories();
}

bool LoadSettings(BackupSettings& s) {
  s.WebDocDir = ReadText("WebDocDir", "ConfData");
  s.DownloadPath = ReadText("DownloadPath", "\\qzt\\backup\\");
  if (!platform::DirectoryExists(s.DownloadPath) && !platform::CreateDirectory(s.DownloadPath))
    return false;
  LoadRemainingSettings(s);
  return true;
}

}  // namespace qz
