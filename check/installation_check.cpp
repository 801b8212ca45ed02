#include "check/installation_check.h"

#include <chrono>
#include <cstdio>

#include "backup/archive_label.h"
#include "check/check_report.h"
#include "check/credential_files.h"
#include "check/directory_checks.h"
#include "check/table_checks.h"
#include "config/event_log.h"
#include "config/process_values.h"
#include "monitor/alarm.h"
#include "monitor/auto_start_text.h"
#include "platform/program_probe.h"
#include "transfer/download_url.h"
#include "transfer/server_probe.h"

namespace qz {
namespace {

constexpr int kFirstAlarmNumber = 10;

void CheckDownloadScheme(const BackupSettings& s, CheckReport& report) {
  if (!IsKnownDownloadScheme(s.DownloadScheme))
    report.Fail("download scheme", "DownloadScheme=" + s.DownloadScheme + " is unknown",
                "Set DownloadScheme to http or https in [Config]");
  else if (s.DownloadScheme == "https")
    report.Ok("download scheme", "https: wget verifies each server's certificate");
  else
    report.Ok("download scheme", "http");
}

void CheckWget(const BackupSettings& s, CheckReport& report) {
  std::optional<std::string> wget = platform::FindProgramOnPath("wget");
  if (!wget) {
    report.Fail("wget", "not found on PATH", "Install the wget package");
    return;
  }
  platform::CapturedRun run = platform::RunCaptured({*wget, "--version"}, std::chrono::seconds(10));
  const std::string first = run.output.substr(0, run.output.find('\n'));
  if (run.exitCode != 0) {
    report.Fail("wget", *wget + " does not run (" + first + ")", "Reinstall the wget package");
  } else if (s.DownloadScheme == "https" && run.output.find("+https") == std::string::npos) {
    report.Fail("wget", *wget + " has no HTTPS (" + first + ")",
                "Install Debian's wget, which is built with HTTPS");
  } else {
    report.Ok("wget", *wget + ", " + first);
  }
}

// The program the alarm's command line starts.
std::string AlarmProgram() {
  const std::string line = AlarmCommandLine(kFirstAlarmNumber);
  return line.substr(0, line.find(' '));
}

// The numbers of the run's alarm and of the disk watchdog's, where they launch anything.
void CheckAlarmProgram(const BackupSettings& s, CheckReport& report) {
  std::string numbers;
  if (s.StartAlarmOnError >= kFirstAlarmNumber)
    numbers = "StartAlarmOnError=" + std::to_string(s.StartAlarmOnError);
  if (HardDiskWatchDogActive != 0 && WatchDogAlarmNumber >= kFirstAlarmNumber)
    numbers += (numbers.empty() ? "" : ", ") + std::string("[WatchDog] StartAlarmOnError=") +
               std::to_string(WatchDogAlarmNumber.load());
  if (numbers.empty()) {
    report.Ok("alarm program", "none is started (no alarm number is 10 or more)");
    return;
  }
  const std::string program = AlarmProgram();
  if (std::optional<std::string> found = platform::FindProgramOnPath(program))
    report.Ok("alarm program", *found + " for " + numbers);
  else
    report.Fail("alarm program", program + " not found on PATH, needed for " + numbers,
                "Install the alarm program on PATH, or set the alarm numbers below 10");
}

std::string ServerTodo(const ServerAnswer& answer) {
  if (answer.httpStatus == 401 || answer.httpStatus == 403)
    return "Give the server's user name and password in wget's configuration (http_user and "
           "http_password in the wgetrc, or ~/.netrc of the user the tool runs as)";
  if (answer.certificateRefused || answer.error.find("certificate") != std::string::npos)
    return "wget does not accept the server's certificate: it must name the host as SERVERNAME "
           "gives it, be valid today and be signed by an authority wget trusts (ca_certificate "
           "in the wgetrc)";
  if (answer.httpStatus == 404)
    return "Check WebDocDir and that the server publishes its recordings there";
  return "Check that the server runs and can be reached from here (name, port, firewall, proxy)";
}

void CheckServers(const BackupSettings& s, const PendingRows& rows, CheckReport& report) {
  for (const PendingServer& server : rows.servers) {
    const std::string thing = "server " + server.name;
    if (server.firstFile.empty()) {
      report.Warn(thing, "none of its rows names a usable file", "Correct FILE in its rows");
      continue;
    }
    ServerAnswer answer = ProbeServer(s, server.name, server.firstFile);
    const std::string status =
        answer.httpStatus ? "HTTP " + std::to_string(answer.httpStatus) : "no HTTP answer";
    if (answer.delivers)
      report.Ok(thing, status + " for " + server.firstFile);
    else
      report.Fail(thing, status + " for " + server.firstFile + ": " + answer.error,
                  ServerTodo(answer));
  }
}

void CheckLabel(const BackupSettings& s, platform::Clock& clock, CheckReport& report) {
  if (s.UpdateArchiveField == 0) {
    report.Ok("archive label", "none, UpdateArchiveField=0");
    return;
  }
  const ArchiveLabel label = PeekArchiveLabel(s, clock);
  if (label.Fits())
    report.Ok("archive label", "the next run writes " + label.text);
  else
    report.Fail("archive label",
                label.text + " is longer than " + std::to_string(kMaxArchiveLabelLength) +
                    " characters: no row would be labelled",
                "Shorten ArchivePrefixForDBEntry");
}

void CheckAutomaticStart(platform::Clock& clock, CheckReport& report) {
  std::optional<std::time_t> next = NextAutoStart(clock.Now(), AutoStartOnHour, AutoStartOnDay);
  if (!next) {
    report.Ok("automatic start", "none (AutoStartOnHour=" + std::to_string(AutoStartOnHour) +
                                     ", AutoStartOnDay=" + std::to_string(AutoStartOnDay) + ")");
    return;
  }
  std::tm local = platform::LocalTime(*next);
  char when[64];
  std::strftime(when, sizeof when, "%A %d.%m.%Y %H:%M", &local);
  report.Ok("automatic start", std::string(when) + " (by the window or --service)");
}

}  // namespace

int CheckInstallation(const BackupSettings& settings, std::ostream& out, platform::Clock& clock) {
  CheckReport report(out);
  CheckSettingsFile(report);
  CheckDownloadScheme(settings, report);
  CheckBaseAndLogFolders(report);
  CheckDownloadAndBackupDirectories(settings, report);
  CheckWget(settings, report);
  CheckAlarmProgram(settings, report);
  CheckCredentialFiles(settings.UseDSN, report);
  std::optional<PendingRows> rows = CheckDataSource(settings, report, clock);
  // Asked in an unknown scheme, a server could only time out.
  if (rows && IsKnownDownloadScheme(settings.DownloadScheme)) CheckServers(settings, *rows, report);
  CheckLabel(settings, clock, report);
  CheckAutomaticStart(clock, report);
  out.flush();
  WriteLog(report.Summary(), clock);
  return report.Failures();
}

}  // namespace qz
