#pragma once

#include <ctime>
#include <string>

#include "platform/local_time.h"

namespace common {

// A local broken-down time with a human month (1-12) and a full year.
using LocalDateTime = platform::LocalTime;

// The local time of `now` in the current TZ.
LocalDateTime ToLocalDateTime(std::time_t now);

// "%d%02d%02d", e.g. 20060309.
std::string DayStamp(int year, int month, int day);

// Whole weeks elapsed since 1 January 00:00 local time of the current year,
// plus one. The count runs on elapsed seconds, so while summer time is in
// force the week turns over at 01:00 local time rather than at midnight.
int WeekNumber(std::time_t now);

// Two digits, "01".."12".
std::string MonthKey(int month);
// "1".."4".
std::string QuarterKey(int month);
// "1" for January-June, "2" for July-December.
std::string SemesterKey(int month);

struct PeriodKeys {
  std::string dayStamp;
  std::string week;
  std::string month;
  std::string quarter;
  std::string semester;
  std::string year;
};

// All period keys for `now` in local time.
PeriodKeys ComputePeriodKeys(std::time_t now);

}  // namespace common
