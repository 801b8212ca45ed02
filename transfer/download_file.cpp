#include "transfer/download_file.h"

#include <chrono>
#include <cstdint>
#include <optional>

#include "config/event_log.h"
#include "platform/files.h"
#include "transfer/child_process.h"
#include "transfer/staging_folder.h"
#include "transfer/url_encoder.h"

namespace qz {
namespace {

constexpr std::chrono::milliseconds kPollInterval{100};

// Built without a length limit: a shortened command line would fetch another file.
std::string DownloadCommandLine(const BackupSettings& settings, const std::string& serverName,
                                const std::string& encodedName) {
  std::string line = "wget ";
  if (settings.DownloadTransferRateKbs != 0)
    line += "--limit-rate=" + std::to_string(settings.DownloadTransferRateKbs) + " ";
  return line + "--tries=5 --waitretry=2 http://" + serverName + "/" + settings.WebDocDir + "/" +
         encodedName;
}

// Runs the command line to its end in `directory`; nothing when it cannot be started or was
// cancelled (the child then killed and collected). The pause
// between two queries ends early when the child ends, so a short download does not wait out a
// whole interval.
std::optional<std::uint32_t> RunToEnd(const std::string& commandLine, const std::string& directory,
                                      platform::Clock& clock) {
  ChildProcess child(commandLine, directory);
  if (!child.Start(true, false)) return std::nullopt;
  while (child.IsRunning()) {
    if (CancelDownloads) {
      child.Terminate();
      return std::nullopt;
    }
    clock.KeepAlive();
    child.WaitForExit(kPollInterval);
  }
  return child.GetExitCode();
}

std::string ErrorLine(const std::string& commandLine, const std::string& reason) {
  return "ERROR for cmd: " + commandLine + "  [" + reason + "]";
}

std::string WithError(const std::string& reason) {
  return reason + "  Error:" + std::to_string(platform::LastError());
}

// wget runs in the empty staging folder, so it never meets an older copy (and never stores
// "name.1"); only a file stored under the exact name is delivered into the current directory.
int FetchIntoStaging(StagingFolder& staging, const std::string& commandLine,
                     const std::string& fileName, platform::Clock& clock) {
  if (!staging.Prepare()) {
    WriteLog(ErrorLine(commandLine, WithError("folder " + std::string(StagingFolder::kName) +
                                              " cannot be emptied")),
             clock);
    return -1;
  }
  const std::optional<std::uint32_t> exitCode = RunToEnd(commandLine, staging.Path(), clock);
  // Whatever wget stored before it was ended is never taken for the file.
  if (CancelDownloads) {
    WriteLog(ErrorLine(commandLine, "ended by a second request to stop"), clock);
    return -1;
  }
  if (!exitCode) return -1;
  if (*exitCode != 0) {
    const int code = static_cast<int>(*exitCode);
    WriteLog(ErrorLine(commandLine, "ErrorCode=" + std::to_string(code)), clock);
    return -1;
  }
  // wget rewrites some names when storing them (a TAB becomes "%09", "%20" a blank).
  if (!staging.Holds(fileName)) {
    WriteLog(ErrorLine(commandLine, "file " + fileName + " not stored"), clock);
    return -1;
  }
  if (!staging.Deliver(fileName)) {
    WriteLog(ErrorLine(commandLine, WithError("file " + fileName + " cannot be put in place")),
             clock);
    return -1;
  }
  WriteLog(commandLine, clock);
  return 1;
}

}  // namespace

std::atomic<bool> CancelDownloads{false};

int DownloadFile(const BackupSettings& settings, const std::string& serverName,
                 const std::string& fileName, platform::Clock& clock) {
  if (serverName.empty()) {
    WriteLog("No server for download specified in db", clock);
    return -2;
  }
  if (fileName.empty()) {
    WriteLog("No file for download specified in db", clock);
    return -3;
  }
  const std::string commandLine =
      DownloadCommandLine(settings, serverName, UrlEncoder().Encode(fileName));
  // The download directory named, not only entered: had entering it failed, the file would land
  // in whatever folder the process is in while the run looks for it in the download directory.
  StagingFolder staging(settings.DownloadPath);
  const int status = FetchIntoStaging(staging, commandLine, fileName, clock);
  // A partial file, or one stored under another name, must not wait there for the next download.
  staging.Clear();
  return status;
}

}  // namespace qz
