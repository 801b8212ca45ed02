// qzbackup: the window by default; --run for one headless run; --service for the window-less
// scheduler and watchdog; --verify to check the archive sets against their checksum files; --check
// to see what a run would need, changing nothing.
#include <unistd.h>
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "app/backup_app.h"
#include "app/check_command.h"
#include "app/headless.h"
#include "app/service.h"
#include "app/verify_command.h"
#include "config/installation_owner.h"
#include "platform/file_modes.h"

namespace {

constexpr const char* kUsage =
    "Usage: qzbackup [--run | --service | --check | --verify [LABEL] | --help | --version]\n"
    "\n"
    "Backs up the recordings of a call-recording installation.\n"
    "\n"
    "  (no option)  open the window: \"Backup now\", settings, automatic starts\n"
    "  --run        perform one backup run without a window and print one line per file\n"
    "  --service    run the automatic-start scheduler and the disk watchdog without a window\n"
    "  --check      check what a run needs (settings, folders, wget, data source, table, query,\n"
    "               servers, label, next start) and print OK, WARN or FAIL per check with what\n"
    "               to do; changes nothing; exit 0 when nothing failed, 1 when something did,\n"
    "               2 when the settings cannot be loaded\n"
    "  --verify [LABEL]\n"
    "               check every archive set (or the one named) against its checksum file and\n"
    "               the table; changes nothing\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status of --run: 0 every row backed up, 1 a row failed, 2 settings or database error,\n"
    "130/143 stopped by SIGINT/SIGTERM before all rows were done (a first signal lets the row\n"
    "under way finish, a second one ends its wget at once). --service exits 0 after SIGINT or\n"
    "SIGTERM.\n";

int RunWindow(int argc, char** argv) {
  QApplication app(argc, argv);
  qz::BackupApp backupApp;
  backupApp.InitInstance();
  // The background threads are never stopped: like them, everything ends with the process.
  std::fflush(nullptr);
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is created and before wget or an alarm program can inherit the umask.
  qz::platform::CloseUmaskToOthers();
  std::string option = argc > 1 ? argv[1] : "";
  if (option == "--help" || option == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (option == "--version") {
    std::puts("qzbackup Version 2.0");
    return 0;
  }
  std::string arguments;
  for (int i = 1; i < argc; ++i) arguments += (i > 1 ? " " : "") + std::string(argv[i]);
  if (auto refusal = qz::RefuseAnotherUsersInstallation(geteuid(), arguments)) {
    std::fputs(refusal->c_str(), stderr);
    return 2;
  }
  if (argc > 1) {
    if (option == "--run") return qz::RunHeadless();
    if (option == "--service") {
      int status = qz::RunService();
      // The scheduler and the watchdog are never stopped: they end with the process.
      std::fflush(nullptr);
      _exit(status);
    }
    if (option == "--check" && argc == 2) return qz::RunCheck();
    if (option == "--verify" && argc <= 3)
      return qz::RunVerify(argc == 3 ? std::optional<std::string>(argv[2]) : std::nullopt);
    std::fprintf(stderr, "qzbackup: unknown option %s\n\n%s", argv[1], kUsage);
    return 2;
  }
  return RunWindow(argc, argv);
}
