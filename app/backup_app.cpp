#include "app/backup_app.h"

#include "app/backup_dialog.h"
#include "monitor/main_window_handle.h"

namespace qz {

bool BackupApp::InitInstance() {
  BackupDialog dialog;
  dialog.OnInitDialog();
  dialog.exec();
  MainWindowHandle = nullptr;
  return false;
}

}  // namespace qz
