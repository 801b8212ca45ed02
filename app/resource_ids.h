// Ids of the dialog templates, controls, icons and menu commands.
#pragma once

namespace qz {

enum DialogId { IDD_ABOUTBOX = 100, IDD_MAIN = 102, IDD_SETTINGS = 129 };

enum IconId { IDI_MAIN = 128, IDI_STATUS_OK = 129, IDI_STATUS_FAILED = 130 };

enum ControlId {
  IDC_BACKUP_NOW = 1000,
  IDC_RESULT_LIST = 1001,
  IDC_SETTINGS = 1002,
  IDC_WEBDOCDIR = 1003,
  IDC_DOWNLOADPATH = 1004,
  IDC_USEDSN = 1005,
  IDC_TABLE = 1006,
  IDC_AUTOSTART_HOUR = 1007,
  IDC_AUTOSTART_DAY = 1008,
  IDC_START_COMMAND = 1009,
  IDC_BACKUPPATH = 1010,
  IDC_MOVE_FILES = 1011,
  IDC_ALARM_ON_ERROR = 1012,
  IDC_ALARM_NUMBER = 1013,
};

inline constexpr int IDM_ABOUTBOX = 0x0010;
inline constexpr int WM_USER = 0x0400;
inline constexpr int WM_AUTOBACKUP = WM_USER + 1;

}  // namespace qz
