#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qz::test {
namespace fs = std::filesystem;

namespace {
fs::path TempRoot() {
  const char* root = std::getenv("QZ_TEST_ROOT");
  return root ? fs::path(root) : fs::temp_directory_path();
}
}  // namespace

TempDir::TempDir() : TempDir(TempRoot()) {}

TempDir::TempDir(const fs::path& root) {
  std::string pattern = (root / "dir.XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::optional<fs::path> OtherFileSystemRoot(const fs::path& here) {
  struct stat shm {
  }, own{};
  if (stat("/dev/shm", &shm) != 0 || stat(here.c_str(), &own) != 0 || shm.st_dev == own.st_dev)
    return std::nullopt;
  return fs::path("/dev/shm");
}

void WriteScript(const fs::path& path, const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body + "\n");
  chmod(path.c_str(), 0755);
}

void PrepareToolInstallation(const fs::path& folder) {
  for (const char* dir : {"download", "backup", "base/log", "bin"})
    fs::create_directories(folder / dir);
  WriteFile(ConfigHome().parent_path() / "xdg" / "hklm.ini",
            "[SOFTWARE\\Corvane\\Corvane Tool]\nDirectory=" + (folder / "base").string() + "\n");
  WriteScript(folder / "bin" / "qze", "exit 0");
  setenv("PATH", ((folder / "bin").string() + ":" + getenv("PATH")).c_str(), 1);
  setenv("no_proxy", "127.0.0.1", 1);
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> LogTexts(const fs::path& logFile) {
  constexpr size_t kStampLength = sizeof("dd.mm.yyyy, hh:mm:ss, ") - 1;
  std::vector<std::string> texts;
  for (const auto& line : ReadLines(logFile)) texts.push_back(line.substr(kStampLength));
  return texts;
}

std::string ParsedMetrics(const fs::path& metricsFile) {
  std::string command = "/usr/bin/python3 '" + std::string(std::getenv("QZ_SOURCE_DIR")) +
                        "/tests/support/parse_metrics.py' '" + metricsFile.string() + "' 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot start " << command;
    return {};
  }
  std::string parsed;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) parsed.append(buffer, n);
  if (pclose(pipe) != 0) ADD_FAILURE() << "the parser rejects " << metricsFile << ": " << parsed;
  return parsed;
}

fs::path ConfigHome() {
  return fs::path(std::getenv("XDG_CONFIG_HOME"));
}

fs::path IniFile() {
  return ConfigHome() / "qzbackup.ini";
}

void ResetConfig() {
  std::error_code ec;
  for (const char* var : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"}) {
    fs::path dir = std::getenv(var);
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
  }
}

PathPrepend::PathPrepend(const fs::path& dir)
    : saved_(std::getenv("PATH") ? std::getenv("PATH") : "") {
  setenv("PATH", (dir.string() + ":" + saved_).c_str(), 1);
}

PathPrepend::~PathPrepend() {
  setenv("PATH", saved_.c_str(), 1);
}

void FakeClock::Sleep(std::chrono::milliseconds duration) {
  pauses.push_back(duration);
  pendingMs_ += duration.count();
  now_ += pendingMs_ / 1000;
  pendingMs_ %= 1000;
}

std::time_t LocalTimeOf(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

std::string FakeTimeLibrary() {
  std::error_code ec;
  for (const auto& dir : std::filesystem::directory_iterator("/usr/lib", ec)) {
    std::filesystem::path library = dir.path() / "faketime" / "libfaketimeMT.so.1";
    if (std::filesystem::exists(library)) return library.string();
  }
  return "libfaketimeMT.so.1";
}

}  // namespace qz::test
