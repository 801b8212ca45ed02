#include "transfer/download_file.h"

#include <chrono>
#include <cstdint>
#include <optional>

#include "config/event_log.h"
#include "platform/files.h"
#include "transfer/child_process.h"
#include "transfer/set_aside_file.h"
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

// Runs the command line to its end; nothing when it cannot be started. The pause between two
// queries ends early when the child ends, so a short download does not wait out a whole interval.
std::optional<std::uint32_t> RunToEnd(const std::string& commandLine, platform::Clock& clock) {
  ChildProcess child(commandLine);
  if (!child.Start(true, false)) return std::nullopt;
  while (child.IsRunning()) {
    clock.KeepAlive();
    child.WaitForExit(kPollInterval);
  }
  return child.GetExitCode();
}

// Marks a download under way, so a file that a killed run left half written is never taken for
// a complete recording by the next run.
class DownloadMarker {
 public:
  explicit DownloadMarker(const std::string& fileName) : marker_(DownloadMarkerName(fileName)) {
    platform::CreateMarkerFile(marker_);
  }
  ~DownloadMarker() { platform::DeleteFile(marker_); }
  DownloadMarker(const DownloadMarker&) = delete;
  DownloadMarker& operator=(const DownloadMarker&) = delete;

 private:
  std::string marker_;
};

std::string ErrorLine(const std::string& commandLine, const std::string& reason) {
  return "ERROR for cmd: " + commandLine + "  [" + reason + "]";
}

// Whatever stands under the name now is wget's partial file: left there, the next run would take
// it for the complete recording.
void RemovePartialFile(const std::string& fileName) {
  if (platform::PathExists(fileName)) platform::DeleteFile(fileName);
}

}  // namespace

std::string DownloadMarkerName(const std::string& fileName) {
  return fileName + ".qzdownload";
}

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
  SetAsideFile previous(fileName);
  if (!previous.IsClear()) {
    WriteLog(ErrorLine(commandLine, "file " + fileName + " exists and cannot be set aside"), clock);
    return -1;
  }
  DownloadMarker marker(fileName);
  const std::optional<std::uint32_t> exitCode = RunToEnd(commandLine, clock);
  if (!exitCode) {
    previous.Restore();
    return -1;
  }
  if (*exitCode != 0) {
    RemovePartialFile(fileName);
    previous.Restore();
    const int code = static_cast<int>(*exitCode);
    WriteLog(ErrorLine(commandLine, "ErrorCode=" + std::to_string(code)), clock);
    return -1;
  }
  // wget rewrites some names when storing them (a TAB becomes "%09"): the run would not find it.
  if (!platform::PathExists(fileName)) {
    previous.Restore();
    WriteLog(ErrorLine(commandLine, "file " + fileName + " not stored"), clock);
    return -1;
  }
  // On disk before the marker goes: the row is labelled on the strength of this file.
  platform::SyncFile(fileName);
  previous.Discard();
  WriteLog(commandLine, clock);
  return 1;
}

}  // namespace qz
