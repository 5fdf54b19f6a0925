#pragma once

#include <chrono>

#include "platform/export.h"

namespace platform {

// A moment as the wall clock of the process's time zone (TZ) shows it.
struct LocalTime {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 0;  // 0 = Sunday
  // Local time minus UTC, daylight saving included when it is in force.
  int utcOffsetMinutes = 0;
  bool daylight = false;
};

// Converts in the time zone currently named by TZ (re-read on every call,
// so a changed TZ takes effect at once).
QM_PLATFORM_API LocalTime ToLocalTime(std::chrono::system_clock::time_point when);

// The moment at which the wall clock of the process's time zone shows the
// given date and time. Fields out of range carry over (day 0 is the last
// day of the month before, month 13 January of the next year), and whether
// daylight saving is in force is decided by the zone for that date.
QM_PLATFORM_API std::chrono::system_clock::time_point FromLocalTime(int year, int month, int day, int hour,
                                                                    int minute, int second);

}  // namespace platform
