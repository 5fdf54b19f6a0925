#include <time.h>

#include "platform/local_time.h"

namespace platform {

LocalTime ToLocalTime(std::chrono::system_clock::time_point when) {
  const time_t seconds = std::chrono::system_clock::to_time_t(when);
  ::tzset();
  struct tm tm {};
  ::localtime_r(&seconds, &tm);
  LocalTime out;
  out.year = tm.tm_year + 1900;
  out.month = tm.tm_mon + 1;
  out.day = tm.tm_mday;
  out.hour = tm.tm_hour;
  out.minute = tm.tm_min;
  out.second = tm.tm_sec;
  out.weekday = tm.tm_wday;
  out.utcOffsetMinutes = static_cast<int>(tm.tm_gmtoff / 60);
  out.daylight = tm.tm_isdst > 0;
  return out;
}

std::chrono::system_clock::time_point FromLocalTime(int year, int month, int day, int hour, int minute,
                                                    int second) {
  ::tzset();
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(::mktime(&tm));
}

}  // namespace platform
