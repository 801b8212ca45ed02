// `qzbackup --check` and the ways a recording travels, with the real binary, an SQLite data source,
// real wget and web servers on 127.0.0.1 (plain, HTTPS with a throwaway authority, basic auth).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "backup/archive_label.h"
#include "platform/profile.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/test_web_server.h"

namespace qz {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ReadLines;
using test::WriteFile;
using Lines = std::vector<std::string>;

struct ToolResult {
  int exitCode = -1;
  Lines out;
  std::string err;
};

// Every file below `root` with its content: a change anywhere shows as a difference.
std::map<std::string, std::string> TreeContents(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    tree[entry.path().string()] = entry.is_regular_file() ? ReadFile(entry.path()) : "<folder>";
  }
  return tree;
}

// A port on 127.0.0.1 where nothing listens: taken from the kernel, then released.
int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool HasLineStarting(const Lines& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

std::string Joined(const Lines& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

class CheckCommandTest : public ::testing::Test {
 public:
  void SetUp() override {
    test::ResetConfig();
    source_ = test::MakeSqliteDataSource(folder_ / "data");
    test::PrepareToolInstallation(folder_.path());
    // Every wget records its arguments, then does its work.
    test::WriteScript(folder_ / "bin" / "wget", "printf '%s\\n' \"$@\" >> '" +
                                                    (folder_ / "wget-args").string() +
                                                    "'\nexec /usr/bin/wget \"$@\"");
    UseWgetrc("");
  }
  void TearDown() override { unsetenv("WGETRC"); }

  void UseWgetrc(const std::string& content) {
    WriteFile(folder_ / "wgetrc", content);
    setenv("WGETRC", (folder_ / "wgetrc").string().c_str(), 1);
  }
  // Keys in `extra` come first: the first of two equal keys is the one read.
  void WriteSettings(const std::string& extra = "") {
    WriteFile(test::IniFile(),
              "[Config]\n" + extra + "DownloadPath=" + (folder_ / "download").string() +
                  "/\nMoveToBackupPath=1\nBackupPath=" + (folder_ / "backup").string() +
                  "/\nUseDSN=" + source_->Dsn() + "\n");
  }
  void AddRecording(const test::TestWebServer& web, const std::string& id,
                    const std::string& name) {
    web.Publish(name, "recording " + id);
    source_->Insert(test::RecordingRow(id).Set("SERVERNAME", web.Host()).Set("FILE", name));
  }
  ToolResult Tool(const std::string& option) {
    const fs::path out = folder_ / "tool.out";
    const std::string command = "'" + std::string(QZ_TOOL_BINARY) + "' " + option + " > '" +
                                out.string() + "' 2> '" + out.string() + ".err'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadLines(out),
            ReadFile(out.string() + ".err")};
  }
  // The data, the two directories and the settings, as a run would find them.
  std::map<std::string, std::string> Installation() {
    auto tree = TreeContents(folder_ / "data");
    for (const char* dir : {"download", "backup"}) tree.merge(TreeContents(folder_ / dir));
    tree.merge(TreeContents(test::ConfigHome()));
    return tree;
  }
  Lines LogTexts() { return test::LogTexts(folder_ / "base" / "log" / "qzbackup.log"); }
  std::string ArchiveOf(const std::string& id) { return source_->ArchiveOf(id)[0].value_or(""); }

  test::TempDir folder_;
  std::unique_ptr<test::TestDataSource> source_;
  test::TestWebServer web_;
};

TEST_F(CheckCommandTest, HealthyInstallationIsAllOkAndNothingChanges) {
  // Keys left out on purpose: a load that wrote them back would change the settings file.
  WriteSettings("StartAlarmOnError=7099\nArchiveFlagType=1\nMaxArchiveCount=15\n");
  AddRecording(web_, "1", "rec 1.wav");
  AddRecording(web_, "2", "rec 2.wav");
  const auto before = Installation();

  ToolResult check = Tool("--check");

  EXPECT_EQ(check.exitCode, 0) << Joined(check.out) << check.err;
  for (const std::string& line : check.out) EXPECT_EQ(line.substr(0, 5), "OK   ") << line;
  EXPECT_TRUE(HasLineStarting(check.out,
                              "OK   the run's query: 2 rows selected now: " + web_.Host() + " 2"));
  EXPECT_TRUE(
      HasLineStarting(check.out, "OK   server " + web_.Host() + ": HTTP 200 for rec 1.wav"));
  EXPECT_TRUE(HasLineStarting(check.out, "OK   archive label: the next run writes DAT_1"));
  EXPECT_TRUE(HasLineStarting(check.out, "OK   key of recording: ID"));
  EXPECT_TRUE(HasLineStarting(check.out, "OK   right to label: " + (folder_ / "data/").string()));
  EXPECT_TRUE(HasLineStarting(check.out, "OK   alarm program: " + (folder_ / "bin/qze").string()));
  EXPECT_TRUE(HasLineStarting(check.out, "OK   moving: another folder on the same file system"));
  EXPECT_EQ(Installation(), before) << "--check changed the table, a directory or the settings";
  EXPECT_EQ(LogTexts(), Lines{"Check of installation: " + std::to_string(check.out.size()) +
                              " OK, 0 WARN, 0 FAIL"});
  EXPECT_FALSE(fs::exists(folder_ / "base/log/qzbackup.prom"));
  // The probe asked for headers only, with the URL as one argument.
  const Lines args = ReadLines(folder_ / "wget-args");
  EXPECT_NE(std::find(args.begin(), args.end(), "--spider"), args.end());
  EXPECT_NE(std::find(args.begin(), args.end(), "http://" + web_.Host() + "/ConfData/rec%201.wav"),
            args.end());
}

// Passwords for the run in files every local user may read: a warning each, and nothing holds
// the run up. A .netrc closed to others is as it should be.
TEST_F(CheckCommandTest, PasswordFilesReadableByOthersAreWarnedOf) {
  WriteSettings();
  AddRecording(web_, "1", "rec 1.wav");
  UseWgetrc("http_user = qz\nHTTP-Password = secret\n");
  const fs::path odbcIni = std::getenv("ODBCINI");
  platform::WritePrivateProfileString(source_->Dsn(), "Password", "secret", odbcIni.string());
  const fs::path netrc = fs::path(std::getenv("HOME")) / ".netrc";
  WriteFile(netrc, "machine 127.0.0.1 login qz password secret\n");
  fs::permissions(netrc, fs::perms::owner_read | fs::perms::owner_write);
  for (const fs::path& open : {folder_ / "wgetrc", odbcIni})
    fs::permissions(open, fs::perms::others_read, fs::perm_options::add);

  ToolResult check = Tool("--check");
  fs::remove(netrc);

  EXPECT_EQ(check.exitCode, 0) << Joined(check.out) << check.err;
  const auto warnings = std::count_if(check.out.begin(), check.out.end(), [](const auto& line) {
    return line.rfind("WARN passwords: ", 0) == 0;
  });
  EXPECT_EQ(warnings, 2) << Joined(check.out);
  for (const fs::path& open : {folder_ / "wgetrc", odbcIni})
    EXPECT_TRUE(HasLineStarting(check.out, "WARN passwords: " + open.string() +
                                               " holds a password and is readable by every"))
        << Joined(check.out);
}

struct BrokenCase {
  const char* name;
  std::function<void(CheckCommandTest&)> breakIt;
  // The start of the FAIL line expected; empty: the settings cannot be loaded, no report at all.
  std::function<std::string()> failLine;
  int exitCode;
};

void PrintTo(const BrokenCase& broken, std::ostream* out) {
  *out << broken.name;
}

class CheckCommandBrokenTest : public CheckCommandTest,
                               public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(CheckCommandBrokenTest, FailsWithItsLineAndChangesNothing) {
  const BrokenCase& broken = GetParam();
  WriteSettings();
  AddRecording(web_, "1", "rec 1.wav");
  broken.breakIt(*this);
  const auto before = Installation();

  ToolResult check = Tool("--check");

  EXPECT_EQ(check.exitCode, broken.exitCode) << Joined(check.out) << check.err;
  const std::string failLine = broken.failLine();
  if (failLine.empty()) {
    EXPECT_NE(check.err.find("settings cannot be loaded"), std::string::npos) << check.err;
  } else {
    EXPECT_TRUE(HasLineStarting(check.out, failLine)) << Joined(check.out);
    const Lines log = LogTexts();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("Check of installation: ", 0), 0u) << log[0];
    EXPECT_EQ(log[0].find(", 0 FAIL"), std::string::npos) << log[0];
  }
  EXPECT_EQ(Installation(), before);
}

int closedPort = ClosedPort();

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckCommandBrokenTest,
    ::testing::Values(
        BrokenCase{"wrong data source name",
                   [](CheckCommandTest& t) { t.WriteSettings("UseDSN=no_such_source\n"); },
                   [] { return "FAIL data source no_such_source: "; }, 1},
        BrokenCase{"missing column",
                   [](CheckCommandTest& t) {
                     t.source_->Execute("ALTER TABLE recording DROP COLUMN FILE");
                   },
                   [] { return "FAIL columns of recording: 26 columns, the run reads 27. "; }, 1},
        BrokenCase{"backup directory under a regular file",
                   [](CheckCommandTest& t) {
                     WriteFile(t.folder_ / "plain", "");
                     t.WriteSettings("BackupPath=" + (t.folder_ / "plain" / "backup").string() +
                                     "\n");
                   },
                   [] { return "FAIL backup directory: "; }, 1},
        BrokenCase{"server that refuses",
                   [](CheckCommandTest& t) {
                     t.source_->Insert(
                         test::RecordingRow("2")
                             .Set("SERVERNAME", "127.0.0.1:" + std::to_string(closedPort))
                             .Set("FILE", "rec 2.wav"));
                   },
                   [] {
                     return "FAIL server 127.0.0.1:" + std::to_string(closedPort) +
                            ": no HTTP answer for rec 2.wav: ";
                   },
                   1},
        BrokenCase{"unknown download scheme",
                   [](CheckCommandTest& t) { t.WriteSettings("DownloadScheme=ftp\n"); },
                   [] { return "FAIL download scheme: DownloadScheme=ftp is unknown. "; }, 1},
        BrokenCase{"settings file that cannot be read",
                   [](CheckCommandTest&) {
                     fs::remove(test::IniFile());
                     fs::create_directories(test::IniFile());
                   },
                   [] { return std::string(); }, 2}),
    [](const ::testing::TestParamInfo<BrokenCase>& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

// A throwaway authority and a certificate for 127.0.0.1 signed by it, made with openssl.
struct Authority {
  fs::path ca, certificate, key;
};

Authority MakeAuthority(const fs::path& folder) {
  const std::string dir = "'" + folder.string() + "'";
  const std::string script =
      "cd " + dir +
      " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
      " -keyout ca.key -out ca.pem -days 2 -subj /CN=qzbackup-test-authority"
      " && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
      " -keyout server.key -out server.csr -subj /CN=127.0.0.1"
      " && printf 'subjectAltName=IP:127.0.0.1\\n' > server.ext"
      " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
      " -out server.pem -days 2 -extfile server.ext 2>/dev/null >/dev/null";
  EXPECT_EQ(std::system(script.c_str()), 0) << "openssl could not make the authority";
  return {folder / "ca.pem", folder / "server.pem", folder / "server.key"};
}

struct TransportCase {
  const char* name;
  bool https;
  bool basicAuth;
  bool configured;  // the wgetrc names the authority or the credentials
  bool labelled;
  bool otherName = false;   // the row names the server by a name its certificate does not give
  bool refuseHead = false;  // the server answers HEAD with 405
};

TEST_F(CheckCommandTest, HttpsAndBasicAuthFetchOnlyWithWhatWgetsConfigurationGives) {
  const Authority authority = MakeAuthority(folder_.path());
  const std::string password = "pw-only-in-the-wgetrc";
  const std::vector<TransportCase> cases = {
      {"https, authority in the wgetrc", true, false, true, true},
      {"https, certificate not trusted", true, false, false, false},
      {"basic auth, credentials in the wgetrc", false, true, true, true},
      {"basic auth, no credentials", false, true, false, false},
      {"https, certificate for another name", true, false, true, false, true},
      {"server that refuses HEAD", false, false, true, true, false, true},
  };
  int id = 0;
  for (const TransportCase& each : cases) {
    SCOPED_TRACE(each.name);
    test::TestWebServer::Options options;
    if (each.https) {
      options.tlsCertificate = authority.certificate;
      options.tlsKey = authority.key;
    }
    if (each.basicAuth) options.basicAuth = "recorder:" + password;
    options.refuseHead = each.refuseHead;
    test::TestWebServer server(options);
    const std::string row = std::to_string(++id);
    std::string host = server.Host();
    if (each.otherName) host.replace(0, host.find(':'), "localhost");
    server.Publish("call " + row + ".wav", "recording " + row);
    source_->Insert(
        test::RecordingRow(row).Set("SERVERNAME", host).Set("FILE", "call " + row + ".wav"));
    std::string wgetrc;
    if (each.https && each.configured) wgetrc = "ca_certificate = " + authority.ca.string() + "\n";
    if (each.basicAuth && each.configured)
      wgetrc = "http_user = recorder\nhttp_password = " + password + "\n";
    UseWgetrc(wgetrc);
    WriteSettings(each.https ? "DownloadScheme=https\n" : "");

    ToolResult check = Tool("--check");
    EXPECT_EQ(check.exitCode, each.labelled ? 0 : 1) << Joined(check.out);
    ToolResult run = Tool("--run");

    EXPECT_EQ(run.exitCode, each.labelled ? 0 : 1) << Joined(run.out) << run.err;
    EXPECT_EQ(ArchiveOf(row).empty(), !each.labelled);
    EXPECT_EQ(fs::exists(folder_ / "backup" / ("call " + row + ".wav")), each.labelled);
    if (!each.labelled) {
      EXPECT_EQ(run.out, Lines{host + "\tcall " + row + ".wav\tFailed to download file"});
      EXPECT_TRUE(HasLineStarting(check.out, "FAIL server " + host + ": ")) << Joined(check.out);
      EXPECT_EQ(each.https, Joined(check.out).find("server's certificate") != std::string::npos)
          << Joined(check.out);
    }
    const std::string everything = Joined(LogTexts()) + ReadFile(folder_ / "wget-args") +
                                   Joined(check.out) + Joined(run.out) + run.err;
    EXPECT_EQ(everything.find(password), std::string::npos) << "the password was shown";
    const std::string scheme = each.https ? "https://" : "http://";
    // A row left unlabelled would be tried again by the next case's run.
    source_->Execute("UPDATE recording SET ARCHIVE='done' WHERE ARCHIVE=''");
    EXPECT_NE(ReadFile(folder_ / "wget-args").find(scheme + host + "/ConfData/call%20"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace qz
