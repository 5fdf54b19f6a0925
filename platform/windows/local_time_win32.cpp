// Local time on Windows. The C runtime reads TZ only in its oldest form
// and silently takes UTC for anything else, so TZ is read here: a POSIX
// TZ rule in TZ ("CET-1CEST,M3.5.0,M10.5.0/3") is applied by
// platform/tz_rule.h, which gives the same wall clock the POSIX build
// gives for that rule. Without TZ (the normal case on Windows) the
// system's zone applies: GetDynamicTimeZoneInformation with
// SystemTimeToTzSpecificLocalTimeEx and TzSpecificLocalTimeToSystemTimeEx.

#include "platform/windows/win32.h"  // first: before any other system header

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/local_time.h"
#include "platform/log.h"
#include "platform/tz_rule.h"

namespace platform {
namespace {

using namespace std::chrono;

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kFileTimeOf1970 = 116444736000000000LL;

std::optional<TzRule> RuleFromEnvironment() {
  const char* tz = std::getenv("TZ");
  if (!tz || !*tz) return std::nullopt;
  if (auto rule = ParseTzRule(tz)) return rule;
  static std::atomic<bool> warned{false};
  if (!warned.exchange(true))
    LogWarning(std::string("TZ=") + tz + " is not a POSIX time zone rule; the system's time zone applies");
  return std::nullopt;
}

SYSTEMTIME SystemTimeOfSeconds(std::int64_t seconds) {
  const std::int64_t ticks = seconds * 10000000LL + kFileTimeOf1970;
  FILETIME file{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME out{};
  ::FileTimeToSystemTime(&file, &out);
  return out;
}

std::int64_t SecondsOfSystemTime(const SYSTEMTIME& time) {
  FILETIME file{};
  ::SystemTimeToFileTime(&time, &file);
  const std::int64_t ticks =
      (static_cast<std::int64_t>(file.dwHighDateTime) << 32) | static_cast<std::int64_t>(file.dwLowDateTime);
  return (ticks - kFileTimeOf1970) / 10000000LL;
}

// A wall-clock second count as if the wall clock were UTC.
std::int64_t WallSeconds(const SYSTEMTIME& time) { return SecondsOfSystemTime(time); }

bool SystemZone(DYNAMIC_TIME_ZONE_INFORMATION& zone) {
  if (::GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) {
    LogWarning("local time taken as UTC", Status::LastError("GetDynamicTimeZoneInformation"));
    return false;
  }
  return true;
}

std::int64_t NormalizedWallSeconds(int year, int month, int day, int hour, int minute, int second) {
  const std::int64_t monthIndex = static_cast<std::int64_t>(year) * 12 + (month - 1);
  const std::int64_t normalYear = monthIndex >= 0 ? monthIndex / 12 : -((-monthIndex + 11) / 12);
  const int normalMonth = static_cast<int>(monthIndex - normalYear * 12) + 1;
  const sys_days first{std::chrono::year{static_cast<int>(normalYear)} /
                       std::chrono::month{static_cast<unsigned>(normalMonth)} / 1};
  return (first.time_since_epoch().count() + day - 1) * 86400LL + hour * 3600LL + minute * 60LL + second;
}

}  // namespace

LocalTime ToLocalTime(system_clock::time_point when) {
  if (auto rule = RuleFromEnvironment()) return ToLocalTime(*rule, when);
  const std::int64_t utc = floor<seconds>(when).time_since_epoch().count();
  DYNAMIC_TIME_ZONE_INFORMATION zone{};
  std::int64_t wall = utc;
  const SYSTEMTIME utcTime = SystemTimeOfSeconds(utc);
  SYSTEMTIME local{};
  if (SystemZone(zone)) {
    if (::SystemTimeToTzSpecificLocalTimeEx(&zone, &utcTime, &local))
      wall = WallSeconds(local);
    else
      LogWarning("local time taken as UTC", Status::LastError("SystemTimeToTzSpecificLocalTimeEx"));
  }
  // The conversion itself is the rule's wall clock with UTC's dates.
  TzRule utcRule;
  LocalTime out = ToLocalTime(utcRule, system_clock::time_point{seconds{wall}});
  out.utcOffsetMinutes = static_cast<int>((wall - utc) / 60);
  out.daylight = zone.DaylightDate.wMonth != 0 &&
                 out.utcOffsetMinutes != -static_cast<int>(zone.Bias + zone.StandardBias);
  return out;
}

system_clock::time_point FromLocalTime(int year, int month, int day, int hour, int minute, int second) {
  if (auto rule = RuleFromEnvironment()) return FromLocalTime(*rule, year, month, day, hour, minute, second);
  const std::int64_t wall = NormalizedWallSeconds(year, month, day, hour, minute, second);
  DYNAMIC_TIME_ZONE_INFORMATION zone{};
  if (!SystemZone(zone)) return system_clock::time_point{seconds{wall}};
  const SYSTEMTIME local = SystemTimeOfSeconds(wall);
  SYSTEMTIME utc{};
  if (!::TzSpecificLocalTimeToSystemTimeEx(&zone, &local, &utc)) {
    LogWarning("local time taken as UTC", Status::LastError("TzSpecificLocalTimeToSystemTimeEx"));
    return system_clock::time_point{seconds{wall}};
  }
  return system_clock::time_point{seconds{SecondsOfSystemTime(utc)}};
}

}  // namespace platform
