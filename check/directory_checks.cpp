#include "check/directory_checks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>

#include "archive/archive_directories.h"
#include "backup/run_lock.h"
#include "config/load_settings.h"
#include "config/process_values.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace qz {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr const char* kServiceUser = "writable by the user the tool runs as";

struct Folder {
  std::string path;
  bool present = false;
  bool writable = false;
  std::string existing;  // the folder itself or its nearest existing parent
  std::string reason;    // why it is missing, not a folder or not writable
};

std::string ErrorText(int error) {
  return std::strerror(error);
}

bool IsWritableFolder(const std::string& path) {
  return access(path.c_str(), W_OK | X_OK) == 0;
}

// Without the trailing separator, so that "/x/dl/" and "/x/dl" compare equal.
std::filesystem::path Normal(const std::string& path) {
  std::filesystem::path normal = std::filesystem::path(path).lexically_normal();
  if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
  return normal;
}

// Walks up to the nearest path that exists; only a folder there could hold the missing ones.
Folder Inspect(const std::string& path) {
  Folder folder;
  folder.path = path;
  const std::filesystem::path normal = Normal(path);
  std::filesystem::path walk = normal;
  struct stat st {};
  while (stat(walk.c_str(), &st) != 0) {
    if (errno != ENOENT || !walk.has_relative_path()) {
      folder.reason = ErrorText(errno);
      return folder;
    }
    walk = walk.parent_path();
    if (walk.empty()) walk = ".";
  }
  folder.existing = walk.string();
  if (!S_ISDIR(st.st_mode)) {
    folder.reason = ErrorText(ENOTDIR);
    return folder;
  }
  folder.present = walk == normal;
  folder.writable = IsWritableFolder(folder.existing);
  if (!folder.writable) folder.reason = ErrorText(errno);
  return folder;
}

// A read-only file system here is mostly a service's sandbox (ProtectSystem=strict).
std::string MakeWritableTodo(const Folder& folder) {
  if (folder.reason == ErrorText(EROFS))
    return "Under the packaged units, name it with ReadWritePaths= in a drop-in for them "
           "(README, Installing)";
  return std::string("Make it ") + kServiceUser;
}

bool CanBeCreated(const Folder& folder) {
  return !folder.present && folder.writable;
}

std::string Megabytes(std::uint64_t bytes) {
  return std::to_string(bytes / kMiB) + " MB";
}

std::uint32_t MinFreeDiskSpaceMB() {
  return static_cast<std::uint32_t>(
      platform::GetPrivateProfileInt("WatchDog", "MinFreeDiskSpaceMB", 200, kIniFile));
}

void CheckFreeSpace(const std::string& thing, const Folder& folder, CheckReport& report) {
  if (folder.existing.empty()) return;
  const std::uint64_t limit = std::uint64_t{MinFreeDiskSpaceMB()} * kMiB;
  std::optional<std::uint64_t> free = platform::FreeBytesAvailable(folder.existing);
  if (!free) {
    report.Warn(thing,
                "the free space of " + folder.existing + " cannot be read (" +
                    ErrorText(platform::LastError()) + ")",
                "Check the file system that holds it");
  } else if (*free < limit) {
    report.Fail(
        thing, Megabytes(*free) + " free, below MinFreeDiskSpaceMB=" + std::to_string(limit / kMiB),
        "Free space on that file system, or lower MinFreeDiskSpaceMB in [WatchDog]");
  } else {
    report.Ok(thing, Megabytes(*free) + " free, limit " + Megabytes(limit));
  }
}

// The download directory is created by every start when missing; the backup directory never is.
void ReportFolder(const std::string& thing, const Folder& folder, bool runCreatesIt,
                  const std::string& key, CheckReport& report) {
  if (folder.present && folder.writable) {
    report.Ok(thing, folder.path + ", writable");
  } else if (folder.present) {
    report.Fail(thing, folder.path + " is not writable (" + folder.reason + ")",
                MakeWritableTodo(folder));
  } else if (CanBeCreated(folder) && runCreatesIt) {
    report.Ok(thing, folder.path + " is missing; the next run creates it");
  } else if (CanBeCreated(folder)) {
    report.Fail(thing, folder.path + " is missing (the run does not create it)",
                "Create it, " + std::string(kServiceUser) + ", or correct " + key);
  } else {
    report.Fail(thing,
                folder.path + " is missing and cannot be created (" + folder.reason + " at " +
                    (folder.existing.empty() ? folder.path : folder.existing) + ")",
                "Create it, " + std::string(kServiceUser) + ", or correct " + key);
  }
}

dev_t DeviceOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

// Whether a move is a rename or a copy, flush and delete; a folder moved onto itself is no backup.
void CheckMove(const BackupSettings& settings, const Folder& download, const Folder& backup,
               CheckReport& report) {
  if (FindArchiveDirectories(settings).backupIsDownload) {
    report.Warn("moving", "the backup directory is the download directory",
                "Name another folder in BackupPath, or set MoveToBackupPath=0");
    return;
  }
  if (download.existing.empty() || backup.existing.empty()) return;
  if (DeviceOf(download.existing) == DeviceOf(backup.existing)) {
    report.Ok("moving", "another folder on the same file system: each file is renamed");
    return;
  }
  report.Ok("moving", "another file system: each file is copied, flushed, then deleted");
  CheckFreeSpace("free space for backups", backup, report);
}

}  // namespace

void CheckSettingsFile(CheckReport& report) {
  const std::string path = platform::ProfilePath(kIniFile);
  if (!platform::PathExists(path)) {
    report.Warn("settings file", path + " does not exist: every key takes its default",
                "Write the settings there, or let a first run write the defaults");
    return;
  }
  if (access(path.c_str(), W_OK) != 0) {
    report.Warn(
        "settings file", path + " is not writable (" + ErrorText(errno) + ")",
        "Runs write missing keys and the week counter there: make it " + std::string(kServiceUser));
    return;
  }
  report.Ok("settings file", path);
}

void CheckBaseAndLogFolders(CheckReport& report) {
  const std::string base = platform::NativeDirectoryPath(BaseDirectory);
  // Every run takes its lock there; without the lock no run starts.
  const std::string lock = platform::NativePath(RunLockPath());
  if (!platform::DirectoryExists(base))
    report.Fail("base directory", base + " is not a folder: no run can take its lock",
                "Create it, or name another one as Directory in hklm.ini");
  else if (access(lock.c_str(), W_OK) != 0 && !IsWritableFolder(base))
    report.Fail("base directory",
                base + " is not writable (" + ErrorText(errno) + "): no run can take its lock",
                std::string("Make it ") + kServiceUser);
  else
    report.Ok("base directory", base + ", run lock " + lock);
  const std::string log = platform::NativeDirectoryPath(LogDirectory);
  if (!platform::DirectoryExists(log))
    report.Fail("log folder", log + " does not exist: no event is logged",
                "Create it, " + std::string(kServiceUser) + " (the tool never creates it)");
  else if (!IsWritableFolder(log))
    report.Fail("log folder", log + " is not writable (" + ErrorText(errno) + ")",
                std::string("Make it ") + kServiceUser);
  else
    report.Ok("log folder", log + ", writable");
}

void CheckDownloadAndBackupDirectories(const BackupSettings& loaded, CheckReport& report) {
  // The backup directory as a run resolves it, inside the download directory when relative.
  BackupSettings settings = loaded;
  settings.BackupPath = ResolveBackupPath(loaded);
  const Folder download = Inspect(platform::NativeDirectoryPath(settings.DownloadPath));
  ReportFolder("download directory", download, true, "DownloadPath", report);
  CheckFreeSpace("free space for downloads", download, report);
  if (settings.MoveToBackupPath == 0) return;
  if (settings.BackupPath.empty()) {
    report.Fail("backup directory", "BackupPath is empty while MoveToBackupPath is set",
                "Set BackupPath, or MoveToBackupPath=0");
    return;
  }
  const Folder backup = Inspect(platform::NativeDirectoryPath(settings.BackupPath));
  ReportFolder("backup directory", backup, false, "BackupPath", report);
  CheckMove(settings, download, backup, report);
}

}  // namespace qz
