// The one registry value the tool reads. The HKEY_LOCAL_MACHINE hive is an INI file, hklm.ini, in
// the first folder of $XDG_CONFIG_DIRS (default /etc/xdg): section = key path, key = value name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qz::platform {

std::string MachineRegistryPath();

// The text value, or nothing when the key or the value is absent.
std::optional<std::string> ReadMachineRegistryValue(std::string_view keyPath,
                                                    std::string_view valueName);

}  // namespace qz::platform
