// Shared helpers of the test suites: temporary folders, whole-file reads and writes, a simulated
// clock, and a PATH with stand-in programs first.
#pragma once

#include <chrono>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace qz::test {

// A fresh folder under the test run's temporary root, removed with everything in it.
class TempDir {
 public:
  TempDir();
  // A fresh folder under `root` instead.
  explicit TempDir(const std::filesystem::path& root);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);

// libfaketime's multi-threaded library, for LD_PRELOAD into the tool under test.
std::string FakeTimeLibrary();
void WriteFile(const std::filesystem::path& path, const std::string& content);
// Writes an executable shell script.
void WriteScript(const std::filesystem::path& path, const std::string& body);
std::vector<std::string> ReadLines(const std::filesystem::path& path);
// The texts of an event log's lines, without their time stamps.
std::vector<std::string> LogTexts(const std::filesystem::path& logFile);

// A metrics file as Prometheus' own text parser reads it (tests/support/parse_metrics.py): a
// "# TYPE name type" line per family, then "name{k=v,...} value" per sample, the value as a Python
// float. A file the parser rejects fails the calling test.
std::string ParsedMetrics(const std::filesystem::path& metricsFile);

// The per-process configuration folder that test_main points XDG_CONFIG_HOME at.
std::filesystem::path ConfigHome();
// The INI file of the tool inside ConfigHome().
std::filesystem::path IniFile();
// Empties ConfigHome() and the registry stand-in.
void ResetConfig();

// An installation for the tool's binary in `folder`: folders download, backup, base/log (the base
// directory named in the registry stand-in) and bin, a stand-in alarm program bin/qze first on
// PATH, and no proxy for 127.0.0.1.
void PrepareToolInstallation(const std::filesystem::path& folder);

// A folder for temporary files on another file system than `here` (the tmpfs /dev/shm), or
// nothing when there is none.
std::optional<std::filesystem::path> OtherFileSystemRoot(const std::filesystem::path& here);

// Puts `dir` first on PATH for the lifetime of the object.
class PathPrepend {
 public:
  explicit PathPrepend(const std::filesystem::path& dir);
  ~PathPrepend();

 private:
  std::string saved_;
};

// Simulated time: Now() reads a settable counter, Sleep advances it and records each pause.
class FakeClock : public platform::Clock {
 public:
  explicit FakeClock(std::time_t start = 0) : now_(start) {}
  std::time_t Now() override { return now_; }
  void Sleep(std::chrono::milliseconds duration) override;
  void Set(std::time_t t) { now_ = t; }
  std::vector<std::chrono::milliseconds> pauses;

 private:
  std::time_t now_;
  long long pendingMs_ = 0;
};

// Local calendar time -> time_t (mktime with isdst = -1).
std::time_t LocalTimeOf(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

}  // namespace qz::test
