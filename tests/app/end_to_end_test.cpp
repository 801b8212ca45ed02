// The tool as operators run it: the real binary against an SQLite data source, a web server on
// 127.0.0.1 and real wget, started, stopped and killed from outside.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "archive/checksum_manifest.h"
#include "backup/archive_label.h"
#include "platform/file_lock.h"
#include "platform/process.h"
#include "platform/sha256_file.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/test_web_server.h"

namespace qz {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ReadLines;
using test::WriteFile;

// A running qzbackup with its standard output and error in files.
class ToolProcess {
 public:
  // `environment`: "NAME=value ..." for the tool alone.
  ToolProcess(const fs::path& folder, const std::string& options, const std::string& fakeTime = "",
              const std::string& environment = "")
      : out_(folder / ("out." + std::to_string(++count_))) {
    // The clock is faked in the tool's own process: the faketime wrapper would stand between
    // the tool and the signals sent to it.
    std::string wrapper = fakeTime.empty()
                              ? ""
                              : "env LD_PRELOAD=" + test::FakeTimeLibrary() + " FAKETIME='@" +
                                    fakeTime + "' ASAN_OPTIONS=verify_asan_link_order=0 ";
    if (!environment.empty()) wrapper = "env " + environment + " " + wrapper;
    std::string script = "exec " + wrapper + "'" + QZ_TOOL_BINARY + "' " + options + " > '" +
                         out_.string() + "' 2> '" + out_.string() + ".err'";
    pid_ = platform::SpawnProcess("/bin/sh -c \"" + script + "\"").value_or(0);
  }
  ~ToolProcess() {
    if (!exited_ && pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  pid_t pid() const { return pid_; }
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // Kills the tool and the downloads it started, as a power cut would.
  void KillAll() {
    for (pid_t child : Children()) kill(child, SIGKILL);
    kill(pid_, SIGKILL);
    Wait();
  }
  std::vector<std::string> Output() const { return ReadLines(out_); }
  // Standard output; standard error is beside it with ".err" appended.
  const fs::path& OutputFile() const { return out_; }
  bool HasChild() const { return !Children().empty(); }
  // A child that has already moved into a process group of its own (spawned, not just forked).
  bool HasChildInItsOwnGroup() const { return ChildInItsOwnGroup() != 0; }
  pid_t ChildInItsOwnGroup() const {
    for (pid_t child : Children()) {
      std::ifstream in("/proc/" + std::to_string(child) + "/stat");
      std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::istringstream fields(stat.substr(stat.rfind(')') + 1));
      std::string state;
      pid_t parent = 0, group = 0;
      if (fields >> state >> parent >> group && group == child) return child;
    }
    return 0;
  }
  // True once the tool has taken `signal` from its pending ones: a second one sent before would
  // merge into the first.
  bool HasTaken(int signal) const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(in, line);)
      if (line.rfind("ShdPnd:", 0) == 0)
        return ((std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1) == 0;
    return true;
  }

 private:
  std::vector<pid_t> Children() const {
    std::vector<pid_t> children;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid_) + "/task", ec)) {
      std::ifstream in(task.path() / "children");
      for (pid_t child; in >> child;) children.push_back(child);
    }
    return children;
  }
  static inline int count_ = 0;
  fs::path out_;
  pid_t pid_ = 0;
  bool exited_ = false;
};

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetConfig();
    source_ = test::MakeSqliteDataSource(folder_.path());
    test::PrepareToolInstallation(folder_.path());
  }

  void WriteSettings(const std::string& extra = "") {
    WriteFile(test::IniFile(),
              "[Config]\nDownloadPath=" + download_.string() +
                  "/\nMoveToBackupPath=1\nBackupPath=" + (folder_ / "backup").string() +
                  "/\nUseDSN=" + source_->Dsn() + "\n" + extra);
  }
  void AddRecordings(int count, int size) {
    for (int i = 0; i < count; ++i)
      AddRecording(std::to_string(i), "rec " + std::to_string(i) + ".wav",
                   std::string(size, static_cast<char>('a' + i % 26)));
  }
  void AddRecording(const std::string& id, const std::string& name, const std::string& content) {
    contents_[id] = {name, content};
    web_.Publish(name, content);
    source_->Insert(test::RecordingRow(id).Set("SERVERNAME", web_.Host()).Set("FILE", name));
  }
  std::vector<std::string> LogTexts() {
    return test::LogTexts(folder_ / "base" / "log" / "qzbackup.log");
  }
  // The stand-in alarm program notes its arguments, one launch a line.
  void RecordAlarms() {
    test::WriteScript(folder_ / "bin" / "qze",
                      "echo \"$*\" >> '" + (folder_ / "alarms").string() + "'");
  }
  std::vector<std::string> Alarms() { return ReadLines(folder_ / "alarms"); }
  // Every labelled row has its file complete in the backup directory. Returns how many are.
  int CheckLabelledRowsAreSafe() {
    int labelled = 0;
    for (const auto& [id, file] : contents_) {
      auto archive = source_->ArchiveOf(id);
      if (archive.empty() || !archive[0] || archive[0]->empty()) continue;
      ++labelled;
      EXPECT_EQ(ReadFile(folder_ / "backup" / file.first), file.second)
          << "row " << id << " labelled " << *archive[0] << " without its complete file";
    }
    return labelled;
  }
  // An installation of its own (settings, log, run lock, download directory) for the servers
  // numbered `server`, moving into the fixture's backup directory: the environment to run it in.
  std::string AddInstallation(int server, const std::string& extra = "") {
    const fs::path root = folder_ / ("installation" + std::to_string(server));
    for (const char* dir : {"config", "xdg", "base/log", "download"})
      fs::create_directories(root / dir);
    WriteFile(root / "xdg" / "hklm.ini",
              "[SOFTWARE\\Corvane\\Corvane Tool]\nDirectory=" + (root / "base").string() + "\n");
    WriteFile(root / "config" / "qzbackup.ini",
              "[Config]\nDownloadPath=" + (root / "download").string() +
                  "/\nMoveToBackupPath=1\nBackupPath=" + (folder_ / "backup").string() +
                  "/\nUseDSN=" + source_->Dsn() +
                  "\nBackupFromServerRange=1\nFirstServerNumber=" + std::to_string(server) +
                  "\nLastServerNumber=" + std::to_string(server) + "\n" + extra);
    return "XDG_CONFIG_HOME=" + (root / "config").string() +
           " XDG_CONFIG_DIRS=" + (root / "xdg").string();
  }
  // A row of server `server` (1 is web_), its recording published there.
  void AddServerRecording(const std::string& id, int server, const std::string& name,
                          const std::string& content) {
    while (static_cast<int>(servers_.size()) < server - 1)
      servers_.push_back(std::make_unique<test::TestWebServer>());
    const test::TestWebServer& web = server == 1 ? web_ : *servers_[server - 2];
    contents_[id] = {name, content};
    web.Publish(name, content);
    source_->Insert(test::RecordingRow(id)
                        .Set("SERVER", std::to_string(server))
                        .Set("SERVERNAME", web.Host())
                        .Set("FILE", name));
  }
  bool Labelled(const std::string& id) {
    auto archive = source_->ArchiveOf(id);
    return !archive.empty() && archive[0] && !archive[0]->empty();
  }
  // Every digest the backup directory's checksum files list, by name.
  std::map<std::string, std::set<std::string>> ListedDigests() {
    std::map<std::string, std::set<std::string>> listed;
    for (const std::string& manifest : ManifestsIn((folder_ / "backup").string()))
      for (const std::string& line : ReadLines(manifest))
        if (auto entry = ParseManifestLine(line)) listed[entry->name].insert(entry->digest);
    return listed;
  }
  static std::string DigestOf(const std::string& content) {
    return platform::Sha256OfText(content);
  }
  template <typename Predicate>
  bool WaitFor(Predicate done) {
    for (int i = 0; i < 3000; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  test::TempDir folder_;
  fs::path download_ = folder_ / "download";
  std::unique_ptr<test::TestDataSource> source_;
  test::TestWebServer web_;
  std::vector<std::unique_ptr<test::TestWebServer>> servers_;
  std::map<std::string, std::pair<std::string, std::string>> contents_;
};

// Started under the usual umask 022, the tool still leaves nothing of a run open to other local
// users: only the metrics file is meant for a collector running as someone else.
TEST_F(EndToEndTest, UnderUmask022OnlyTheMetricsAreOpenToOthers) {
  WriteSettings();
  AddRecordings(2, 1000);
  const mode_t umaskBefore = umask(022);
  ToolProcess run(folder_.path(), "--run");
  umask(umaskBefore);
  EXPECT_EQ(run.Wait(), 0);
  EXPECT_EQ(CheckLabelledRowsAreSafe(), 2);
  int files = 0;
  for (const fs::path& dir : {download_, folder_ / "backup", folder_ / "base" / "log"}) {
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      ++files;
      if (entry.path().filename() == "qzbackup.prom") continue;
      EXPECT_EQ(entry.symlink_status().permissions() & fs::perms::others_all, fs::perms::none)
          << entry.path();
    }
  }
  EXPECT_GE(files, 5) << "recordings, checksum file, log, lock, metrics";
}

TEST_F(EndToEndTest, HeadlessRunPrintsOneLinePerFileAndExitsByOutcome) {
  WriteSettings();
  AddRecordings(2, 1000);
  ToolProcess run(folder_.path(), "--run");
  EXPECT_EQ(run.Wait(), 0);
  auto lines = run.Output();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], web_.Host() + "\trec 0.wav\tBackup of file successfull");
  EXPECT_EQ(CheckLabelledRowsAreSafe(), 2);

  source_->Insert(test::RecordingRow("x").Set("SERVERNAME", web_.Host()).Set("FILE", "no.wav"));
  ToolProcess failing(folder_.path(), "--run");
  EXPECT_EQ(failing.Wait(), 1);
  EXPECT_EQ(failing.Output(),
            std::vector<std::string>{web_.Host() + "\tno.wav\tFailed to download file"});

  // Nobody reads standard error of a run from cron: a data source that fails starts the alarm.
  RecordAlarms();
  const std::string alarm = "qzarun 1 -i410 -s8BackupTool";
  WriteSettings("GetDataFromTable=missing_table\nStartAlarmOnError=10\n");
  ToolProcess broken(folder_.path(), "--run");
  EXPECT_EQ(broken.Wait(), 2);
  EXPECT_NE(ReadFile(folder_ / "out.3.err").find("no such table: missing_table"),
            std::string::npos);
  auto log = LogTexts();
  ASSERT_GE(log.size(), 3u);
  EXPECT_NE(log[log.size() - 3].find("no such table: missing_table"), std::string::npos);
  EXPECT_EQ(log[log.size() - 2], "Start alarm 10 because of error");
  EXPECT_EQ(log.back(), "Backup run ended: 0 rows, 0 backed up, 0 failed");
  EXPECT_EQ(Alarms(), std::vector<std::string>{alarm});

  // Without its log folder a run goes ahead, its log lines dropped.
  WriteSettings("StartAlarmOnError=10\n");
  source_->Execute("DELETE FROM recording WHERE FILE='no.wav'");
  AddRecording("late", "late.wav", "late");
  fs::remove_all(folder_ / "base" / "log");
  ToolProcess logless(folder_.path(), "--run");
  EXPECT_EQ(logless.Wait(), 0);
  EXPECT_EQ(logless.Output().size(), 1u);
  EXPECT_EQ(CheckLabelledRowsAreSafe(), 3);

  // Without a place for its lock no run goes ahead, and the alarm says so.
  AddRecording("later", "later.wav", "later");
  fs::rename(folder_ / "base", folder_ / "gone");
  ToolProcess unlocked(folder_.path(), "--run");
  EXPECT_EQ(unlocked.Wait(), 2);
  EXPECT_TRUE(unlocked.Output().empty());
  EXPECT_EQ(ReadFile(unlocked.OutputFile().string() + ".err")
                .rfind("qzbackup: Backup run refused: the run lock ", 0),
            0u);
  EXPECT_EQ(CheckLabelledRowsAreSafe(), 3);
  EXPECT_EQ(Alarms(), std::vector<std::string>(2, alarm));
}

TEST_F(EndToEndTest, ProgressOnATerminalOnlyAndStandardOutputUnchanged) {
  WriteSettings();
  AddRecordings(2, 1000);
  source_->Insert(test::RecordingRow("x").Set("SERVERNAME", web_.Host()).Set("FILE", "no.wav"));
  // Standard error on a pseudo-terminal, standard output in a file.
  fs::path out = folder_ / "tty.out", screen = folder_ / "tty.screen";
  std::string command =
      "/usr/bin/python3 -c \"import os,pty,subprocess,sys\nm,s=pty.openpty()\n"
      "p=subprocess.Popen([sys.argv[1],'--run'],stdout=open(sys.argv[2],'w'),stderr=s)\n"
      "os.close(s)\nd=b''\nwhile True:\n try: c=os.read(m,4096)\n except OSError: break\n"
      " if not c: break\n d+=c\nopen(sys.argv[3],'wb').write(d)\nsys.exit(p.wait())\" '" +
      std::string(QZ_TOOL_BINARY) + "' '" + out.string() + "' '" + screen.string() + "'";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 1);
  std::string shown = ReadFile(screen);
  EXPECT_NE(shown.find("3 of 3, 1 failed"), std::string::npos) << shown;
  EXPECT_NE(shown.rfind("\r\x1b[K"), std::string::npos);
  EXPECT_EQ(ReadLines(out).size(), 3u);
  EXPECT_EQ(LogTexts().back(), "Backup run ended: 3 rows, 2 backed up, 1 failed");

  // Redirected: no progress at all.
  source_->Execute("UPDATE recording SET ARCHIVE=''");
  ToolProcess redirected(folder_.path(), "--run");
  redirected.Wait();
  EXPECT_EQ(redirected.Output().size(), 3u);
  std::string errors = ReadFile(folder_ / "out.1.err");
  EXPECT_EQ(errors.find(" of 3"), std::string::npos) << errors;
}

TEST_F(EndToEndTest, KilledAtAnyMomentNeverLeavesALabelWithoutItsFile) {
  // Moves from the download directory into the backup directory cross file systems where a
  // second one exists.
  std::optional<test::TempDir> otherFileSystem;
  if (auto root = test::OtherFileSystemRoot(folder_.path())) {
    otherFileSystem.emplace(*root);
    download_ = otherFileSystem->path();
  }
  AddRecordings(6, 24000);
  // The longest names: two whose complete copies already stand in the download directory, and
  // one that wget cuts to 236 bytes when it stores it, so it can never be fetched.
  const std::string longName(246, 'l');
  AddRecording("6", longName + "1.wav", std::string(24000, '1'));
  AddRecording("7", longName + "2.wav", std::string(24000, '2'));
  AddRecording("8", longName + "c.wav", std::string(24000, 'c'));
  for (const auto& [id, file] : contents_)
    if (id != "8") WriteFile(download_ / file.first, file.second);
  // About half a second per file: the kills land in downloads, moves and labels alike; every
  // other run fetches the files again over the copies that stand there.
  int labelled = 0, runs = 0;
  for (int delayMs : {60, 170, 330, 520, 700, 900, 1150}) {
    WriteSettings("DownloadTransferRateKbs=64\nDownloadIfFileAlreadyExists=" +
                  std::to_string(++runs % 2) + "\n");
    ToolProcess run(folder_.path(), "--run");
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    run.KillAll();
    labelled = CheckLabelledRowsAreSafe();
  }
  WriteSettings("DownloadTransferRateKbs=64\n");
  ToolProcess finish(folder_.path(), "--run");
  EXPECT_EQ(finish.Wait(), 1);
  EXPECT_EQ(CheckLabelledRowsAreSafe(), 8) << "after " << labelled << " rows done while killed";
  EXPECT_EQ(source_->ArchiveOf("8")[0], "");
  std::vector<fs::path> left(fs::directory_iterator(download_), {});
  EXPECT_EQ(left, std::vector<fs::path>{download_ / ".qzfetch"});
  EXPECT_TRUE(fs::is_empty(download_ / ".qzfetch"));
}

TEST_F(EndToEndTest, RowWhoseRunEndedBetweenMoveAndLabelIsLabelledOnlyFromItsOwnMovedFile) {
  WriteSettings();
  // Another writer holds the database, so the label waits while the recording is already moved.
  WriteFile(folder_ / "lock.py",
            "import sqlite3, sys, time\n"
            "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
            "c.execute('BEGIN IMMEDIATE')\nopen(sys.argv[2], 'w').close()\ntime.sleep(120)\n");
  const fs::path database = folder_ / (source_->Dsn() + ".sqlite");
  // wget cannot store names this long: the copy standing in the download directory is the only
  // one there will ever be.
  const auto killWhileTheLabelWaits = [&](const std::string& id, const std::string& name) {
    AddRecording(id, name, "only copy of " + id);
    WriteFile(download_ / name, "only copy of " + id);
    const fs::path locked = folder_ / ("locked." + id);
    std::optional<pid_t> locker =
        platform::SpawnProcess("python3 " + (folder_ / "lock.py").string() + " " +
                               database.string() + " " + locked.string());
    ASSERT_TRUE(locker && WaitFor([&] { return fs::exists(locked); }));
    ToolProcess run(folder_.path(), "--run");
    const fs::path manifest =
        folder_ / "backup" /
        ("DAT_" + std::to_string(CurrentIsoWeek(std::time(nullptr))) + ".sha256");
    EXPECT_TRUE(WaitFor([&] { return ReadFile(manifest).find(name) != std::string::npos; }));
    run.KillAll();
    kill(*locker, SIGKILL);
    waitpid(*locker, nullptr, 0);
  };
  const std::string changed = std::string(246, 'l') + "1.wav",
                    kept = std::string(246, 'l') + "2.wav";

  // A moved file changed since is never taken for the row's recording.
  killWhileTheLabelWaits("1", changed);
  WriteFile(folder_ / "backup" / changed, "changed since");
  ToolProcess afterChange(folder_.path(), "--run");
  EXPECT_EQ(afterChange.Wait(), 1);
  EXPECT_EQ(source_->ArchiveOf("1")[0], "");
  EXPECT_EQ(ReadFile(folder_ / "backup" / changed), "changed since");
  contents_.erase("1");

  // An unchanged one labels its row, and only its row: not another server's recording of the name.
  killWhileTheLabelWaits("2", kept);
  source_->Insert(test::RecordingRow("3").Set("SERVERNAME", "127.0.0.1:9").Set("FILE", kept));
  ToolProcess next(folder_.path(), "--run");
  EXPECT_EQ(next.Wait(), 1);
  EXPECT_EQ(CheckLabelledRowsAreSafe(), 1);
  EXPECT_EQ(source_->ArchiveOf("3")[0], "");
  std::vector<fs::path> left(fs::directory_iterator(download_), {});
  EXPECT_EQ(left, std::vector<fs::path>{download_ / ".qzfetch"});
}

TEST_F(EndToEndTest, SecondRunWaitsForTheFirstAndNeverTouchesTheSameRow) {
  WriteSettings("DownloadTransferRateKbs=64\n");
  AddRecordings(3, 24000);
  ToolProcess first(folder_.path(), "--run");
  ASSERT_TRUE(WaitFor([&] { return !first.Output().empty(); }));
  ToolProcess second(folder_.path(), "--run");
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
  EXPECT_EQ(first.Output().size(), 3u);
  EXPECT_TRUE(second.Output().empty()) << "the second run found rows the first one did";
  auto log = LogTexts();
  EXPECT_EQ(std::count(log.begin(), log.end(), "Waiting for another backup run to end"), 1);
  EXPECT_EQ(CheckLabelledRowsAreSafe(), 3);
}

// A local user who could open a lock could hold it and stop every backup for good; a run that
// waits for its lock still obeys a stop.
TEST_F(EndToEndTest, LocksAreTheInstallationsAndARunWaitingForItsLockEndsOnSigterm) {
  WriteSettings();
  AddRecordings(1, 1000);
  const fs::path runLock = folder_ / "base" / "qzbackup.lock";
  const fs::path metricsLock = folder_ / "base" / "log" / "qzbackup.prom.lock";
  WriteFile(metricsLock, "");  // as an older version left it, open to every user
  fs::permissions(metricsLock, fs::perms(0644));
  ToolProcess first(folder_.path(), "--run");
  EXPECT_EQ(first.Wait(), 0);
  for (const fs::path& lock : {runLock, metricsLock})
    EXPECT_EQ(fs::status(lock).permissions() & fs::perms::all, fs::perms(0660)) << lock;

  platform::FileLock held;
  ASSERT_TRUE(held.TryLock(runLock.string()));
  ToolProcess waiting(folder_.path(), "--run");
  ASSERT_TRUE(
      WaitFor([&] { return LogTexts().back() == "Waiting for another backup run to end"; }));
  kill(waiting.pid(), SIGTERM);
  EXPECT_EQ(waiting.Wait(), 128 + SIGTERM);
  auto log = LogTexts();
  EXPECT_EQ(log[log.size() - 2], "Backup run stopped before all rows were done");
  EXPECT_EQ(log.back(), "Backup run ended: 0 rows, 0 backed up, 0 failed");
}

// Minute 0 of the current hour today, for libfaketime; the automatic hour is set to match.
std::string MinuteZeroOfThisHour(int& hour) {
  std::tm local = platform::LocalTime(std::time(nullptr));
  hour = local.tm_hour;
  char fake[32];
  std::strftime(fake, sizeof fake, "%Y-%m-%d %H:00:05", &local);
  return fake;
}

TEST_F(EndToEndTest, WindowStartedInMinuteZeroOfItsHourRunsAtOnce) {
  int hour = 0;
  std::string fake = MinuteZeroOfThisHour(hour);
  WriteSettings("AutoStartOnHour=" + std::to_string(hour) + "\n");
  AddRecordings(2, 1000);
  ToolProcess window(folder_.path(), "", fake);
  ASSERT_TRUE(WaitFor([&] { return CheckLabelledRowsAreSafe() == 2; }));
  auto log = LogTexts();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "Started backup automatically");
  EXPECT_EQ(log[1].rfind("wget ", 0), 0u) << log[1];
}

TEST_F(EndToEndTest, ServiceStartsInMinuteZeroOfItsHourAndStopsCleanlyMidRun) {
  int hour = 0;
  std::string fake = MinuteZeroOfThisHour(hour);
  WriteSettings("AutoStartOnHour=" + std::to_string(hour) +
                "\nAutoStartOnDay=0\nDownloadTransferRateKbs=64\n");
  AddRecordings(5, 24000);
  ToolProcess service(folder_.path(), "--service", fake);
  ASSERT_TRUE(WaitFor([&] { return service.Output().size() >= 1; }));
  kill(service.pid(), SIGTERM);
  EXPECT_EQ(service.Wait(), 0);
  auto log = LogTexts();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "Started backup automatically");
  EXPECT_NE(std::find(log.begin(), log.end(), "Backup run stopped before all rows were done"),
            log.end());
  int shown = static_cast<int>(service.Output().size());
  EXPECT_LT(shown, 5);
  EXPECT_EQ(CheckLabelledRowsAreSafe(), shown);
  for (const auto& [id, file] : contents_) {
    bool inBackup = fs::exists(folder_ / "backup" / file.first);
    bool inDownload = fs::exists(download_ / file.first);
    EXPECT_FALSE(inBackup && inDownload) << file.first << " half moved";
  }
}

// Nobody watches the service: without its log folder it backs up all the same, and a data source
// that fails starts the alarm.
TEST_F(EndToEndTest, ServiceBacksUpWithoutItsLogFolderAndAlarmsWhenItsDataSourceFails) {
  int hour = 0;
  std::string fake = MinuteZeroOfThisHour(hour);
  RecordAlarms();
  fs::remove_all(folder_ / "base" / "log");
  AddRecordings(2, 1000);
  for (const std::string table : {"recording", "missing_table"}) {
    WriteSettings("AutoStartOnHour=" + std::to_string(hour) +
                  "\nStartAlarmOnError=10\nGetDataFromTable=" + table + "\n");
    ToolProcess service(folder_.path(), "--service", fake);
    ASSERT_TRUE(WaitFor(
        [&] { return table == "recording" ? service.Output().size() == 2 : !Alarms().empty(); }));
    kill(service.pid(), SIGTERM);
    EXPECT_EQ(service.Wait(), 0);
  }
  EXPECT_EQ(CheckLabelledRowsAreSafe(), 2);
  EXPECT_EQ(Alarms(), std::vector<std::string>{"qzarun 1 -i410 -s8BackupTool"});
}

TEST_F(EndToEndTest, ChecksumFilePassesSha256sumAndVerifyNamesChangedAndMissingFiles) {
  WriteSettings();
  AddRecordings(3, 1000);
  ToolProcess run(folder_.path(), "--run");
  ASSERT_EQ(run.Wait(), 0);
  std::string label = "DAT_" + std::to_string(CurrentIsoWeek(std::time(nullptr)));
  fs::path backup = folder_ / "backup";
  EXPECT_EQ(
      std::system(
          ("cd '" + backup.string() + "' && sha256sum --quiet -c " + label + ".sha256").c_str()),
      0);
  auto table = [&] { return source_->SelectColumn("SELECT ID || '=' || ARCHIVE FROM recording"); };
  auto before = table();
  ToolProcess whole(folder_.path(), "--verify");
  EXPECT_EQ(whole.Wait(), 0);
  EXPECT_EQ(whole.Output().back(), "Verify of archive " + label +
                                       ": 3 files ok, 0 missing, 0 changed, 0 labelled rows not "
                                       "in the checksum file");

  WriteFile(backup / "rec 0.wav", "changed");
  fs::remove(backup / "rec 1.wav");
  source_->Execute("UPDATE recording SET ARCHIVE='" + label + "' WHERE ID='2'");
  source_->Insert(test::RecordingRow("9").Set("FILE", "never.wav").Set("ARCHIVE", label));
  before = table();
  ToolProcess broken(folder_.path(), "--verify " + label);
  EXPECT_EQ(broken.Wait(), 1);
  auto out = broken.Output();
  auto has = [&](const std::string& text) {
    return std::any_of(out.begin(), out.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(has("Changed: " + (backup / "rec 0.wav").string()));
  EXPECT_TRUE(has("Missing: " + (backup / "rec 1.wav").string()));
  EXPECT_TRUE(has("Labelled but not in the checksum file: never.wav"));
  EXPECT_EQ(table(), before) << "--verify changed the table";
  EXPECT_EQ(LogTexts().back(), "Verify of archive " + label + ": 1 files ok, 1 missing, 1 changed");
}

// Ctrl+C at a terminal signals its whole foreground group: the tool's, which its wget is not in.
TEST_F(EndToEndTest, CtrlCAtTheServiceTerminalEndsItAfterTheRowItIsOn) {
  int hour = 0;
  std::string fake = MinuteZeroOfThisHour(hour);
  WriteSettings("AutoStartOnHour=" + std::to_string(hour) +
                "\nAutoStartOnDay=0\nDownloadTransferRateKbs=64\n");
  AddRecordings(3, 48000);
  ToolProcess service(folder_.path(), "--service", fake);
  ASSERT_TRUE(WaitFor([&] { return service.HasChildInItsOwnGroup(); }));
  ASSERT_EQ(kill(-service.pid(), SIGINT), 0) << "the tool leads no process group";
  EXPECT_EQ(service.Wait(), 0);
  auto lines = service.Output();
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines) EXPECT_NE(line.find("successfull"), std::string::npos);
  EXPECT_EQ(CheckLabelledRowsAreSafe(), static_cast<int>(lines.size()));
  for (const std::string& text : LogTexts()) EXPECT_EQ(text.find("ErrorCode"), std::string::npos);
}

// A row's names cannot forge a result line or reach the terminal as a control sequence: each row
// is one line of three fields, and only the line ends are raw control bytes.
TEST_F(EndToEndTest, ControlBytesInARowGiveOneResultLineAndNoRawControlByte) {
  WriteSettings();
  const std::vector<std::pair<std::string, std::string>> rows = {
      {web_.Host() + "\nx", "lf.wav"},
      {web_.Host(), "cr\r.wav"},
      {web_.Host(), "tab\tz.wav\tBackup of file successfull"},
      {web_.Host() + "\x1b[2J", "esc\x1b]0;title\x07.wav"},
  };
  for (std::size_t i = 0; i < rows.size(); ++i)
    source_->Insert(test::RecordingRow(std::to_string(i))
                        .Set("SERVERNAME", rows[i].first)
                        .Set("FILE", rows[i].second));
  ToolProcess run(folder_.path(), "--run");
  EXPECT_EQ(run.Wait(), 1);
  const std::vector<std::string> lines = run.Output();
  ASSERT_EQ(lines.size(), rows.size());
  EXPECT_EQ(lines[1], web_.Host() + "\tcr\\x0d.wav\tFailed to download file");
  EXPECT_EQ(
      lines[2],
      web_.Host() + "\ttab\\x09z.wav\\x09Backup of file successfull\tFailed to download file");
  for (const std::string& line : lines) EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 2);
  // Standard output keeps its field TABs; no other control byte but the line end is raw anywhere.
  const std::string controls("\0\r\x1b\x07\x7f", 5), raw = controls + '\t';
  const fs::path out = run.OutputFile();
  EXPECT_EQ(ReadFile(out).find_first_of(controls), std::string::npos) << ReadFile(out);
  for (const fs::path& file :
       {fs::path(out.string() + ".err"), folder_ / "base" / "log" / "qzbackup.log"}) {
    const std::string text = ReadFile(file);
    EXPECT_EQ(text.find_first_of(raw), std::string::npos) << file << ": " << text;
  }
  EXPECT_EQ(LogTexts().size(), rows.size() + 1);
}

// Ctrl+C at the terminal of --run, or SIGTERM from a supervisor, once: the row under way
// finishes. Twice: its wget is ended at once and the row fails. Either way the stop line and the
// summary, and no wget left behind.
TEST_F(EndToEndTest, StopSignalsEndTheHeadlessRunWithItsSummaryAndNoWgetLeft) {
  struct Case {
    int signal;
    int times;
    int size;  // of the first file: at 64 KB/s a second or two, or about a minute
  };
  WriteSettings("DownloadTransferRateKbs=64\n");
  for (const char* id : {"0", "1", "2"}) AddRecording(id, id + std::string(".wav"), "audio");
  for (Case c : {Case{SIGINT, 1, 100'000}, Case{SIGTERM, 2, 4'000'000}}) {
    SCOPED_TRACE(c.signal);
    source_->Execute("UPDATE recording SET ARCHIVE=''");
    contents_["0"].second = std::string(c.size, 'l');
    web_.Publish(contents_["0"].first, contents_["0"].second);
    ToolProcess run(folder_.path(), "--run");
    pid_t wget = 0;
    ASSERT_TRUE(WaitFor([&] { return (wget = run.ChildInItsOwnGroup()) != 0; }));
    for (int i = 0; i < c.times; ++i) {
      ASSERT_TRUE(WaitFor([&] { return run.HasTaken(c.signal); }));
      ASSERT_EQ(kill(c.signal == SIGINT ? -run.pid() : run.pid(), c.signal), 0);
    }
    EXPECT_EQ(run.Wait(), 128 + c.signal);
    EXPECT_EQ(kill(wget, 0), -1) << "wget outlived the tool";
    std::string status = c.times == 1 ? "Backup of file successfull" : "Failed to download file";
    EXPECT_EQ(run.Output(), std::vector<std::string>{web_.Host() + "\t0.wav\t" + status});
    EXPECT_EQ(CheckLabelledRowsAreSafe(), c.times == 1 ? 1 : 0);
    auto log = LogTexts();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Backup run stopped before all rows were done");
    EXPECT_EQ(log.back().rfind("Backup run ended: 1 rows, ", 0), 0u) << log.back();
    EXPECT_EQ(log[log.size() - 3].find("[ended by a second request to stop]") != std::string::npos,
              c.times == 2)
        << log[log.size() - 3];
    EXPECT_TRUE(fs::is_empty(download_ / ".qzfetch"));
  }
}

// On a terminal wget found the terminal's foreground group not its own, took itself for a
// background job and wrote its messages into "wget-log" instead of standard error.
TEST_F(EndToEndTest, WgetMessagesReachStandardErrorOnATerminal) {
  WriteSettings();
  AddRecordings(1, 1000);
  // The tool leads a session whose controlling terminal is a pseudo-terminal, as in a login.
  fs::path screen = folder_ / "tty.screen";
  std::string command =
      "/usr/bin/python3 -c \"import os,pty,sys\npid,fd=pty.fork()\nif pid==0:\n"
      " os.dup2(os.open('/dev/null',os.O_WRONLY),1)\n os.execv(sys.argv[1],[sys.argv[1],'--run'])\n"
      "d=b''\nwhile True:\n try: c=os.read(fd,4096)\n except OSError: break\n if not c: break\n"
      " d+=c\nopen(sys.argv[2],'wb').write(d)\n"
      "sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid,0)[1]))\" '" +
      std::string(QZ_TOOL_BINARY) + "' '" + screen.string() + "'";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 0);
  std::string shown = ReadFile(screen);
  EXPECT_EQ(shown.find("wget-log"), std::string::npos) << shown;
  EXPECT_NE(shown.find("rec 0.wav"), std::string::npos) << shown;
  EXPECT_EQ(CheckLabelledRowsAreSafe(), 1);
}

// Installations for three server ranges share one backup directory and table; each server has
// names of its own and names every server has, each a call of its own of the same length.
TEST_F(EndToEndTest, InstallationsSharingABackupDirectoryKeepEachOthersRecordingsWhenKilled) {
  std::vector<std::string> installations;
  std::vector<std::string> shared = {"shared0.wav", "shared1.wav", "shared2.wav"};
  for (int server = 1; server <= 3; ++server) {
    installations.push_back(AddInstallation(server, "DownloadTransferRateKbs=64\n"));
    const std::string s = std::to_string(server);
    for (int k = 0; k < 2; ++k)
      AddServerRecording("own" + s + std::to_string(k), server,
                         "own" + s + std::to_string(k) + ".wav",
                         std::string(24000, static_cast<char>('a' + 2 * server + k)));
    for (int k = 0; k < 3; ++k)
      AddServerRecording(s + shared[k], server, shared[k],
                         std::string(24000, static_cast<char>('A' + 3 * server + k)));
  }
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < 4; ++round) {
    std::vector<std::unique_ptr<ToolProcess>> runs;
    for (const std::string& environment : installations)
      runs.push_back(std::make_unique<ToolProcess>(folder_.path(), "--run", "", environment));
    std::shuffle(runs.begin(), runs.end(), random);
    for (auto& run : runs) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 800));
      run->KillAll();
    }
    CheckLabelledRowsAreSafe();
  }
  std::vector<std::unique_ptr<ToolProcess>> finish;
  for (const std::string& environment : installations)
    finish.push_back(std::make_unique<ToolProcess>(folder_.path(), "--run", "", environment));
  for (auto& run : finish) EXPECT_LE(run->Wait(), 1);
  EXPECT_EQ(CheckLabelledRowsAreSafe(), 9);
  for (const auto& [id, file] : contents_)
    EXPECT_TRUE(!id.starts_with("own") || Labelled(id)) << file.first;
  for (const std::string& name : shared)
    EXPECT_EQ(Labelled("1" + name) + Labelled("2" + name) + Labelled("3" + name), 1) << name;
  const auto listed = ListedDigests();
  EXPECT_EQ(listed.size(), 9u);
  for (const auto& [name, digests] : listed)
    EXPECT_EQ(digests, std::set<std::string>{DigestOf(ReadFile(folder_ / "backup" / name))})
        << name;
}

// The name was free when the slow server's download began; the fast one archived it meanwhile.
TEST_F(EndToEndTest, NameArchivedByAnotherInstallationDuringADownloadIsNeverReplaced) {
  const std::string slow = AddInstallation(1, "DownloadTransferRateKbs=16\n");
  const std::string fast = AddInstallation(2);
  AddServerRecording("1", 1, "x.wav", std::string(48000, '1'));
  AddServerRecording("2", 2, "x.wav", std::string(48000, '2'));
  ToolProcess slowRun(folder_.path(), "--run", "", slow);
  ASSERT_TRUE(WaitFor([&] { return slowRun.HasChild(); }));
  ToolProcess fastRun(folder_.path(), "--run", "", fast);
  EXPECT_EQ(fastRun.Wait(), 0);
  EXPECT_EQ(slowRun.Wait(), 1);
  EXPECT_EQ(slowRun.Output(), std::vector<std::string>{web_.Host() + "\tx.wav\tAnother recording "
                                                                     "of this name is already "
                                                                     "archived"});
  EXPECT_FALSE(Labelled("1"));
  EXPECT_TRUE(Labelled("2"));
  EXPECT_EQ(CheckLabelledRowsAreSafe(), 1);
  EXPECT_EQ(ListedDigests(), (std::map<std::string, std::set<std::string>>{
                                 {"x.wav", {DigestOf(std::string(48000, '2'))}}}));
}

// Another installation's run, begun before the note was written and ending after it, keeps it:
// the row is labelled from the backup directory although its server can never deliver the file.
TEST_F(EndToEndTest, NoteOfARowAwaitingItsLabelSurvivesAnotherInstallationsRun) {
  const std::string noting = AddInstallation(1);
  const std::string other = AddInstallation(2, "DownloadTransferRateKbs=16\n");
  // wget cannot store a name this long: the copy in the download directory is the only one.
  const std::string name = std::string(246, 'n') + ".wav";
  AddServerRecording("1", 1, name, "only copy");
  WriteFile(folder_ / "installation1" / "download" / name, "only copy");
  AddServerRecording("2", 2, "other.wav", std::string(48000, 'o'));
  // Another writer holds the database, so the label waits while the recording is already moved.
  WriteFile(folder_ / "lock.py",
            "import sqlite3, sys, time\n"
            "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
            "c.execute('BEGIN IMMEDIATE')\nopen(sys.argv[2], 'w').close()\ntime.sleep(120)\n");
  std::optional<pid_t> locker = platform::SpawnProcess(
      "python3 " + (folder_ / "lock.py").string() + " " +
      (folder_ / (source_->Dsn() + ".sqlite")).string() + " " + (folder_ / "locked").string());
  ASSERT_TRUE(locker && WaitFor([&] { return fs::exists(folder_ / "locked"); }));
  ToolProcess otherRun(folder_.path(), "--run", "", other);
  ASSERT_TRUE(WaitFor([&] { return otherRun.HasChild(); }));
  ToolProcess killed(folder_.path(), "--run", "", noting);
  EXPECT_TRUE(WaitFor([&] { return ListedDigests().count(name) == 1; }));
  killed.KillAll();
  kill(*locker, SIGKILL);
  waitpid(*locker, nullptr, 0);
  EXPECT_EQ(otherRun.Wait(), 0);
  ToolProcess next(folder_.path(), "--run", "", noting);
  EXPECT_EQ(next.Wait(), 0);
  EXPECT_TRUE(Labelled("1"));
  EXPECT_EQ(CheckLabelledRowsAreSafe(), 2);
}

}  // namespace
}  // namespace qz
