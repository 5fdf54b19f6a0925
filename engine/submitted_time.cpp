#include "engine/submitted_time.h"

#include <chrono>

#include "common/period_keys.h"

namespace engine {

platform::SpoolTime UtcToLocalTime(const platform::SpoolTime& utc) {
  using namespace std::chrono;
  if (utc == platform::SpoolTime{}) return utc;
  year_month_day date{year{utc.year} / month{utc.month} / day{utc.day}};
  if (!date.ok() || utc.hour > 23 || utc.minute > 59 || utc.second > 60) return utc;

  std::time_t moment = system_clock::to_time_t(platform::FromSpoolTime(utc));
  common::LocalDateTime local = common::ToLocalDateTime(moment);
  year_month_day localDate{year{local.year} / month{static_cast<unsigned>(local.month)} /
                           day{static_cast<unsigned>(local.day)}};
  platform::SpoolTime out;
  out.year = static_cast<std::uint16_t>(local.year);
  out.month = static_cast<std::uint16_t>(local.month);
  out.dayOfWeek = static_cast<std::uint16_t>(weekday{sys_days{localDate}}.c_encoding());
  out.day = static_cast<std::uint16_t>(local.day);
  out.hour = static_cast<std::uint16_t>(local.hour);
  out.minute = static_cast<std::uint16_t>(local.minute);
  out.second = static_cast<std::uint16_t>(local.second);
  out.milliseconds = utc.milliseconds;
  return out;
}

}  // namespace engine
