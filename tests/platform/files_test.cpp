#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "tests/support/test_support.h"

namespace qz::platform {
namespace {

using test::ReadFile;
using test::WriteFile;

class FilesTest : public ::testing::Test {
 protected:
  std::string P(const std::string& name) { return (dir_ / name).string(); }
  test::TempDir dir_;
};

TEST_F(FilesTest, MoveFailsWhenTheTargetExists) {
  WriteFile(P("a"), "new");
  WriteFile(P("b"), "old");
  EXPECT_FALSE(MoveFile(P("a"), P("b")));
  EXPECT_EQ(LastError(), EEXIST);
  EXPECT_EQ(ReadFile(P("b")), "old");
  EXPECT_EQ(ReadFile(P("a")), "new");
  EXPECT_TRUE(MoveFile(P("a"), P("c")));
  EXPECT_FALSE(PathExists(P("a")));
  EXPECT_EQ(ReadFile(P("c")), "new");
}

TEST_F(FilesTest, MoveAcrossFileSystemsCopiesAndRemovesTheSource) {
  // /dev/shm is a tmpfs; the test folder usually is not.
  struct stat shm {
  }, here{};
  if (stat("/dev/shm", &shm) != 0 || stat(dir_.str().c_str(), &here) != 0 ||
      shm.st_dev == here.st_dev)
    GTEST_SKIP() << "no second file system";
  std::string source = "/dev/shm/qz-move-" + std::to_string(getpid());
  WriteFile(source, std::string(200000, 'x'));
  EXPECT_TRUE(MoveFile(source, P("moved")));
  EXPECT_FALSE(PathExists(source));
  EXPECT_EQ(ReadFile(P("moved")), std::string(200000, 'x'));
}

TEST_F(FilesTest, CopyReplacesOrRefusesAnExistingTarget) {
  WriteFile(P("src"), "content");
  WriteFile(P("dst"), "old");
  EXPECT_FALSE(CopyFile(P("src"), P("dst"), true));
  EXPECT_EQ(ReadFile(P("dst")), "old");
  EXPECT_TRUE(CopyFile(P("src"), P("dst"), false));
  EXPECT_EQ(ReadFile(P("dst")), "content");
  EXPECT_FALSE(CopyFile(P("missing"), P("x"), false));
  EXPECT_EQ(LastError(), ENOENT);
  EXPECT_FALSE(PathExists(P("x")));
}

TEST_F(FilesTest, FailedCopyLeavesNoPartialFile) {
  WriteFile(P("src"), "content");
  EXPECT_FALSE(CopyFile(P("src"), P("nodir/dst"), false));
  EXPECT_EQ(LastError(), ENOENT);
  mkdir(P("ro").c_str(), 0555);
  if (geteuid() != 0) {
    EXPECT_FALSE(CopyFile(P("src"), P("ro/dst"), false));
    EXPECT_FALSE(PathExists(P("ro/dst")));
  }
}

TEST_F(FilesTest, CreatesOneDirectoryLevelOnly) {
  EXPECT_TRUE(CreateDirectory(P("one")));
  EXPECT_TRUE(PathExists(P("one.\\")));
  EXPECT_FALSE(CreateDirectory(P("two\\three")));
  EXPECT_EQ(LastError(), ENOENT);
}

TEST_F(FilesTest, DirectoryTestFollowsLinksWhereTheNameTestDoesNot) {
  ASSERT_TRUE(CreateDirectory(P("dir")));
  WriteFile(P("file"), "x");
  std::filesystem::create_directory_symlink(P("dir"), P("to-dir"));
  std::filesystem::create_symlink(P("gone"), P("dangling"));
  EXPECT_TRUE(DirectoryExists(P("dir")));
  EXPECT_TRUE(DirectoryExists(P("to-dir\\")));
  EXPECT_FALSE(DirectoryExists(P("dangling")));
  EXPECT_EQ(LastError(), ENOENT);
  EXPECT_FALSE(DirectoryExists(P("file")));
  EXPECT_EQ(LastError(), ENOTDIR);
  EXPECT_TRUE(PathExists(P("dangling")));
}

TEST_F(FilesTest, FreeSpaceOfTheFileSystemHoldingThePath) {
  auto free = FreeBytesAvailable(dir_.str());
  ASSERT_TRUE(free.has_value());
  EXPECT_GT(*free, 0u);
  EXPECT_FALSE(FreeBytesAvailable(P("missing/dir")).has_value());
}

}  // namespace
}  // namespace qz::platform
