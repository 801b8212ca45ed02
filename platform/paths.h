// The logic composes paths the Windows way ("%s.\%s"); this is the one place where such a path
// becomes a native one.
#pragma once

#include <string>
#include <string_view>

namespace qz::platform {

// Backslashes become slashes, and trailing dots are dropped from every directory component (as the
// Windows file system drops them), so "dl.\a.wav" names "dl/a.wav". The components "." and ".."
// keep their meaning, and the last component (a file name) is left as it is.
std::string NativePath(std::string_view windowsPath);

}  // namespace qz::platform
