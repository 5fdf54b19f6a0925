#include "engine/submitted_time.h"

#include <chrono>

#include "platform/local_time.h"

namespace engine {

platform::SpoolTime UtcToLocalTime(const platform::SpoolTime& utc) {
  using namespace std::chrono;
  if (utc == platform::SpoolTime{}) return utc;
  year_month_day date{year{utc.year} / month{utc.month} / day{utc.day}};
  if (!date.ok() || utc.hour > 23 || utc.minute > 59 || utc.second > 60) return utc;

  platform::LocalTime local = platform::ToLocalTime(platform::FromSpoolTime(utc));
  platform::SpoolTime out;
  out.year = static_cast<std::uint16_t>(local.year);
  out.month = static_cast<std::uint16_t>(local.month);
  out.dayOfWeek = static_cast<std::uint16_t>(local.weekday);
  out.day = static_cast<std::uint16_t>(local.day);
  out.hour = static_cast<std::uint16_t>(local.hour);
  out.minute = static_cast<std::uint16_t>(local.minute);
  out.second = static_cast<std::uint16_t>(local.second);
  out.milliseconds = utc.milliseconds;
  return out;
}

}  // namespace engine
