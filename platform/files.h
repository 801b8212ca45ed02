// File-system operations with the Windows behaviour the logic relies on. Every path goes through
// NativePath. Failures leave their errno in LastError() of the calling thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/atomic_file.h"

namespace qz::platform {

// The name of a copy under way begins so, beside its target, until it is renamed into place.
inline constexpr std::string_view kTemporaryCopyPrefix = ".qzpart.";

// errno of the last failed operation of this layer on the calling thread.
int LastError();

// Whether a name stands at `path`: a dangling symbolic link is a name too, one that blocks it.
bool PathExists(std::string_view path);

// Paths that name a directory are mapped by NativeDirectoryPath.
// True when a directory (or a link to one) stands at the path.
bool DirectoryExists(std::string_view path);
// One directory, no intermediate ones.
bool CreateDirectory(std::string_view path);
bool SetCurrentDirectory(std::string_view path);
// The process's working directory as an absolute native path; empty when it cannot be read.
std::string CurrentDirectory();
// True when both paths name one directory (the same device and inode, through links).
bool IsSameDirectory(std::string_view a, std::string_view b);
// Removes everything inside the directory, which stays. Fails (ENOTDIR) on anything but a real
// directory, a link to one included.
bool ClearDirectory(std::string_view path);
// Removes an empty directory.
bool RemoveDirectory(std::string_view path);

bool DeleteFile(std::string_view path);

// Fails with EEXIST when the target exists. Moves across file systems by a durable copy.
bool MoveFile(std::string_view from, std::string_view to);

// Renames over an existing target, on one file system only, and makes the new name durable.
bool MoveFileReplacing(std::string_view from, std::string_view to);

// Copies into a temporary file beside the target, flushes it to disk and renames it over the
// target, so a target is never left half written. With failIfExists an existing target is EEXIST.
bool CopyFile(std::string_view from, std::string_view to, bool failIfExists);

// Flushes a file's data to disk.
bool SyncFile(std::string_view path);

// Replaces the file's whole contents: a temporary file beside it, flushed, renamed over it, and the
// directory flushed, so a crash or a reader sees either the old or the new file. The file keeps
// its permissions (`newFileMode` when new, by default 0666 less the umask); the directory must
// exist.
bool ReplaceFileContents(std::string_view path, std::string_view text,
                         int newFileMode = kModeFromUmask);

// Bytes available to the calling user on the file system that holds `path`.
std::optional<std::uint64_t> FreeBytesAvailable(std::string_view path);

}  // namespace qz::platform
