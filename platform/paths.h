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

// A path that names a directory: its last component is mapped like every other directory
// component, so "/x/rec." is created, entered and composed into as "/x/rec".
std::string NativeDirectoryPath(std::string_view windowsPath);

// The file `fileName` inside `directory`, the directory mapped by NativeDirectoryPath and the name
// kept as it is. Unlike the text "<directory>.\<name>", it stays inside "." and "..".
std::string PathInDirectory(std::string_view directory, std::string_view fileName);

// A directory setting made absolute: a relative one is put after `base` (an absolute native
// path), so it names one folder whatever the process's working directory later is. An absolute or
// empty setting, or an empty base, is returned as it is.
std::string AbsoluteDirectory(std::string_view directory, std::string_view base);

}  // namespace qz::platform
