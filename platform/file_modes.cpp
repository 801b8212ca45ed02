#include "platform/file_modes.h"

#include <sys/stat.h>

#include <fstream>
#include <string>

namespace qz::platform {

void CloseUmaskToOthers() {
  mode_t old = umask(S_IRWXO);
  umask(old | S_IRWXO);
}

unsigned CurrentUmask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
  // Without /proc the narrowest mask: a file made too private can be opened up, not taken back.
  return 077;
}

}  // namespace qz::platform
