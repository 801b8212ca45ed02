#include "backup/archive_label.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/profile.h"

namespace qz {
namespace {

constexpr const char* kCounterSection = "ArchiveCounter";
constexpr const char* kLastWeekKey = "LastArchiveWeek";
constexpr const char* kCounterKey = "CounterForCurWeek";

// Monday 1 ... Sunday 7.
int MondayBasedWeekday(int tmWeekday) {
  return tmWeekday == 0 ? 7 : tmWeekday;
}

// Noon and no daylight saving keep the normalisation on 1 January whatever the zone does.
int WeekdayOfJanuaryFirst(int tmYear) {
  std::tm january{};
  january.tm_year = tmYear;
  january.tm_mday = 1;
  january.tm_hour = 12;
  january.tm_isdst = 0;
  std::mktime(&january);
  return MondayBasedWeekday(january.tm_wday);
}

bool YearStartsInWeekOne(int januaryWeekday) {
  return januaryWeekday >= 2 && januaryWeekday <= 4;
}

// The step is taken in 64 bits: the largest counter steps past every maximum and starts again at
// 1. A negative counter stored by hand is used as read and counts up towards the maximum.
int NextCounterValue(int counter, int maxCount) {
  const std::int64_t next = std::int64_t{counter} + 1;
  return next > maxCount ? 1 : static_cast<int>(next);
}

// The counter for this week; written back only when `advance` is set.
int CounterForWeek(int week, int maxCount, bool advance) {
  int lastWeek = platform::GetPrivateProfileInt(kCounterSection, kLastWeekKey, -1, kIniFile);
  int counter = platform::GetPrivateProfileInt(kCounterSection, kCounterKey, 0, kIniFile);
  if (week == lastWeek) return counter;
  counter = NextCounterValue(counter, maxCount);
  if (!advance) return counter;
  platform::WritePrivateProfileString(kCounterSection, kLastWeekKey, std::to_string(week),
                                      kIniFile);
  platform::WritePrivateProfileString(kCounterSection, kCounterKey, std::to_string(counter),
                                      kIniFile);
  return counter;
}

}  // namespace

int CurrentIsoWeek(std::time_t today) {
  std::tm local = platform::LocalTime(today);
  const int dayOfYear = local.tm_yday + 1;
  const int weekday = MondayBasedWeekday(local.tm_wday);
  const int january = WeekdayOfJanuaryFirst(local.tm_year);
  const int firstMonday = january == 1 ? 1 : 9 - january;
  const bool startsInWeekOne = YearStartsInWeekOne(january);
  if (dayOfYear < firstMonday) return startsInWeekOne ? 1 : 0;
  const int wholeWeeks = (dayOfYear - weekday + 1 - firstMonday) / 7;
  return wholeWeeks + (startsInWeekOne ? 2 : 1);
}

namespace {

ArchiveLabel LabelForNow(const BackupSettings& settings, platform::Clock& clock, bool advance) {
  const int week = CurrentIsoWeek(clock.Now());
  const int number = settings.ArchiveFlagType == 1
                         ? CounterForWeek(week, settings.MaxArchiveCount, advance)
                         : week;
  return {settings.ArchivePrefixForDBEntry + "_" + std::to_string(number)};
}

}  // namespace

ArchiveLabel MakeArchiveLabel(const BackupSettings& settings, platform::Clock& clock) {
  return LabelForNow(settings, clock, true);
}

ArchiveLabel PeekArchiveLabel(const BackupSettings& settings, platform::Clock& clock) {
  return LabelForNow(settings, clock, false);
}

ArchiveLabel LongestArchiveLabel(const BackupSettings& settings, const ArchiveLabel& next) {
  constexpr int kHighestWeek = 53;
  const int highest =
      settings.ArchiveFlagType == 1 ? std::max(settings.MaxArchiveCount, 1) : kHighestWeek;
  ArchiveLabel longest{settings.ArchivePrefixForDBEntry + "_" + std::to_string(highest)};
  return longest.text.size() > next.text.size() ? longest : next;
}

}  // namespace qz
