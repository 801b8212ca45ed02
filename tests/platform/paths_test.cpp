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

}  // namespace
}  // namespace qz::platform
