#pragma once

namespace qz {

// The application: shows the main window modally; when it closes, the tool ends.
class BackupApp {
 public:
  // Runs the window to its end; always false, as there is no message loop after it.
  bool InitInstance();
};

}  // namespace qz
