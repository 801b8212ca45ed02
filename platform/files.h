// File-system operations with the Windows behaviour the logic relies on. Every path goes through
// NativePath. Failures leave their errno in LastError() of the calling thread.
#pragma once

#include <cstdint>
#include <functional>
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

// Renames, removals and new names below are not flushed to disk: a caller flushes the directory
// whose entry something depends on (SyncDirectory), once, where that dependence begins.
bool DeleteFile(std::string_view path);

// Fails with EEXIST when the target exists. The new name is on disk when it returns true (the
// target's directory flushed once; the source's is not). Moves across file systems by a copy
// whose content and name are on disk before the source is removed.
bool MoveFile(std::string_view from, std::string_view to);

// Renames over an existing target, on one file system only.
bool MoveFileReplacing(std::string_view from, std::string_view to);

// Copies into a temporary file beside the target, flushes its content and renames it over the
// target, so a target is never left half written. With failIfExists an existing target is EEXIST.
bool CopyFile(std::string_view from, std::string_view to, bool failIfExists);

// Flushes a file's content (and its size) to disk.
bool SyncFile(std::string_view path);
// The same for an open file; `path` (native) only names it to a FileEventWatcher.
bool SyncOpenFile(int fd, const std::string& path);
// Flushes a directory's entries to disk, so names made or removed in it survive a crash.
bool SyncDirectory(std::string_view path);
// The same for a native path, taken as it is.
bool SyncNativeDirectory(const std::string& path);

// Each flush and rename of this layer, in the order made, for tests that check that a name is
// never made durable before what it promises. `path` is native; `from` is a rename's source.
struct FileEvent {
  enum Kind { kFlush, kRename } kind;
  std::string path;
  std::string from;
};
using FileEventWatcher = std::function<void(const FileEvent&)>;
// One watcher for the process; an empty one ends watching.
void WatchFileEvents(FileEventWatcher watcher);
// Tells the watcher of an event made by another file of this layer.
void ReportFileEvent(const FileEvent& event);

// Replaces the file's whole contents: a temporary file beside it, flushed, renamed over it, and the
// directory flushed, so a crash or a reader sees either the old or the new file. The file keeps
// its permissions (`newFileMode` when new, by default 0666 less the umask); the directory must
// exist.
bool ReplaceFileContents(std::string_view path, std::string_view text,
                         int newFileMode = kModeFromUmask);

// Bytes available to the calling user on the file system that holds `path`.
std::optional<std::uint64_t> FreeBytesAvailable(std::string_view path);

}  // namespace qz::platform
