#include "common/period_keys.h"

#include <cstdio>

namespace common {

namespace {

std::tm LocalTm(std::time_t now)
{
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm;
}

}  // namespace

LocalDateTime ToLocalDateTime(std::time_t now)
{
    const std::tm tm = LocalTm(now);
    LocalDateTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    return t;
}

std::string DayStamp(int year, int month, int day)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d%02d%02d", year, month, day);
    return buf;
}

int WeekNumber(std::time_t now)
{
    const std::tm local = LocalTm(now);
    std::tm jan1{};
    jan1.tm_year = local.tm_year;
    jan1.tm_mon = 0;
    jan1.tm_mday = 1;
    jan1.tm_isdst = -1;
    const std::time_t start = std::mktime(&jan1);
    const long long elapsed = static_cast<long long>(now) - static_cast<long long>(start);
    return static_cast<int>(elapsed / 3600 / 24 / 7 + 1);
}

std::string MonthKey(int month)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", month);
    return buf;
}

std::string QuarterKey(int month)
{
    return std::to_string((month - 1) / 3 + 1);
}

std::string SemesterKey(int month)
{
    return month <= 6 ? "1" : "2";
}

PeriodKeys ComputePeriodKeys(std::time_t now)
{
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
