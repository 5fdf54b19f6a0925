#include "platform/tz_rule.h"

#include <cstdint>

namespace platform {
namespace {

using namespace std::chrono;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }

  // A zone name: three or more letters, or anything but '>' inside <...>.
  std::optional<std::string> Name() {
    std::string name;
    if (Take('<')) {
      while (!AtEnd() && Peek() != '>') name.push_back(text_[pos_++]);
      if (!Take('>') || name.size() < 3) return std::nullopt;
      return name;
    }
    while (IsLetter(Peek())) name.push_back(text_[pos_++]);
    if (name.size() < 3) return std::nullopt;
    return name;
  }

  std::optional<int> Number(int maxDigits) {
    int value = 0;
    int digits = 0;
    while (digits < maxDigits && Peek() >= '0' && Peek() <= '9') {
      value = value * 10 + (text_[pos_++] - '0');
      ++digits;
    }
    if (digits == 0) return std::nullopt;
    return value;
  }

  // [+-]hh[:mm[:ss]] as seconds; hours up to `maxHours`.
  std::optional<int> Time(int maxHours) {
    int sign = 1;
    if (Take('-'))
      sign = -1;
    else
      Take('+');
    auto hours = Number(3);
    if (!hours || *hours > maxHours) return std::nullopt;
    int seconds = *hours * 3600;
    if (Take(':')) {
      auto minutes = Number(2);
      if (!minutes || *minutes > 59) return std::nullopt;
      seconds += *minutes * 60;
      if (Take(':')) {
        auto secs = Number(2);
        if (!secs || *secs > 59) return std::nullopt;
        seconds += *secs;
      }
    }
    return sign * seconds;
  }

  std::optional<TzRule::Change> Change() {
    TzRule::Change change;
    if (Take('M')) {
      change.kind = TzRule::Change::Kind::kMonthWeekDay;
      auto month = Number(2);
      if (!month || *month < 1 || *month > 12 || !Take('.')) return std::nullopt;
      auto week = Number(1);
      if (!week || *week < 1 || *week > 5 || !Take('.')) return std::nullopt;
      auto weekday = Number(1);
      if (!weekday || *weekday > 6) return std::nullopt;
      change.month = *month;
      change.week = *week;
      change.day = *weekday;
    } else if (Take('J')) {
      change.kind = TzRule::Change::Kind::kJulianNoLeap;
      auto day = Number(3);
      if (!day || *day < 1 || *day > 365) return std::nullopt;
      change.day = *day;
    } else {
      change.kind = TzRule::Change::Kind::kJulianZeroBased;
      auto day = Number(3);
      if (!day || *day > 365) return std::nullopt;
      change.day = *day;
    }
    if (Take('/')) {
      auto time = Time(167);
      if (!time) return std::nullopt;
      change.seconds = *time;
    }
    return change;
  }

 private:
  static bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
  std::string_view text_;
  std::size_t pos_ = 0;
};

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days since 1970-01-01 of the change's date in `year`.
std::int64_t ChangeDay(const TzRule::Change& change, int year) {
  const sys_days january1{std::chrono::year{year} / January / 1};
  const auto first = january1.time_since_epoch().count();
  switch (change.kind) {
    case TzRule::Change::Kind::kJulianNoLeap:
      return first + change.day - 1 + (IsLeap(year) && change.day >= 60 ? 1 : 0);
    case TzRule::Change::Kind::kJulianZeroBased: return first + change.day;
    case TzRule::Change::Kind::kMonthWeekDay: {
      const std::chrono::year_month ym{std::chrono::year{year},
                                       std::chrono::month{static_cast<unsigned>(change.month)}};
      const sys_days monthStart{ym / 1};
      const int startWeekday = static_cast<int>(weekday{monthStart}.c_encoding());
      int day = (change.day - startWeekday + 7) % 7 + 7 * (change.week - 1);
      const int length = static_cast<int>(static_cast<unsigned>((ym / last).day()));
      while (day >= length) day -= 7;
      return monthStart.time_since_epoch().count() + day;
    }
  }
  return first;
}

// The UTC second at which daylight saving starts and ends in `year`.
std::int64_t StartUtc(const TzRule& rule, int year) {
  return ChangeDay(rule.start, year) * 86400 + rule.start.seconds - rule.standardOffsetSeconds;
}
std::int64_t EndUtc(const TzRule& rule, int year) {
  return ChangeDay(rule.end, year) * 86400 + rule.end.seconds - rule.daylightOffsetSeconds;
}

int YearOf(std::int64_t localSeconds) {
  const auto days =
      sys_days{std::chrono::days{localSeconds >= 0 ? localSeconds / 86400 : (localSeconds - 86399) / 86400}};
  return static_cast<int>(year_month_day{days}.year());
}

bool InDaylight(const TzRule& rule, std::int64_t utc) {
  if (!rule.HasDaylight()) return false;
  const int year = YearOf(utc + rule.standardOffsetSeconds);
  const std::int64_t start = StartUtc(rule, year);
  const std::int64_t end = EndUtc(rule, year);
  if (start < end) return utc >= start && utc < end;
  return !(utc >= end && utc < start);  // southern hemisphere: daylight over new year
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

std::optional<TzRule> ParseTzRule(std::string_view text) {
  TzRule rule;
  if (text == "UTC" || text == "GMT") {
    rule.standardName = std::string(text);
    return rule;
  }
  Reader in(text);
  auto standardName = in.Name();
  if (!standardName) return std::nullopt;
  auto standardOffset = in.Time(24);
  if (!standardOffset) return std::nullopt;
  rule.standardName = *standardName;
  rule.standardOffsetSeconds = -*standardOffset;
  if (in.AtEnd()) return rule;

  auto daylightName = in.Name();
  if (!daylightName) return std::nullopt;
  rule.daylightName = *daylightName;
  rule.daylightOffsetSeconds = rule.standardOffsetSeconds + 3600;
  if (!in.AtEnd() && in.Peek() != ',') {
    auto daylightOffset = in.Time(24);
    if (!daylightOffset) return std::nullopt;
    rule.daylightOffsetSeconds = -*daylightOffset;
  }
  if (in.AtEnd()) {
    rule.start = TzRule::Change{TzRule::Change::Kind::kMonthWeekDay, 0, 2, 3, 7200};
    rule.end = TzRule::Change{TzRule::Change::Kind::kMonthWeekDay, 0, 1, 11, 7200};
    return rule;
  }
  if (!in.Take(',')) return std::nullopt;
  auto start = in.Change();
  if (!start || !in.Take(',')) return std::nullopt;
  auto end = in.Change();
  if (!end || !in.AtEnd()) return std::nullopt;
  rule.start = *start;
  rule.end = *end;
  return rule;
}

LocalTime ToLocalTime(const TzRule& rule, system_clock::time_point when) {
  const std::int64_t utc = floor<seconds>(when).time_since_epoch().count();
  const bool daylight = InDaylight(rule, utc);
  const int offset = daylight ? rule.daylightOffsetSeconds : rule.standardOffsetSeconds;
  const std::int64_t local = utc + offset;
  const std::int64_t dayNumber = FloorDiv(local, 86400);
  const std::int64_t secondOfDay = local - dayNumber * 86400;
  const sys_days day{std::chrono::days{dayNumber}};
  const year_month_day date{day};
  LocalTime out;
  out.year = static_cast<int>(date.year());
  out.month = static_cast<int>(static_cast<unsigned>(date.month()));
  out.day = static_cast<int>(static_cast<unsigned>(date.day()));
  out.hour = static_cast<int>(secondOfDay / 3600);
  out.minute = static_cast<int>(secondOfDay / 60 % 60);
  out.second = static_cast<int>(secondOfDay % 60);
  out.weekday = static_cast<int>(weekday{day}.c_encoding());
  out.utcOffsetMinutes = offset / 60;
  out.daylight = daylight;
  return out;
}

system_clock::time_point FromLocalTime(const TzRule& rule, int year, int month, int day, int hour, int minute,
                                       int second) {
  // Out-of-range fields carry: months into years, the rest as plain counts
  // from the first of the month.
  const std::int64_t monthIndex = static_cast<std::int64_t>(year) * 12 + (month - 1);
  const int normalYear = static_cast<int>(FloorDiv(monthIndex, 12));
  const int normalMonth = static_cast<int>(monthIndex - static_cast<std::int64_t>(normalYear) * 12) + 1;
  const sys_days first{std::chrono::year{normalYear} /
                       std::chrono::month{static_cast<unsigned>(normalMonth)} / 1};
  const std::int64_t local = (first.time_since_epoch().count() + day - 1) * 86400 +
                             static_cast<std::int64_t>(hour) * 3600 + static_cast<std::int64_t>(minute) * 60 +
                             second;
  const std::int64_t asStandard = local - rule.standardOffsetSeconds;
  std::int64_t utc = asStandard;
  if (rule.HasDaylight()) {
    const std::int64_t asDaylight = local - rule.daylightOffsetSeconds;
    if (InDaylight(rule, asDaylight)) utc = asDaylight;
  }
  return system_clock::time_point{seconds{utc}};
}

}  // namespace platform
