#pragma once

#include "config/backup_settings.h"

namespace qz {

inline constexpr const char* kRegistryKey = "SOFTWARE\\Corvane\\Corvane Tool";
inline constexpr const char* kRegistryValue = "Directory";

// Reads every key of the INI file in its fixed order, sets StartDirectory to the working directory
// and makes a relative DownloadPath absolute against it, writing a missing key back
// with its default at once, creates the download directory when it is missing, and sets
// BaseDirectory and LogDirectory. False when the download directory is missing and cannot be
// created; then only WebDocDir and DownloadPath are loaded.
bool LoadSettings(BackupSettings& settings);

// The steps of LoadSettings that follow the download directory, for a caller that goes on after
// the directory could not be created.
void LoadRemainingSettings(BackupSettings& settings);

// The same settings for a caller that must change nothing: no key is written back and no
// directory is created.
void ReadSettingsOnly(BackupSettings& settings);

// A directory setting as the one folder it names: a relative one inside StartDirectory. Empty
// stays empty.
std::string ResolveDirectorySetting(const std::string& directory);

// The backup directory as the one folder it names. A run works in the download directory, so a
// relative BackupPath (kept as written in the settings) names a folder inside DownloadPath. Empty
// stays empty (an empty BackupPath names the download directory).
std::string ResolveBackupPath(const BackupSettings& settings);

// MoveToBackupPath, BackupPath and StartAlarmOnError as the next start will load them from the
// file, while a running tool keeps the ones it loaded; writes nothing.
void ReadSettingsForNextStart(BackupSettings& settings);

}  // namespace qz
