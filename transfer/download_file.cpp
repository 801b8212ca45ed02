#include "transfer/download_file.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/event_log.h"
#include "platform/files.h"
#include "transfer/child_process.h"
#include "transfer/download_url.h"
#include "transfer/staging_folder.h"
#include "transfer/url_encoder.h"

namespace qz {

std::atomic<bool> CancelDownloads{false};

namespace {

constexpr std::chrono::milliseconds kPollInterval{100};

// wget's program, options and URL. The URL is one argument whatever the row and the settings
// hold, so no part of them becomes an option of wget's; the text shows the same command for the
// log. Built without a length limit: a shortened command would fetch another file.
struct DownloadCommand {
  std::vector<std::string> arguments;
  std::string text;
};

std::vector<std::string> WgetOptions(const BackupSettings& settings) {
  std::vector<std::string> options;
  if (settings.DownloadTransferRateKbs != 0)
    options.push_back("--limit-rate=" + std::to_string(settings.DownloadTransferRateKbs));
  options.insert(options.end(), {"--tries=5", "--waitretry=2"});
  return options;
}

DownloadCommand MakeDownloadCommand(const BackupSettings& settings, const std::string& serverName,
                                    const std::string& fileName) {
  const UrlEncoder encoder;
  const std::string encodedName = encoder.Encode(fileName);
  DownloadCommand command{{"wget"}, "wget"};
  for (const std::string& option : WgetOptions(settings)) {
    command.arguments.push_back(option);
    command.text += " " + option;
  }
  command.arguments.push_back(DownloadUrl(settings, serverName, encodedName));
  command.text += " " + DownloadUrlText(settings, serverName, encodedName);
  return command;
}

// Runs the command to its end in `directory`; nothing when it cannot be started or was
// cancelled (the child then killed and collected). The pause
// between two queries ends early when the child ends, so a short download does not wait out a
// whole interval.
std::optional<std::uint32_t> RunToEnd(const DownloadCommand& command, const std::string& directory,
                                      platform::Clock& clock) {
  ChildProcess child(command.arguments, command.text, directory);
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
int FetchIntoStaging(StagingFolder& staging, const DownloadCommand& command,
                     const std::string& fileName, platform::Clock& clock, bool deliver) {
  const std::string& commandLine = command.text;
  if (!staging.Prepare()) {
    WriteLog(ErrorLine(commandLine, WithError("folder " + std::string(StagingFolder::kName) +
                                              " cannot be emptied")),
             clock);
    return -1;
  }
  const std::optional<std::uint32_t> exitCode = RunToEnd(command, staging.Path(), clock);
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
  if (deliver && !staging.Deliver(fileName)) {
    WriteLog(ErrorLine(commandLine, WithError("file " + fileName + " cannot be put in place")),
             clock);
    return -1;
  }
  WriteLog(commandLine, clock);
  return 1;
}

int Fetch(const BackupSettings& settings, const std::string& serverName,
          const std::string& fileName, platform::Clock& clock, bool deliver) {
  if (serverName.empty()) {
    WriteLog("No server for download specified in db", clock);
    return -2;
  }
  if (fileName.empty()) {
    WriteLog("No file for download specified in db", clock);
    return -3;
  }
  // Another scheme would fetch the recording some other way than the operator chose.
  if (!IsKnownDownloadScheme(settings.DownloadScheme)) {
    WriteLog("Unknown DownloadScheme " + settings.DownloadScheme + ": only http and https", clock);
    return -1;
  }
  const DownloadCommand command = MakeDownloadCommand(settings, serverName, fileName);
  // The download directory named, not only entered: had entering it failed, the file would land
  // in whatever folder the process is in while the run looks for it in the download directory.
  StagingFolder staging(settings.DownloadPath);
  const int status = FetchIntoStaging(staging, command, fileName, clock, deliver);
  // A partial file, or one stored under another name, must not wait there for the next download.
  if (deliver || status != 1) staging.Clear();
  return status;
}

}  // namespace

int DownloadFile(const BackupSettings& settings, const std::string& serverName,
                 const std::string& fileName, platform::Clock& clock) {
  return Fetch(settings, serverName, fileName, clock, true);
}

int DownloadFileToStaging(const BackupSettings& settings, const std::string& serverName,
                          const std::string& fileName, platform::Clock& clock) {
  return Fetch(settings, serverName, fileName, clock, false);
}

}  // namespace qz
