#include "config/load_settings.h"

#include <gtest/gtest.h>

#include "config/process_values.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

using test::IniFile;
using test::ReadFile;
using test::WriteFile;

class LoadSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetConfig(); }
  // An INI file whose download path is a folder of the test.
  void WriteIni(const std::string& config, const std::string& rest = "") {
    WriteFile(IniFile(), "[Config]\nDownloadPath=" + download_.str() + "/\n" + config + rest);
  }
  int Int(const char* section, const char* key) {
    return platform::GetPrivateProfileInt(section, key, -9, kIniFile);
  }
  test::TempDir download_;
  BackupSettings s_;
};

TEST_F(LoadSettingsTest, FirstStartWritesEveryDefaultInOrder) {
  WriteFile(IniFile(), "[Config]\nDownloadPath=" + download_.str() + "/new\n");
  ASSERT_TRUE(LoadSettings(s_));
  EXPECT_TRUE(std::filesystem::is_directory(download_ / "new"));
  EXPECT_EQ(ReadFile(IniFile()),
            "[Config]\n"
            "DownloadPath=" +
                download_.str() +
                "/new\n"
                "WebDocDir=ConfData\n"
                "MoveToBackupPath=0\nBackupPath=\nUseDSN=qz_data\nGetDataFromTable=recording\n"
                "StartCommandAfterBackup=\nStartAlarmOnError=0\nArchivePrefixForDBEntry=DAT\n"
                "UpdateArchiveField=1\nBackupFromServerRange=0\nArchiveFlagType=0\n"
                "ShowMaxItems=500\nDownloadIfFileAlreadyExists=0\nDownloadTransferRateKbs=0\n"
                "[WatchDog]\n"
                "HardDiskWatchDogActive=0\nCheckHardDiskEveryMin=2\nStartAlarmOnError=7099\n"
                "WaitAfterErrorMin=30\n");
  EXPECT_EQ(s_.WebDocDir, "ConfData");
  EXPECT_EQ(s_.UseDSN, "qz_data");
  EXPECT_EQ(s_.ShowMaxItems, 500);
  EXPECT_EQ(s_.UpdateArchiveField, 1);
  EXPECT_EQ(AutoStartOnDay, 0);
  EXPECT_EQ(AutoStartOnHour, 0);
  EXPECT_EQ(WatchDogAlarmNumber, 7099);
}

// Older INI files have no such key; writing it would change every file a first start touches.
TEST_F(LoadSettingsTest, ChecksumSwitchIsReadButNeverWrittenBack) {
  ASSERT_FALSE(std::filesystem::exists(IniFile()));
  LoadRemainingSettings(s_);
  EXPECT_EQ(s_.WriteChecksumFile, 1);
  std::string ini = ReadFile(IniFile());
  EXPECT_NE(ini.find("ShowMaxItems=500"), std::string::npos);
  EXPECT_EQ(ini.find("WriteChecksumFile"), std::string::npos);

  WriteIni("WriteChecksumFile=0\n");
  ASSERT_TRUE(LoadSettings(s_));
  EXPECT_EQ(s_.WriteChecksumFile, 0);
  EXPECT_EQ(Int("Config", "WriteChecksumFile"), 0);
}

TEST_F(LoadSettingsTest, StoredMinusNineAndEmptyTextsCountAsMissing) {
  WriteIni("WebDocDir=\nShowMaxItems=-9\nBackupPath=\nUseDSN=mine\n");
  ASSERT_TRUE(LoadSettings(s_));
  EXPECT_EQ(s_.WebDocDir, "ConfData");
  EXPECT_EQ(s_.ShowMaxItems, 500);
  EXPECT_EQ(s_.UseDSN, "mine");
  EXPECT_EQ(Int("Config", "ShowMaxItems"), 500);
  EXPECT_EQ(platform::GetPrivateProfileString("Config", "WebDocDir", "", kIniFile), "ConfData");
}

TEST_F(LoadSettingsTest, ConditionalKeysAreNeitherReadNorAddedWhenTheirSwitchIsOff) {
  WriteIni("BackupFromServerRange=2\nArchiveFlagType=3\nAutoStartOnDay=4\n");
  ASSERT_TRUE(LoadSettings(s_));
  std::string ini = ReadFile(IniFile());
  for (const char* key :
       {"FirstServerNumber", "LastServerNumber", "MaxArchiveCount", "AutoStartOnHour"})
    EXPECT_EQ(ini.find(key), std::string::npos) << key;
  EXPECT_EQ(AutoStartOnDay, 4);
  EXPECT_EQ(AutoStartOnHour, 0);
}

TEST_F(LoadSettingsTest, ConditionalKeysLoadWhenTheirSwitchIsOne) {
  WriteIni("BackupFromServerRange=1\nLastServerNumber=9\nArchiveFlagType=1\n");
  ASSERT_TRUE(LoadSettings(s_));
  EXPECT_EQ(s_.FirstServerNumber, 0);
  EXPECT_EQ(s_.LastServerNumber, 9);
  EXPECT_EQ(s_.MaxArchiveCount, 15);
  EXPECT_EQ(Int("Config", "FirstServerNumber"), 0);
  EXPECT_EQ(Int("Config", "MaxArchiveCount"), 15);
}

TEST_F(LoadSettingsTest, RateAndWatchdogPeriodRules) {
  WriteIni("DownloadTransferRateKbs=64\n", "[WatchDog]\nCheckHardDiskEveryMin=0\n");
  ASSERT_TRUE(LoadSettings(s_));
  EXPECT_EQ(s_.DownloadTransferRateKbs, 65536);
  EXPECT_EQ(CheckHardDiskEveryMin, 1);
  EXPECT_EQ(Int("WatchDog", "CheckHardDiskEveryMin"), 0);

  WriteIni("DownloadTransferRateKbs=-5\n", "[WatchDog]\nCheckHardDiskEveryMin=-3\n");
  ASSERT_TRUE(LoadSettings(s_));
  EXPECT_EQ(s_.DownloadTransferRateKbs, -5);
  EXPECT_EQ(CheckHardDiskEveryMin, 1);
}

TEST_F(LoadSettingsTest, KeysKeepTheirPlacesAndLongTextsStayWhole) {
  std::string longPath = "/" + std::string(300, 'p');
  WriteIni("; operator's note\nBackupPath=" + longPath + "\n");
  ASSERT_TRUE(LoadSettings(s_));
  EXPECT_EQ(s_.BackupPath, longPath);
  std::string ini = ReadFile(IniFile());
  EXPECT_LT(ini.find("; operator's note"), ini.find("BackupPath="));
  EXPECT_LT(ini.find("BackupPath="), ini.find("WebDocDir="));
}

TEST_F(LoadSettingsTest, UncreatableDownloadDirectoryStopsAfterTheFirstTwoKeys) {
  WriteFile(IniFile(), "[Config]\nDownloadPath=" + download_.str() + "/a/b\n");
  EXPECT_FALSE(LoadSettings(s_));
  EXPECT_EQ(s_.WebDocDir, "ConfData");
  EXPECT_EQ(ReadFile(IniFile()),
            "[Config]\nDownloadPath=" + download_.str() + "/a/b\nWebDocDir=ConfData\n");
}

TEST_F(LoadSettingsTest, DownloadPathLinkedToAMissingFolderCountsAsUncreatable) {
  std::filesystem::create_directory_symlink(download_ / "gone", download_ / "link");
  WriteFile(IniFile(), "[Config]\nDownloadPath=" + download_.str() + "/link\n");
  EXPECT_FALSE(LoadSettings(s_));
  std::filesystem::create_directory(download_ / "gone");
  EXPECT_TRUE(LoadSettings(s_));
}

// The folder created is the one the run enters and composes into; a second start finds it.
TEST_F(LoadSettingsTest, DownloadDirectoryEndingInADotIsCreatedWithoutIt) {
  for (int start = 0; start < 2; ++start) {
    WriteFile(IniFile(), "[Config]\nDownloadPath=" + download_.str() + "/rec.\n");
    ASSERT_TRUE(LoadSettings(s_));
  }
  EXPECT_TRUE(std::filesystem::is_directory(download_ / "rec"));
  EXPECT_FALSE(std::filesystem::exists(download_ / "rec."));
}

TEST_F(LoadSettingsTest, BaseDirectoryComesFromTheRegistryAndKeepsItsCase) {
  WriteIni("");
  ASSERT_TRUE(LoadSettings(s_));
  EXPECT_EQ(BaseDirectory, "\\qzt\\");
  EXPECT_EQ(LogDirectory, "\\qzt\\.\\log\\");

  WriteFile(platform::MachineRegistryPath(),
            "[SOFTWARE\\Corvane\\Corvane Tool]\nDirectory=/Srv/QZT\n");
  ASSERT_TRUE(LoadSettings(s_));
  EXPECT_EQ(BaseDirectory, "/Srv/QZT");
  EXPECT_EQ(LogDirectory, "/Srv/QZT.\\log\\");
}

}  // namespace
}  // namespace qz
