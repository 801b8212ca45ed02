#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <thread>
#include <vector>

#include "platform/registry.h"
#include "tests/support/test_support.h"

namespace qz::platform {
namespace {

using test::ReadFile;
using test::WriteFile;

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override { file_ = (dir_ / "test.ini").string(); }
  test::TempDir dir_;
  std::string file_;
};

TEST_F(ProfileTest, LivesInTheUserConfigurationDirectory) {
  EXPECT_EQ(ProfilePath("qzbackup.ini"), test::ConfigHome() / "qzbackup.ini");
  EXPECT_EQ(ProfilePath("/x/y.ini"), "/x/y.ini");
}

TEST_F(ProfileTest, MatchesSectionsAndKeysWithoutCaseAndTrimsBlanks) {
  WriteFile(file_, "  [ConFig ]  \r\n  WebDocDir  =  some dir  \r\nQuoted=\"  a b \"\n");
  EXPECT_EQ(GetPrivateProfileString("config", "WEBDOCDIR", "def", file_), "some dir");
  EXPECT_EQ(GetPrivateProfileString("CONFIG", "quoted", "def", file_), "  a b ");
  EXPECT_EQ(GetPrivateProfileString("Config", "absent", "def", file_), "def");
  EXPECT_EQ(GetPrivateProfileString("Other", "WebDocDir", "def", file_), "def");
}

TEST_F(ProfileTest, DropsEnclosingSingleQuotesAsDoubleOnes) {
  WriteFile(file_, "[S]\ns='qz_data'\nn='12'\nmixed='a\"\nlone='\nboth=\"'x'\"\n");
  EXPECT_EQ(GetPrivateProfileString("S", "s", "", file_), "qz_data");
  EXPECT_EQ(GetPrivateProfileInt("S", "n", -9, file_), 12);
  EXPECT_EQ(GetPrivateProfileString("S", "mixed", "", file_), "'a\"");
  EXPECT_EQ(GetPrivateProfileString("S", "lone", "", file_), "'");
  EXPECT_EQ(GetPrivateProfileString("S", "both", "", file_), "'x'");
}

TEST_F(ProfileTest, RefusesLineBreaksAnywhereAndLeavesTheFileAlone) {
  WriteFile(file_, "[Config]\nArchiveFlagType=1\n");
  EXPECT_FALSE(WritePrivateProfileString("Config", "WebDocDir", "a\n[WatchDog]\nX=0", file_));
  EXPECT_FALSE(WritePrivateProfileString("Config", "WebDocDir", "a\rb", file_));
  EXPECT_FALSE(WritePrivateProfileString("Config", "Web\nDocDir", "a", file_));
  EXPECT_FALSE(WritePrivateProfileString("Con\r\nfig", "WebDocDir", "a", file_));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(ReadFile(file_), "[Config]\nArchiveFlagType=1\n");
}

TEST_F(ProfileTest, WritesThroughLinksIntoTheTargetKeepingModeAndOwner) {
  std::filesystem::create_directories(dir_ / "managed");
  const std::string target = (dir_ / "managed" / "real.ini").string();
  WriteFile(target, "[Config]\nKey=old\n");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  const bool privileged = geteuid() == 0;
  if (privileged) {
    ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
  }
  // A relative link to an absolute one.
  std::filesystem::create_symlink(target, dir_ / "absolute.ini");
  std::filesystem::create_symlink("absolute.ini", dir_ / "chained.ini");
  EXPECT_TRUE(WritePrivateProfileString("Config", "Key", "new", (dir_ / "chained.ini").string()));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "chained.ini"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "absolute.ini"));
  EXPECT_EQ(ReadFile(target), "[Config]\nKey=new\n");
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (privileged) {
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "managed"), {}), 1);
}

TEST_F(ProfileTest, EmptyValueAndMissingFileGiveTheDefault) {
  WriteFile(file_, "[Config]\nEmpty=\nInt=\n");
  EXPECT_EQ(GetPrivateProfileString("Config", "Empty", "d", file_), "d");
  EXPECT_EQ(GetPrivateProfileInt("Config", "Int", -9, file_), -9);
  EXPECT_EQ(GetPrivateProfileInt("Config", "x", 7, (dir_ / "none.ini").string()), 7);
}

TEST_F(ProfileTest, ReadsIntegersTheWindowsWay) {
  WriteFile(file_,
            "[S]\na=12abc\nb=abc\nc=-5\nd=+7\ne=4294967297\nf=-2147483649\ng= 42 \nh=0x10\n");
  EXPECT_EQ(GetPrivateProfileInt("S", "a", -9, file_), 12);
  EXPECT_EQ(GetPrivateProfileInt("S", "b", -9, file_), 0);
  EXPECT_EQ(GetPrivateProfileInt("S", "c", -9, file_), -5);
  EXPECT_EQ(GetPrivateProfileInt("S", "d", -9, file_), 7);
  EXPECT_EQ(GetPrivateProfileInt("S", "e", -9, file_), 1);
  EXPECT_EQ(GetPrivateProfileInt("S", "f", -9, file_), 2147483647);
  EXPECT_EQ(GetPrivateProfileInt("S", "g", -9, file_), 42);
  EXPECT_EQ(GetPrivateProfileInt("S", "h", -9, file_), 0);
}

TEST_F(ProfileTest, WritesNewKeysAfterTheLastKeyOfTheirSection) {
  WriteFile(file_, "; comment\n[A]\nx=1\n\n[B]\ny=2\n; keep me\nUnknown line\n");
  WritePrivateProfileString("a", "z", "3", file_);
  WritePrivateProfileString("B", "Y", "22", file_);
  WritePrivateProfileString("C", "w", "", file_);
  EXPECT_EQ(ReadFile(file_),
            "; comment\n[A]\nx=1\nz=3\n\n[B]\nY=22\n; keep me\nUnknown line\n[C]\nw=\n");
}

TEST_F(ProfileTest, CreatesTheFileAndItsFolder) {
  std::string nested = (dir_ / "sub" / "new.ini").string();
  EXPECT_TRUE(WritePrivateProfileString("Config", "Key", "v", nested));
  EXPECT_EQ(ReadFile(nested), "[Config]\nKey=v\n");
}

TEST_F(ProfileTest, ConcurrentWritersNeverLoseOrTearTheFile) {
  constexpr int kKeys = 40;
  auto writer = [this](const char* section) {
    for (int i = 0; i < kKeys; ++i)
      WritePrivateProfileString(section, "k" + std::to_string(i), std::to_string(i), file_);
  };
  std::thread a(writer, "Config"), b(writer, "WatchDog");
  a.join();
  b.join();
  for (int i = 0; i < kKeys; ++i) {
    EXPECT_EQ(GetPrivateProfileInt("Config", "k" + std::to_string(i), -9, file_), i);
    EXPECT_EQ(GetPrivateProfileInt("WatchDog", "k" + std::to_string(i), -9, file_), i);
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_EQ(entry.path().filename(), "test.ini") << "temporary file left behind";
}

TEST_F(ProfileTest, RegistryValueComesFromTheMachineHive) {
  test::ResetConfig();
  EXPECT_FALSE(ReadMachineRegistryValue("SOFTWARE\\Corvane\\Corvane Tool", "Directory"));
  WriteFile(MachineRegistryPath(), "[SOFTWARE\\Corvane\\Corvane Tool]\nDirectory=/srv/QZT/\n");
  EXPECT_EQ(ReadMachineRegistryValue("software\\corvane\\corvane tool", "directory"), "/srv/QZT/");
}

}  // namespace
}  // namespace qz::platform
