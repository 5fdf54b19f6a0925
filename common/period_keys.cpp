#include "common/period_keys.h"

#include <chrono>
#include <cstdio>

#include "platform/local_time.h"

namespace common {

namespace {

platform::LocalTime Local(std::time_t now) {
  return platform::ToLocalTime(std::chrono::system_clock::from_time_t(now));
}

}  // namespace

LocalDateTime ToLocalDateTime(std::time_t now) { return Local(now); }

std::string DayStamp(int year, int month, int day) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d%02d%02d", year, month, day);
  return buf;
}

int WeekNumber(std::time_t now) {
  const platform::LocalTime local = Local(now);
  const std::time_t start =
      std::chrono::system_clock::to_time_t(platform::FromLocalTime(local.year, 1, 1, 0, 0, 0));
  const long long elapsed = static_cast<long long>(now) - static_cast<long long>(start);
  return static_cast<int>(elapsed / 3600 / 24 / 7 + 1);
}

std::string MonthKey(int month) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", month);
  return buf;
}

std::string QuarterKey(int month) { return std::to_string((month - 1) / 3 + 1); }

std::string SemesterKey(int month) { return month <= 6 ? "1" : "2"; }

PeriodKeys ComputePeriodKeys(std::time_t now) {
  const LocalDateTime t = ToLocalDateTime(now);
  PeriodKeys keys;
  keys.dayStamp = DayStamp(t.year, t.month, t.day);
  keys.week = std::to_string(WeekNumber(now));
  keys.month = MonthKey(t.month);
  keys.quarter = QuarterKey(t.month);
  keys.semester = SemesterKey(t.month);
  keys.year = std::to_string(t.year);
  return keys;
}

}  // namespace common
