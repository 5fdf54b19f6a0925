#pragma once

#include <chrono>

#include "platform/export.h"

namespace platform {

// A moment as the wall clock of the process's time zone (TZ) shows it.
struct LocalTime {
  int year = 0;
  int month = 0;    // 1-12
  int day = 0;      // 1-31
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

}  // namespace platform
