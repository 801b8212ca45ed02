#include "platform/paths.h"

#include <gtest/gtest.h>

namespace qz::platform {
namespace {

TEST(NativePathTest, MapsWindowsCompositionsToNativePaths) {
  EXPECT_EQ(NativePath("\\qzt\\.\\log\\.\\qzbackup.log"), "/qzt/log/qzbackup.log");
  EXPECT_EQ(NativePath("\\qzt\\backup\\.\\a.wav"), "/qzt/backup/a.wav");
  EXPECT_EQ(NativePath("/data/dl.\\a.wav"), "/data/dl/a.wav");
  EXPECT_EQ(NativePath("/srv/qzt.\\log\\"), "/srv/qzt/log/");
  EXPECT_EQ(NativePath("rel\\dir.\\f"), "rel/dir/f");
}

TEST(NativePathTest, KeepsParentComponentsAndFileNames) {
  EXPECT_EQ(NativePath("/a/b/../c"), "/a/b/../c");
  EXPECT_EQ(NativePath("/a/rec."), "/a/rec.");
  EXPECT_EQ(NativePath("\\"), "/");
  EXPECT_EQ(NativePath("."), ".");
  EXPECT_EQ(NativePath(""), "");
}

// A directory named by a setting is the folder its compositions land in, whether it ends in a
// dot, a separator or neither.
TEST(NativePathTest, DirectoriesAreOneFolderWhereverTheyStand) {
  for (const char* dir : {"/x/rec.", "/x/rec", "/x/rec.\\", "/x/rec/"}) {
    EXPECT_EQ(NativeDirectoryPath(dir), "/x/rec") << dir;
    EXPECT_EQ(PathInDirectory(dir, "a.wav."), "/x/rec/a.wav.") << dir;
  }
  EXPECT_EQ(PathInDirectory("/", "a"), "/a");
  // The text "<dir>.\\<name>" would turn "." into ".." and leave the folder.
  EXPECT_EQ(PathInDirectory(".", "a"), "./a");
}

// Absolute settings, also written the Windows way, and an empty one stay as they are.
TEST(NativePathTest, OnlyRelativeDirectoriesAreMadeAbsolute) {
  EXPECT_EQ(AbsoluteDirectory("dl\\", "/start/"), "/start/dl\\");
  for (const char* kept : {"/qzt/dl", "\\qzt\\backup\\", ""})
    EXPECT_EQ(AbsoluteDirectory(kept, "/start"), kept) << kept;
}

}  // namespace
}  // namespace qz::platform
