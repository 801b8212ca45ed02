#include "config/installation_owner.h"

#include <pwd.h>
#include <sys/stat.h>

#include "config/backup_settings.h"
#include "config/load_settings.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace qz {
namespace {

struct Owned {
  std::string path;
  uid_t owner;
};

// The first of the installation's paths that exists and belongs to someone other than `self`.
std::optional<Owned> ForeignPath(uid_t self) {
  std::string base =
      platform::ReadMachineRegistryValue(kRegistryKey, kRegistryValue).value_or("\\qzt\\");
  if (base.empty()) base = "\\qzt\\";
  for (const std::string& path :
       {platform::NativeDirectoryPath(base), platform::NativeDirectoryPath(base + ".\\log\\"),
        platform::ProfilePath(kIniFile)}) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && st.st_uid != self) return Owned{path, st.st_uid};
  }
  return std::nullopt;
}

// A packaged service keeps its settings in its home, where XDG_CONFIG_HOME must point.
std::string CommandAs(const passwd* user, const std::string& option) {
  std::string command = "runuser -u " + std::string(user->pw_name) + " -- ";
  const std::string home = user->pw_dir ? user->pw_dir : "";
  if (!home.empty() && platform::PathExists(home + "/" + kIniFile))
    command += "env XDG_CONFIG_HOME=" + home + " ";
  return command + "qzbackup" + (option.empty() ? "" : " " + option);
}

}  // namespace

std::optional<std::string> RefuseAnotherUsersInstallation(uid_t self, const std::string& option) {
  if (self != 0) return std::nullopt;
  std::optional<Owned> foreign = ForeignPath(self);
  if (!foreign) return std::nullopt;
  const passwd* user = getpwuid(foreign->owner);
  std::string refusal = "qzbackup: " + foreign->path + " belongs to ";
  if (!user)
    return refusal + "uid " + std::to_string(foreign->owner) +
           ", which has no user name; run the tool as that uid, not as root\n";
  return refusal + "user " + user->pw_name +
         "; files root made there could not be written by it. Run as that user:\n  " +
         CommandAs(user, option) + "\n";
}

}  // namespace qz
