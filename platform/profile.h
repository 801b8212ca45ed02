// Private-profile (INI) files with the semantics of the Windows profile functions: sections and
// keys match without regard to case, names and values are trimmed, a new key goes after the last
// key of its section. Every write replaces the file atomically and writes are serialised in the
// process, because the main thread and the disk watchdog both write the same file.
#pragma once

#include <string>
#include <string_view>

namespace qz::platform {

// A file name without a directory lives in the user's configuration directory
// ($XDG_CONFIG_HOME, default ~/.config), as Windows keeps such files in its own directory.
std::string ProfilePath(std::string_view file);

// The value of `key`, read as Windows reads integers: optional sign, then the leading decimal
// digits ("12abc" is 12, "abc" is 0), wrapping at 32 bits. Absent key or empty value: `def`.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int def,
                         std::string_view file);

// The value of `key`, trimmed, without enclosing double or single quotes. Absent or empty: `def`.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view def, std::string_view file);

// Creates or replaces `key` in `section`, creating the section and the file as needed. A section,
// key or value holding a carriage return or line feed is refused (false, errno EINVAL) and
// nothing is written: it would break the entry into lines of its own.
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view file);

}  // namespace qz::platform
