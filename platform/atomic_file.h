// A file replaced as a whole: the new content goes into a temporary file beside the target, which
// is flushed and renamed over it, so a crash leaves either the old or the new file. A path that is
// a symbolic link names the link's target: the target is replaced, in its own folder, and the
// link stays.
#pragma once

#include <string>
#include <string_view>

namespace qz::platform {

// The temporary file is the target's name with this appended, its X's made unique.
inline constexpr std::string_view kAtomicTemporarySuffix = ".XXXXXX";

// A new file's permissions as open() would give them: 0666 less the process's umask.
inline constexpr int kModeFromUmask = -1;

class AtomicFileWriter {
 public:
  // Opens the temporary file; Ok() is false (errno in Error()) when that fails.
  explicit AtomicFileWriter(std::string path, int newFileMode = kModeFromUmask);
  // Removes the temporary file unless Commit succeeded.
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  bool Ok() const { return error_ == 0; }
  int Error() const { return error_; }
  bool Write(std::string_view text);
  // Keeps the target's permissions (the new-file mode for a new one) and, where allowed, its owner
  // and group;
  // flushes, renames, flushes the directory.
  bool Commit();

 private:
  bool Fail();
  std::string path_;
  std::string temp_;
  int newFileMode_;
  int fd_ = -1;
  int error_ = 0;
  bool committed_ = false;
};

}  // namespace qz::platform
