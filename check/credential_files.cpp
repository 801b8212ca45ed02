#include "check/credential_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

#include "platform/profile.h"

namespace qz {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string Home() {
  return Environment("HOME");
}

// Where unixODBC looks for a data source: the user's file, then the system's.
std::vector<std::string> OdbcIniFiles() {
  std::string user = Environment("ODBCINI");
  if (user.empty()) user = Home() + "/.odbc.ini";
  std::string system = Environment("ODBCSYSINI");
  return {user, (system.empty() ? "/etc" : system) + "/odbc.ini"};
}

bool DataSourceHasPassword(const std::string& file, const std::string& dsn) {
  for (const char* key : {"Password", "PWD"})
    if (!platform::GetPrivateProfileString(dsn, key, "", file).empty()) return true;
  return false;
}

// wget reads the system's wgetrc and then $WGETRC or ~/.wgetrc. Its command names ignore case,
// '_' and '-': http_password, ftp-password, passwd and the like all set one.
std::vector<std::string> WgetrcFiles() {
  std::string user = Environment("WGETRC");
  return {"/etc/wgetrc", user.empty() ? Home() + "/.wgetrc" : user};
}

bool WgetrcHasPassword(const std::string& file) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    std::string command;
    for (char c : line.substr(0, line.find('=')))
      if (c != '_' && c != '-' && !std::isspace(static_cast<unsigned char>(c)))
        command += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (line.find('=') == std::string::npos || command.starts_with("#")) continue;
    if (command.ends_with("password") || command.ends_with("passwd")) return true;
  }
  return false;
}

bool NetrcHasPassword(const std::string& file) {
  std::ifstream in(file);
  for (std::string word; in >> word;)
    if (word == "password") return true;
  return false;
}

bool ReadableByOthers(const std::string& file) {
  struct stat st {};
  return stat(file.c_str(), &st) == 0 && (st.st_mode & S_IROTH) != 0;
}

}  // namespace

std::vector<std::string> PasswordFilesOpenToOthers(const std::string& dataSourceName) {
  std::vector<std::string> open;
  auto add = [&open](const std::string& file) {
    if (std::find(open.begin(), open.end(), file) == open.end()) open.push_back(file);
  };
  for (const std::string& file : OdbcIniFiles())
    if (ReadableByOthers(file) && DataSourceHasPassword(file, dataSourceName)) add(file);
  for (const std::string& file : WgetrcFiles())
    if (ReadableByOthers(file) && WgetrcHasPassword(file)) add(file);
  const std::string netrc = Home() + "/.netrc";
  if (ReadableByOthers(netrc) && NetrcHasPassword(netrc)) add(netrc);
  return open;
}

void CheckCredentialFiles(const std::string& dataSourceName, CheckReport& report) {
  const std::vector<std::string> open = PasswordFilesOpenToOthers(dataSourceName);
  if (open.empty()) {
    report.Ok("passwords", "no file that holds a password for the run is readable by others");
    return;
  }
  for (const std::string& file : open)
    report.Warn("passwords",
                OneLine(file) + " holds a password and is readable by every local user",
                "chmod o-r " + OneLine(file) + " (the user the tool runs as must still read it)");
}

}  // namespace qz
