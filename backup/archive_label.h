// The label a run writes into ARCHIVE: the prefix, an underscore and either the week number or a
// weekly counter kept in section "ArchiveCounter" of the INI file.
#pragma once

#include <ctime>
#include <string>

#include "config/backup_settings.h"
#include "platform/clock.h"

namespace qz {

inline constexpr std::size_t kMaxArchiveLabelLength = 39;

struct ArchiveLabel {
  std::string text;
  // A longer label would not fit the column's slot; it is never shortened, only refused.
  bool Fits() const { return text.size() <= kMaxArchiveLabelLength; }
};

// Week number 0..53 of the local date of `today`: ISO 8601 inside the year, but the early
// January days ISO gives to last year's final week are 0, and the late December days ISO gives
// to next year's week 1 are 53.
int CurrentIsoWeek(std::time_t today);

// Advances the counter on the first run of a week whose number differs from the last recorded
// one (ArchiveFlagType 1 only), then formats "%s_%d". The counter is written even when the label
// turns out too long, as the run has started either way.
ArchiveLabel MakeArchiveLabel(const BackupSettings& settings,
                              platform::Clock& clock = platform::SystemClock());

// The label a run starting now would write, the counter read but never advanced.
ArchiveLabel PeekArchiveLabel(const BackupSettings& settings,
                              platform::Clock& clock = platform::SystemClock());

// The longest label the settings can give from `next` on: the highest week number or counter
// value, or `next` itself where the counter stands above its maximum.
ArchiveLabel LongestArchiveLabel(const BackupSettings& settings, const ArchiveLabel& next);

}  // namespace qz
