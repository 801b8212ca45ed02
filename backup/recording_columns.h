// The recordings table as the tool binds it: 27 columns, by position, in this order.
#pragma once

#include <array>
#include <string_view>

namespace qz {

enum class ColumnKind { kDateTime, kText, kInteger };

struct RecordingColumn {
  std::string_view name;
  ColumnKind kind;
};

inline constexpr std::array<RecordingColumn, 27> kRecordingColumns = {{
    {"MODIFY", ColumnKind::kDateTime},  {"ID", ColumnKind::kText},
    {"SERVER", ColumnKind::kInteger},   {"HOUR", ColumnKind::kInteger},
    {"MIN", ColumnKind::kInteger},      {"DAY", ColumnKind::kInteger},
    {"MONTH", ColumnKind::kInteger},    {"YEAR", ColumnKind::kInteger},
    {"WEEK", ColumnKind::kInteger},     {"WDAY", ColumnKind::kInteger},
    {"YDAY", ColumnKind::kInteger},     {"TIMESTAMP", ColumnKind::kDateTime},
    {"CALLER", ColumnKind::kText},      {"CALLED", ColumnKind::kText},
    {"CONNECTED", ColumnKind::kText},   {"DIRECTION", ColumnKind::kText},
    {"INCOMING", ColumnKind::kInteger}, {"STATUS", ColumnKind::kText},
    {"LENGTH", ColumnKind::kInteger},   {"LINENBR", ColumnKind::kInteger},
    {"CNXTYPE", ColumnKind::kText},     {"SERVERNAME", ColumnKind::kText},
    {"DRIVE", ColumnKind::kText},       {"DIR", ColumnKind::kText},
    {"FILE", ColumnKind::kText},        {"REPLFLAG", ColumnKind::kInteger},
    {"ARCHIVE", ColumnKind::kText},
}};

inline constexpr int kServerNamePosition = 21;
inline constexpr int kFilePosition = 24;
inline constexpr int kArchivePosition = 26;

}  // namespace qz
