#include "transfer/download_file.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/event_log.h"
#include "config/process_values.h"
#include "tests/support/test_support.h"
#include "tests/support/test_web_server.h"

namespace qz {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr const char* kRecCommand = "wget --tries=5 --waitretry=2 http://S/ConfData/Rec%2001.wav";

// Replaces PATH for the lifetime of the object.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& path) : saved_(std::getenv("PATH")) {
    setenv("PATH", path.c_str(), 1);
  }
  ~ScopedPath() { setenv("PATH", saved_.c_str(), 1); }

 private:
  std::string saved_;
};

// Every download runs in a fresh current directory and logs into a folder of its own.
class DownloadFileTest : public ::testing::Test {
 protected:
  DownloadFileTest() : savedCwd_(fs::current_path()), savedLogDirectory_(LogDirectory) {
    fs::current_path(work_.path());
    LogDirectory = logs_.str() + "/";
    settings_.WebDocDir = "ConfData";
    setenv("no_proxy", "127.0.0.1", 1);
  }
  ~DownloadFileTest() override {
    fs::current_path(savedCwd_);
    LogDirectory = savedLogDirectory_;
  }

  int Download(const std::string& server, const std::string& name) {
    return DownloadFile(settings_, server, name, clock_);
  }

  // A stand-in wget, run in the staging folder; it may write `args` beside itself.
  void FakeWget(const std::string& body) {
    test::WriteScript(bin_ / "wget",
                      "printf '%s\\n' \"$@\" > \"" + (bin_ / "args").string() + "\"\n" + body);
    fakePath_.emplace(bin_.path());
  }
  Lines FakeWgetArgs() const { return test::ReadLines(bin_ / "args"); }

  Lines Logged() const { return test::ReadLines(logs_ / "qzbackup.log"); }
  std::string LogLine(const std::string& text) {
    std::string line = FormatLogLine(clock_.Now(), text);
    line.pop_back();
    return line;
  }

  // The files of the download directory; its staging folder is always left empty.
  Lines DownloadedFiles() const {
    Lines names;
    for (const auto& entry : fs::directory_iterator(work_.path()))
      names.push_back(entry.path().filename().string());
    if (fs::is_directory(work_ / ".qzfetch")) {
      EXPECT_TRUE(fs::is_empty(work_ / ".qzfetch"));
      names.erase(std::find(names.begin(), names.end(), ".qzfetch"));
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Downloaded(const std::string& name) const { return test::ReadFile(work_ / name); }
  void PlaceOld(const std::string& name) const { test::WriteFile(work_ / name, "old"); }

  test::TempDir work_, logs_, bin_;
  test::FakeClock clock_;
  BackupSettings settings_;

 private:
  fs::path savedCwd_;
  std::string savedLogDirectory_;
  std::optional<test::PathPrepend> fakePath_;
};

TEST_F(DownloadFileTest, EmptyServerOrFileNameStartsNoChild) {
  FakeWget("touch ran");
  EXPECT_EQ(Download("", ""), -2);
  EXPECT_EQ(Download("S", ""), -3);
  EXPECT_EQ(Logged(), (Lines{LogLine("No server for download specified in db"),
                             LogLine("No file for download specified in db")}));
  EXPECT_EQ(DownloadedFiles(), Lines{});
}

TEST_F(DownloadFileTest, BuildsBothCommandLineFormats) {
  FakeWget("echo new > 'Rec 01.wav'");
  EXPECT_EQ(Download("S", "Rec 01.wav"), 1);
  EXPECT_EQ(FakeWgetArgs(),
            (Lines{"--tries=5", "--waitretry=2", "http://S/ConfData/Rec%2001.wav"}));

  settings_.DownloadTransferRateKbs = -5;
  settings_.WebDocDir = "";
  EXPECT_EQ(Download("S", "Rec 01.wav"), 1);
  EXPECT_EQ(FakeWgetArgs(),
            (Lines{"--limit-rate=-5", "--tries=5", "--waitretry=2", "http://S//Rec%2001.wav"}));
  EXPECT_EQ(Logged(),
            (Lines{LogLine(kRecCommand), LogLine("wget --limit-rate=-5 --tries=5 --waitretry=2 "
                                                 "http://S//Rec%2001.wav")}));
}

TEST_F(DownloadFileTest, RunsALongCommandLineWhole) {
  FakeWget("echo new > x.wav");
  const std::string server(600, 'h');
  EXPECT_EQ(Download(server, "x.wav"), 1);
  EXPECT_EQ(FakeWgetArgs().back(), "http://" + server + "/ConfData/x.wav");
  EXPECT_EQ(Logged(),
            Lines{LogLine("wget --tries=5 --waitretry=2 http://" + server + "/ConfData/x.wav")});
}

// Whatever the row's server name and the web directory hold, wget gets its own options and one
// URL; the log shows the command as it always did.
TEST_F(DownloadFileTest, ServerNameAndWebDirectoryStayInsideTheOneUrlArgument) {
  struct Case {
    std::string server, webDocDir, url;
  };
  const Case cases[] = {
      {"H/ConfData/a.wav -O /tmp/x http://H", "ConfData",
       "http://H/ConfData/a.wav -O /tmp/x http://H/ConfData/x.wav"},
      {"H/upload --post-file=/etc/passwd --header=X:", "ConfData",
       "http://H/upload --post-file=/etc/passwd --header=X:/ConfData/x.wav"},
      {"H \"--use-askpass=/bin/sh\" -x -nH", "ConfData",
       "http://H \"--use-askpass=/bin/sh\" -x -nH/ConfData/x.wav"},
      {"a\\\"b\\\\ c'd", "Conf Data", "http://a\\\"b\\\\ c'd/Conf Data/x.wav"},
      // Control bytes can belong to no host or folder and would reach the terminal through wget.
      {"a\tb\nc\x1b", "d\re", "http://a%09b%0Ac%1B/d%0De/x.wav"},
  };
  FakeWget("exit 8");
  for (const Case& c : cases) {
    settings_.WebDocDir = c.webDocDir;
    EXPECT_EQ(Download(c.server, "x.wav"), -1) << c.server;
    EXPECT_EQ(FakeWgetArgs(), (Lines{"--tries=5", "--waitretry=2", c.url})) << c.server;
    EXPECT_EQ(Logged().back(), LogLine("ERROR for cmd: wget --tries=5 --waitretry=2 http://" +
                                       c.server + "/" + c.webDocDir + "/x.wav  [ErrorCode=8]"));
  }
  EXPECT_EQ(Logged().size(), std::size(cases));
  EXPECT_EQ(DownloadedFiles(), Lines{});
}

TEST_F(DownloadFileTest, NonZeroExitLogsTheCodeAndRemovesThePartialFile) {
  FakeWget("echo partial > 'Rec 01.wav'; exit 1");
  EXPECT_EQ(Download("S", "Rec 01.wav"), -1);
  EXPECT_EQ(Logged(),
            Lines{LogLine(std::string("ERROR for cmd: ") + kRecCommand + "  [ErrorCode=1]")});
  EXPECT_EQ(DownloadedFiles(), Lines{});
}

TEST_F(DownloadFileTest, WgetMeetsNoOlderCopyAndTheNewOneReplacesIt) {
  // An older copy, and the partial file a killed run left in the staging folder.
  for (const std::string& name : {std::string("Rec 01.wav"), std::string(250, 'r')}) {
    PlaceOld(name);
    fs::create_directory(work_ / ".qzfetch");
    test::WriteFile(work_ / ".qzfetch" / name, "partial");
    FakeWget("[ -e '" + name + "' ] && exit 99\necho new > '" + name + "'");
    EXPECT_EQ(Download("S", name), 1);
    EXPECT_EQ(Downloaded(name), "new\n");
    EXPECT_EQ(fs::current_path(), work_.path());
  }
  EXPECT_EQ(DownloadedFiles(), (Lines{"Rec 01.wav", std::string(250, 'r')}));
  EXPECT_EQ(Logged()[0], LogLine(kRecCommand));
}

TEST_F(DownloadFileTest, StagingFolderThatCannotBeEmptiedStartsNoDownload) {
  PlaceOld(".qzfetch");
  FakeWget("touch ran");
  EXPECT_EQ(Download("S", "Rec 01.wav"), -1);
  EXPECT_FALSE(fs::exists(bin_ / "args"));
  EXPECT_EQ(Downloaded(".qzfetch"), "old");
  EXPECT_EQ(Logged(), Lines{LogLine(std::string("ERROR for cmd: ") + kRecCommand +
                                    "  [folder .qzfetch cannot be emptied  Error:" +
                                    std::to_string(ENOTDIR) + "]")});
}

// A wget that outlived its tool (Ctrl+C reaches only the tool) writes on into the folder it was
// started in; the next download must never take that late file for its own.
TEST_F(DownloadFileTest, LateWriterOfAnEarlierDownloadNeverFeedsTheNextOne) {
  FakeWget("(sleep 0.3; echo late > \"Rec 01.wav\") &\nexit 1");
  EXPECT_EQ(Download("S", "Rec 01.wav"), -1);
  FakeWget("sleep 0.8");
  EXPECT_EQ(Download("S", "Rec 01.wav"), -1);
  EXPECT_EQ(DownloadedFiles(), Lines{});
}

TEST_F(DownloadFileTest, ExistingFileComesBackAfterAFailure) {
  PlaceOld("Rec 01.wav");
  FakeWget("[ -e 'Rec 01.wav' ] && exit 99\necho partial > 'Rec 01.wav'; exit 4");
  EXPECT_EQ(Download("S", "Rec 01.wav"), -1);
  EXPECT_EQ(DownloadedFiles(), Lines{"Rec 01.wav"});
  EXPECT_EQ(Downloaded("Rec 01.wav"), "old");
}

TEST_F(DownloadFileTest, ExitZeroWithoutTheFileIsAFailure) {
  PlaceOld("Rec 01.wav");
  FakeWget("echo new > 'Rec 01.wav.1'");
  EXPECT_EQ(Download("S", "Rec 01.wav"), -1);
  EXPECT_EQ(Downloaded("Rec 01.wav"), "old");
  EXPECT_EQ(DownloadedFiles(), Lines{"Rec 01.wav"});
  EXPECT_EQ(Logged(), Lines{LogLine(std::string("ERROR for cmd: ") + kRecCommand +
                                    "  [file Rec 01.wav not stored]")});
}

TEST_F(DownloadFileTest, WgetMissingFromPathFailsWithoutALogLine) {
  PlaceOld("Rec 01.wav");
  ScopedPath path(bin_.str());
  EXPECT_EQ(Download("S", "Rec 01.wav"), -1);
  EXPECT_EQ(Logged(), Lines{});
  EXPECT_EQ(DownloadedFiles(), Lines{"Rec 01.wav"});
  EXPECT_EQ(Downloaded("Rec 01.wav"), "old");
}

// The real wget against a real web server on 127.0.0.1, shared by the suite: it starts slowly.
class RealWgetTest : public DownloadFileTest {
 protected:
  static void SetUpTestSuite() { web_ = std::make_unique<test::TestWebServer>(); }
  static void TearDownTestSuite() { web_.reset(); }

  std::string CommandFor(const std::string& encodedName) const {
    return "wget --tries=5 --waitretry=2 http://" + web_->Host() + "/ConfData/" + encodedName;
  }

  static std::unique_ptr<test::TestWebServer> web_;
};

std::unique_ptr<test::TestWebServer> RealWgetTest::web_;

TEST_F(RealWgetTest, EachNameArrivesUnderItsExactNameAndContent) {
  const std::vector<std::pair<std::string, std::string>> names = {{"Rec 01.wav", "Rec%2001.wav"},
                                                                  {"a+b&c.wav", "a%2Bb%26c.wav"},
                                                                  {"100%.wav", "100%25.wav"},
                                                                  {"x'y(1).wav", "x'y(1).wav"},
                                                                  {"\xE4.wav", "%E4.wav"}};
  Lines expectedLog, expectedFiles;
  for (const auto& [name, encoded] : names) {
    web_->Publish(name, "RIFF" + name + std::string("\0\xFF\r\n", 4));
    EXPECT_EQ(Download(web_->Host(), name), 1) << name;
    EXPECT_EQ(Downloaded(name), "RIFF" + name + std::string("\0\xFF\r\n", 4)) << name;
    expectedLog.push_back(LogLine(CommandFor(encoded)));
    expectedFiles.push_back(name);
  }
  std::sort(expectedFiles.begin(), expectedFiles.end());
  EXPECT_EQ(DownloadedFiles(), expectedFiles);
  EXPECT_EQ(Logged(), expectedLog);
}

TEST_F(RealWgetTest, RateLimitGoesIntoTheCommandLine) {
  settings_.DownloadTransferRateKbs = 10240;  // configured 10
  web_->Publish("Rec 01.wav", "data");
  EXPECT_EQ(Download(web_->Host(), "Rec 01.wav"), 1);
  EXPECT_EQ(Downloaded("Rec 01.wav"), "data");
  EXPECT_EQ(Logged(), Lines{LogLine("wget --limit-rate=10240 --tries=5 --waitretry=2 http://" +
                                    web_->Host() + "/ConfData/Rec%2001.wav")});
}

TEST_F(RealWgetTest, MissingFileGivesErrorCode8) {
  EXPECT_EQ(Download(web_->Host(), "gone.wav"), -1);
  EXPECT_EQ(Logged(),
            Lines{LogLine("ERROR for cmd: " + CommandFor("gone.wav") + "  [ErrorCode=8]")});
  EXPECT_EQ(DownloadedFiles(), Lines{});
}

TEST_F(RealWgetTest, RefusedConnectionFails) {
  // A bound socket that does not listen refuses connections and keeps the port taken.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  const std::string host = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  EXPECT_EQ(Download(host, "Rec 01.wav"), -1);
  close(fd);
  ASSERT_EQ(Logged().size(), 1u);
  EXPECT_TRUE(Logged()[0].ends_with("  [ErrorCode=4]")) << Logged()[0];
}

TEST_F(RealWgetTest, ExistingNameIsReplacedNotDuplicated) {
  PlaceOld("Rec 01.wav");
  web_->Publish("Rec 01.wav", "new");
  EXPECT_EQ(Download(web_->Host(), "Rec 01.wav"), 1);
  EXPECT_EQ(DownloadedFiles(), Lines{"Rec 01.wav"});
  EXPECT_EQ(Downloaded("Rec 01.wav"), "new");
}

// wget stores "a\tb.wav" as "a%09b.wav", "a%20b.wav" as "a b.wav" and cuts names longer than 236
// bytes: nothing of such a download may stand in for another recording.
TEST_F(RealWgetTest, NameStoredDifferentlyIsNotASuccessAndLeavesNothing) {
  const std::string longName(246, 'r');
  const std::vector<std::pair<std::string, std::string>> names = {
      {"a\tb.wav", "a%09b.wav"},
      {"a%20b.wav", "a%2520b.wav"},
      {longName + ".wav", longName + ".wav"}};
  Lines expectedLog;
  for (const auto& [name, encoded] : names) {
    web_->Publish(name, "data");
    EXPECT_EQ(Download(web_->Host(), name), -1) << name;
    expectedLog.push_back(
        LogLine("ERROR for cmd: " + CommandFor(encoded) + "  [file " + name + " not stored]"));
  }
  EXPECT_EQ(DownloadedFiles(), Lines{});
  EXPECT_EQ(Logged(), expectedLog);
}

// What one row could make of the old command line split at blanks: write the server's file
// anywhere, send a local file to the server, run a fetched script. Now each is a URL that is not
// found.
TEST_F(RealWgetTest, ServerNamesWithWgetOptionsOnlyEverFetchOneUrl) {
  test::TempDir outside;
  const std::string host = web_->Host();
  const fs::path stolen = outside / "stolen", secret = outside / "secret", canary = outside / "ran";
  test::WriteFile(secret, "local secret");
  web_->Publish("a.wav", "server body");
  web_->Publish("evil.sh", "#!/bin/sh\nid > '" + canary.string() + "'\n");
  const std::string servers[] = {
      host + "/ConfData/a.wav -O " + stolen.string() + " http://" + host,
      host + "/upload --post-file=" + secret.string() + " --header=X:",
      host + "/ConfData/evil.sh --use-askpass=/bin/sh -x -nH -P " + outside.str(),
  };
  const std::size_t requestsBefore = web_->Requests().size();
  for (const std::string& server : servers) {
    EXPECT_EQ(Download(server, "x.wav"), -1) << server;
    ASSERT_FALSE(Logged().empty());
    EXPECT_EQ(Logged().back(), LogLine("ERROR for cmd: wget --tries=5 --waitretry=2 http://" +
                                       server + "/ConfData/x.wav  [ErrorCode=8]"));
  }
  EXPECT_EQ(Logged().size(), std::size(servers));
  EXPECT_EQ(DownloadedFiles(), Lines{});
  Lines outsideFiles;
  for (const auto& entry : fs::directory_iterator(outside.path()))
    outsideFiles.push_back(entry.path().filename().string());
  EXPECT_EQ(outsideFiles, Lines{"secret"});
  const Lines requests = web_->Requests();
  ASSERT_EQ(requests.size(), requestsBefore + std::size(servers));
  for (std::size_t i = requestsBefore; i < requests.size(); ++i)
    EXPECT_TRUE(requests[i].starts_with("GET '/")) << requests[i];
}

// Quotes, backslashes and control bytes in a server name: the row fails as one download of one
// URL with its one ERROR line, the control bytes escaped in it.
TEST_F(RealWgetTest, ServerNamesWithQuotesBackslashesAndControlBytesFailAsOneDownload) {
  const std::string host = web_->Host();
  web_->Publish("x.wav", "data");
  const std::string servers[] = {
      host + "\"x y\"",  host + "\\x", "'" + host + "'", host + "\tz", host + "\nBackup run ended",
      host + "\r\x1b[2J"};
  for (const std::string& server : servers) {
    EXPECT_EQ(Download(server, "x.wav"), -1) << server;
  }
  const Lines log = Logged();
  ASSERT_EQ(log.size(), std::size(servers));
  for (std::size_t i = 0; i < log.size(); ++i) {
    EXPECT_TRUE(log[i].starts_with(LogLine("ERROR for cmd: wget --tries=5 --waitretry=2 http://" +
                                           servers[i] + "/ConfData/x.wav  [ErrorCode=")))
        << log[i];
    EXPECT_EQ(log[i].find_first_of("\t\r\x1b"), std::string::npos) << log[i];
  }
  EXPECT_NE(log[4].find(host + "\\x0aBackup run ended/"), std::string::npos) << log[4];
  EXPECT_EQ(DownloadedFiles(), Lines{});
}

TEST_F(DownloadFileTest, ServerDyingMidTransferLeavesNoFile) {
  test::TestWebServer dying(100000);
  dying.Publish("big.wav", std::string(300000, 'x'));
  EXPECT_EQ(Download(dying.Host(), "big.wav"), -1);
  EXPECT_EQ(DownloadedFiles(), Lines{});
  ASSERT_EQ(Logged().size(), 1u);
  EXPECT_TRUE(Logged()[0].ends_with("  [ErrorCode=4]")) << Logged()[0];
}

}  // namespace
}  // namespace qz
