// Asks a recording server whether it would deliver one recording, without fetching it: wget
// requests the headers only (--spider), through the same URL and wget configuration as a run. A
// server that refuses HEAD (405) is asked for the recording's first byte instead.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "config/backup_settings.h"

namespace qz {

struct ServerAnswer {
  bool delivers = false;            // wget ended with 0: the recording would be fetched
  int httpStatus = 0;               // the last HTTP status the server gave, 0 when none
  std::string error;                // wget's own reason when it does not deliver, or its exit code
  bool certificateRefused = false;  // wget could not verify the server's certificate
};

// The argument vector: the run's rate limit, one try, `timeout` for each network step, and the
// URL as one argument, however it reads.
std::vector<std::string> ProbeArguments(const BackupSettings& settings, const std::string& server,
                                        const std::string& fileName, std::chrono::seconds timeout);

// The same request as a GET of the first byte only, thrown away.
std::vector<std::string> FirstByteArguments(const BackupSettings& settings,
                                            const std::string& server, const std::string& fileName,
                                            std::chrono::seconds timeout);

ServerAnswer ProbeServer(const BackupSettings& settings, const std::string& server,
                         const std::string& fileName,
                         std::chrono::seconds timeout = std::chrono::seconds(10));

// What wget printed with --spider -S, read into an answer; `exitCode` nothing when it was killed.
ServerAnswer ReadProbeOutput(const std::string& output, std::optional<int> exitCode);

}  // namespace qz
