#include "app/check_command.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "check/installation_check.h"
#include "config/load_settings.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace qz {
namespace {

// A settings file that is there but cannot be read would make every key its default in silence.
bool SettingsCanBeRead(std::string& why) {
  const std::string path = platform::ProfilePath(kIniFile);
  if (!platform::PathExists(path)) return true;
  int fd = open(path.c_str(), O_RDONLY);
  char byte;
  if (fd < 0 || read(fd, &byte, 1) < 0) {
    why = path + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  close(fd);
  return true;
}

}  // namespace

int RunCheck() {
  std::string why;
  if (!SettingsCanBeRead(why)) {
    std::fprintf(stderr, "qzbackup: the settings cannot be loaded: %s\n", why.c_str());
    return 2;
  }
  BackupSettings settings;
  ReadSettingsOnly(settings);
  return CheckInstallation(settings, std::cout) == 0 ? 0 : 1;
}

}  // namespace qz
