#include "transfer/server_probe.h"

#include <cstdlib>
#include <sstream>

#include "platform/program_probe.h"
#include "transfer/download_url.h"
#include "transfer/url_encoder.h"

namespace qz {
namespace {

// "  HTTP/1.1 200 OK" as -S shows each response.
int StatusOfResponseLine(const std::string& line) {
  const auto start = line.find_first_not_of(' ');
  if (start == std::string::npos || line.compare(start, 5, "HTTP/") != 0) return 0;
  const auto blank = line.find(' ', start);
  return blank == std::string::npos ? 0 : std::atoi(line.c_str() + blank + 1);
}

// The lines in which wget names why it gave up.
bool IsReasonLine(const std::string& line) {
  return line.find("ERROR") != std::string::npos || line.find("failed:") != std::string::npos ||
         line.find("Unable to establish") != std::string::npos ||
         line.find("does not exist") != std::string::npos ||
         line.find("Username/Password") != std::string::npos;
}

// wget's exit status when it could not verify a server's certificate.
constexpr int kWgetCertificateFailure = 5;
constexpr int kMethodNotAllowed = 405;

std::vector<std::string> WgetArguments(std::vector<std::string> args,
                                       const BackupSettings& settings, const std::string& server,
                                       const std::string& fileName, std::chrono::seconds timeout) {
  if (settings.DownloadTransferRateKbs != 0)
    args.push_back("--limit-rate=" + std::to_string(settings.DownloadTransferRateKbs));
  args.push_back("--tries=1");
  args.push_back("--timeout=" + std::to_string(timeout.count()));
  args.push_back(DownloadUrl(settings, server, UrlEncoder().Encode(fileName)));
  return args;
}

ServerAnswer Ask(const std::vector<std::string>& args, std::chrono::seconds timeout) {
  // wget's own timeout covers each step; the limit covers the whole, DNS and TLS included.
  platform::CapturedRun run = platform::RunCaptured(args, timeout * 3);
  if (!run.started) return {false, 0, "wget cannot be started"};
  return ReadProbeOutput(run.output, run.exitCode);
}

}  // namespace

std::vector<std::string> ProbeArguments(const BackupSettings& settings, const std::string& server,
                                        const std::string& fileName, std::chrono::seconds timeout) {
  return WgetArguments({"wget", "--spider", "-S"}, settings, server, fileName, timeout);
}

std::vector<std::string> FirstByteArguments(const BackupSettings& settings,
                                            const std::string& server, const std::string& fileName,
                                            std::chrono::seconds timeout) {
  return WgetArguments({"wget", "-S", "-O", "/dev/null", "--header=Range: bytes=0-0"}, settings,
                       server, fileName, timeout);
}

ServerAnswer ReadProbeOutput(const std::string& output, std::optional<int> exitCode) {
  ServerAnswer answer;
  std::string reason;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (int status = StatusOfResponseLine(line)) answer.httpStatus = status;
    // The first names the cause; later ones add detail.
    if (reason.empty() && IsReasonLine(line)) reason = line.substr(line.find_first_not_of(' '));
  }
  answer.delivers = exitCode == 0;
  answer.certificateRefused = exitCode == kWgetCertificateFailure;
  if (answer.delivers) return answer;
  if (!exitCode)
    answer.error = "no answer in time";
  else if (!reason.empty())
    answer.error = reason;
  else
    answer.error = "wget ended with exit code " + std::to_string(*exitCode);
  return answer;
}

ServerAnswer ProbeServer(const BackupSettings& settings, const std::string& server,
                         const std::string& fileName, std::chrono::seconds timeout) {
  ServerAnswer answer = Ask(ProbeArguments(settings, server, fileName, timeout), timeout);
  if (answer.delivers || answer.httpStatus != kMethodNotAllowed) return answer;
  return Ask(FirstByteArguments(settings, server, fileName, timeout), timeout);
}

}  // namespace qz
