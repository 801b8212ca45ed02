#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "tests/support/prerequisite.h"
#include "tests/support/test_support.h"
#include "tests/support/write_refusing_folder.h"

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
  auto other = test::OtherFileSystemRoot(dir_.path());
  if (!other) QZ_SKIP_OUTSIDE_CI("no second file system: /dev/shm is on the same one as the tests");
  test::TempDir there(*other);
  // The longest name a file system takes still leaves room for the temporary copy's name.
  for (const std::string& name : {std::string("moved"), std::string(255, 'n')}) {
    std::string source = (there / name).string();
    WriteFile(source, std::string(200000, 'x'));
    EXPECT_TRUE(MoveFile(source, P(name))) << LastError();
    EXPECT_FALSE(PathExists(source));
    EXPECT_EQ(ReadFile(P(name)), std::string(200000, 'x'));
  }
}

TEST_F(FilesTest, CopyOfTheLongestNameReplacesItsTarget) {
  const std::string name(255, 'n');
  WriteFile(P("src"), "content");
  WriteFile(P(name), "old");
  EXPECT_TRUE(CopyFile(P("src"), P(name), false)) << LastError();
  EXPECT_EQ(ReadFile(P(name)), "content");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2);
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
  mkdir(P("ro").c_str(), 0755);
  test::WriteRefusingFolder readOnly(P("ro"));
  if (!readOnly.Failure().empty()) QZ_SKIP_OUTSIDE_CI(readOnly.Failure());
  EXPECT_FALSE(CopyFile(P("src"), P("ro/dst"), false));
  EXPECT_EQ(LastError(), readOnly.RefusalError());
  EXPECT_FALSE(PathExists(P("ro/dst")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(P("ro")), {}), 0);
}

// A folder that refuses writes: the move neither takes the file nor leaves a part of it there.
TEST_F(FilesTest, MoveIntoAFolderThatRefusesWritesKeepsTheSource) {
  WriteFile(P("src"), "content");
  mkdir(P("ro").c_str(), 0755);
  test::WriteRefusingFolder readOnly(P("ro"));
  if (!readOnly.Failure().empty()) QZ_SKIP_OUTSIDE_CI(readOnly.Failure());
  EXPECT_FALSE(MoveFile(P("src"), P("ro/dst")));
  EXPECT_EQ(LastError(), readOnly.RefusalError());
  EXPECT_EQ(ReadFile(P("src")), "content");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(P("ro")), {}), 0);
}

// A new file gets what open() would give it under the umask; the kept one keeps its own mode.
TEST_F(FilesTest, ReplacedContentsKeepThePermissionsOfTheFile) {
  ASSERT_TRUE(CreateDirectory(P("d")));
  WriteFile(P("d/kept"), "old");
  chmod(P("d/kept").c_str(), 0600);
  mode_t umaskBefore = umask(027);
  EXPECT_TRUE(ReplaceFileContents(P("d.\\kept"), "new")) << LastError();
  EXPECT_TRUE(ReplaceFileContents(P("d\\fresh"), "first")) << LastError();
  umask(umaskBefore);
  EXPECT_EQ(ReadFile(P("d/kept")), "new");
  EXPECT_EQ(ReadFile(P("d/fresh")), "first");
  struct stat st {};
  ASSERT_EQ(stat(P("d/kept").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(stat(P("d/fresh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(P("d")), {}), 2);
}

TEST_F(FilesTest, FailedReplaceLeavesTheOldFileAndNoTemporaryFile) {
  EXPECT_FALSE(ReplaceFileContents(P("nodir/f"), "x"));
  EXPECT_EQ(LastError(), ENOENT);
  // The temporary file is written, then cannot take the place of a directory.
  std::filesystem::create_directories(P("busy/inside"));
  EXPECT_FALSE(ReplaceFileContents(P("busy"), "x"));
  EXPECT_EQ(LastError(), EISDIR);
  EXPECT_TRUE(DirectoryExists(P("busy/inside")));
  WriteFile(P("old"), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2);
  {
    test::WriteRefusingFolder readOnly(dir_.path());
    if (!readOnly.Failure().empty()) QZ_SKIP_OUTSIDE_CI(readOnly.Failure());
    EXPECT_FALSE(ReplaceFileContents(P("old"), "new"));
    EXPECT_EQ(LastError(), readOnly.RefusalError());
  }
  EXPECT_EQ(ReadFile(P("old")), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2);
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

TEST_F(FilesTest, ClearingEmptiesADirectoryButNeverFollowsALink) {
  std::filesystem::create_directories(P("d/sub"));
  WriteFile(P("d/sub/f"), "x");
  WriteFile(P("d/g"), "x");
  std::filesystem::create_directory(P("kept"));
  WriteFile(P("kept/f"), "x");
  std::filesystem::create_directory_symlink(P("kept"), P("d/link"));
  std::filesystem::create_directory_symlink(P("kept"), P("link"));
  EXPECT_TRUE(ClearDirectory(P("d")));
  EXPECT_TRUE(std::filesystem::is_empty(P("d")));
  EXPECT_FALSE(ClearDirectory(P("link")));
  EXPECT_EQ(LastError(), ENOTDIR);
  EXPECT_EQ(ReadFile(P("kept/f")), "x");
}

TEST_F(FilesTest, FreeSpaceOfTheFileSystemHoldingThePath) {
  auto free = FreeBytesAvailable(dir_.str());
  ASSERT_TRUE(free.has_value());
  EXPECT_GT(*free, 0u);
  EXPECT_FALSE(FreeBytesAvailable(P("missing/dir")).has_value());
}

}  // namespace
}  // namespace qz::platform
