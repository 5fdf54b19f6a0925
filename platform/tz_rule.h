#pragma once

// A time zone written as a POSIX TZ rule ("CET-1CEST,M3.5.0,M10.5.0/3",
// "EST5EDT", "<+0330>-3:30", "UTC0"), converted without the C library, so
// that a system whose C library does not read such rules (Windows) gives
// the same local times as one that does.
//
//   std offset [dst [offset] [,start[/time],end[/time]]]
//
// Offsets are hours west of Greenwich ([+-]hh[:mm[:ss]]); the daylight
// offset defaults to one hour less than the standard one, the change times
// to 02:00, and a daylight zone without dates changes on the second Sunday
// of March and the first Sunday of November. Dates are Jn (1-365, 29
// February never counted), n (0-365, counted) or Mm.w.d (day d of week w of
// month m, week 5 being the last). Change times may be negative or beyond
// 24 hours. The names "UTC" and "GMT" alone mean UTC.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/export.h"
#include "platform/local_time.h"

namespace platform {

struct TzRule {
  struct Change {
    enum class Kind { kJulianNoLeap, kJulianZeroBased, kMonthWeekDay };
    Kind kind = Kind::kMonthWeekDay;
    int day = 0;         // Jn: 1-365, n: 0-365, Mm.w.d: weekday 0-6 (0 = Sunday)
    int week = 0;        // Mm.w.d: 1-5
    int month = 0;       // Mm.w.d: 1-12
    int seconds = 7200;  // local wall-clock time of the change
  };

  std::string standardName;
  std::string daylightName;       // empty: no daylight saving
  int standardOffsetSeconds = 0;  // local time minus UTC (east positive)
  int daylightOffsetSeconds = 0;
  Change start;  // into daylight saving, in standard time
  Change end;    // back to standard time, in daylight time

  bool HasDaylight() const { return !daylightName.empty(); }
};

// The rule `text` writes; nothing when it is not a POSIX TZ rule (an IANA
// name such as "Europe/Berlin", a zone file path ":...").
QM_PLATFORM_API std::optional<TzRule> ParseTzRule(std::string_view text);

QM_PLATFORM_API LocalTime ToLocalTime(const TzRule& rule, std::chrono::system_clock::time_point when);

// As platform::FromLocalTime: fields out of range carry over; a wall-clock
// time that occurs twice (the hour the clocks go back) is taken in
// daylight time, one that does not occur (the hour they go forward) is
// read in standard time.
QM_PLATFORM_API std::chrono::system_clock::time_point FromLocalTime(const TzRule& rule, int year, int month,
                                                                    int day, int hour, int minute,
                                                                    int second);

}  // namespace platform
