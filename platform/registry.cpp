#include "platform/registry.h"

#include <cstdlib>

#include "platform/profile.h"

namespace qz::platform {

std::string MachineRegistryPath() {
  std::string dirs = std::getenv("XDG_CONFIG_DIRS") ? std::getenv("XDG_CONFIG_DIRS") : "";
  std::string first = dirs.substr(0, dirs.find(':'));
  if (first.empty()) first = "/etc/xdg";
  return first + "/hklm.ini";
}

std::optional<std::string> ReadMachineRegistryValue(std::string_view keyPath,
                                                    std::string_view valueName) {
  std::string value = GetPrivateProfileString(keyPath, valueName, "", MachineRegistryPath());
  if (value.empty()) return std::nullopt;
  return value;
}

}  // namespace qz::platform
