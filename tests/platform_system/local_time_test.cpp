// Local time in zones given as POSIX TZ rules: the platform's conversion
// (the C library on POSIX, the rule reader on Windows) against moments
// whose wall clock is known, on both sides of daylight-saving changes.

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "platform/local_time.h"
#include "platform/tz_rule.h"
#include "tests/support/fake_clock.h"

namespace {

using namespace std::chrono;
using testing_support::TimeZone;

constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char* kUsEastern = "EST5EDT,M3.2.0,M11.1.0";

system_clock::time_point Utc(int y, unsigned mo, unsigned d, int h, int mi, int s = 0) {
  return sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

struct Wall {
  int year, month, day, hour, minute, second, weekday, offset;
  bool daylight;
};

void ExpectWall(const platform::LocalTime& t, const Wall& w) {
  EXPECT_EQ(t.year, w.year);
  EXPECT_EQ(t.month, w.month);
  EXPECT_EQ(t.day, w.day);
  EXPECT_EQ(t.hour, w.hour);
  EXPECT_EQ(t.minute, w.minute);
  EXPECT_EQ(t.second, w.second);
  EXPECT_EQ(t.weekday, w.weekday);
  EXPECT_EQ(t.utcOffsetMinutes, w.offset);
  EXPECT_EQ(t.daylight, w.daylight);
}

struct Moment {
  const char* zone;
  system_clock::time_point utc;
  Wall wall;
};

// Each side of both changes of 2024 in both zones, and a year's end.
const Moment kMoments[] = {
    {kCentralEurope, Utc(2024, 3, 31, 0, 59, 59), {2024, 3, 31, 1, 59, 59, 0, 60, false}},
    {kCentralEurope, Utc(2024, 3, 31, 1, 0, 0), {2024, 3, 31, 3, 0, 0, 0, 120, true}},
    {kCentralEurope, Utc(2024, 10, 27, 0, 59, 59), {2024, 10, 27, 2, 59, 59, 0, 120, true}},
    {kCentralEurope, Utc(2024, 10, 27, 1, 0, 0), {2024, 10, 27, 2, 0, 0, 0, 60, false}},
    {kCentralEurope, Utc(2024, 6, 30, 23, 30), {2024, 7, 1, 1, 30, 0, 1, 120, true}},
    {kCentralEurope, Utc(2023, 12, 31, 23, 0), {2024, 1, 1, 0, 0, 0, 1, 60, false}},
    {kUsEastern, Utc(2024, 3, 10, 6, 59, 59), {2024, 3, 10, 1, 59, 59, 0, -300, false}},
    {kUsEastern, Utc(2024, 3, 10, 7, 0, 0), {2024, 3, 10, 3, 0, 0, 0, -240, true}},
    {kUsEastern, Utc(2024, 11, 3, 5, 59, 59), {2024, 11, 3, 1, 59, 59, 0, -240, true}},
    {kUsEastern, Utc(2024, 11, 3, 6, 0, 0), {2024, 11, 3, 1, 0, 0, 0, -300, false}},
    {kUsEastern, Utc(2025, 1, 1, 4, 59, 59), {2024, 12, 31, 23, 59, 59, 2, -300, false}},
    {"UTC0", Utc(2024, 2, 29, 12, 0), {2024, 2, 29, 12, 0, 0, 4, 0, false}},
};

TEST(LocalTime, KnownMomentsOnBothSidesOfTheChanges) {
  for (const Moment& m : kMoments) {
    TimeZone zone(m.zone);
    SCOPED_TRACE(std::string(m.zone) + " at " + std::to_string(system_clock::to_time_t(m.utc)));
    ExpectWall(platform::ToLocalTime(m.utc), m.wall);
    // And back from the wall clock to the moment, except in the hour that
    // occurs twice (the clocks going back), which is read as daylight time.
    const bool repeatedHour = (m.wall.hour == 2 && m.wall.month == 10) ||
                              (m.wall.hour == 1 && m.wall.month == 11 && !m.wall.daylight);
    if (!repeatedHour) {
      EXPECT_EQ(platform::FromLocalTime(m.wall.year, m.wall.month, m.wall.day, m.wall.hour, m.wall.minute,
                                        m.wall.second),
                m.utc);
    }
  }
}

TEST(LocalTime, FieldsOutOfRangeCarryOver) {
  TimeZone zone(kCentralEurope);
  // Day 0 of March is the last of February; month 13 January next year.
  EXPECT_EQ(platform::FromLocalTime(2024, 3, 0, 12, 0, 0), Utc(2024, 2, 29, 11, 0));
  EXPECT_EQ(platform::FromLocalTime(2024, 13, 1, 0, 0, 0), Utc(2024, 12, 31, 23, 0));
  // The day after 31 March crosses the change: midnight is in summer time.
  EXPECT_EQ(platform::FromLocalTime(2024, 3, 32, 0, 0, 0), Utc(2024, 3, 31, 22, 0));
  EXPECT_EQ(platform::FromLocalTime(2024, 1, 1, 25, 61, 0), Utc(2024, 1, 2, 1, 1));
}

TEST(LocalTime, AChangedZoneTakesEffectAtOnce) {
  const auto moment = Utc(2024, 7, 1, 12, 0);
  {
    TimeZone zone(kCentralEurope);
    EXPECT_EQ(platform::ToLocalTime(moment).hour, 14);
  }
  {
    TimeZone zone(kUsEastern);
    EXPECT_EQ(platform::ToLocalTime(moment).hour, 8);
  }
}

TEST(TzRule, ReadsTheFormsOfTheRule) {
  auto cet = platform::ParseTzRule(kCentralEurope);
  ASSERT_TRUE(cet);
  EXPECT_EQ(cet->standardName, "CET");
  EXPECT_EQ(cet->daylightName, "CEST");
  EXPECT_EQ(cet->standardOffsetSeconds, 3600);
  EXPECT_EQ(cet->daylightOffsetSeconds, 7200);
  EXPECT_EQ(cet->end.seconds, 3 * 3600);

  auto quoted = platform::ParseTzRule("<+0330>-3:30");
  ASSERT_TRUE(quoted);
  EXPECT_EQ(quoted->standardName, "+0330");
  EXPECT_EQ(quoted->standardOffsetSeconds, 3 * 3600 + 1800);
  EXPECT_FALSE(quoted->HasDaylight());

  // No dates: the US rule; no daylight offset: one hour ahead.
  auto us = platform::ParseTzRule("EST5EDT");
  ASSERT_TRUE(us);
  EXPECT_EQ(us->daylightOffsetSeconds, -4 * 3600);
  EXPECT_EQ(us->start.month, 3);
  EXPECT_EQ(us->start.week, 2);

  for (const char* bad : {"Europe/Berlin", ":Europe/Berlin", "", "CET", "CET-1CEST,M3.5.0",
                          "CET-1CEST,M13.1.0,M10.5.0", "CET-1CEST,M3.5.0,M10.5.0/3x", "AB1"})
    EXPECT_FALSE(platform::ParseTzRule(bad)) << bad;
  EXPECT_TRUE(platform::ParseTzRule("UTC"));
}

TEST(TzRule, SouthernHemisphereAndJulianDates) {
  // Daylight time over the new year: Sydney.
  auto sydney = platform::ParseTzRule("AEST-10AEDT,M10.1.0,M4.1.0/3");
  ASSERT_TRUE(sydney);
  EXPECT_TRUE(platform::ToLocalTime(*sydney, Utc(2024, 1, 15, 0, 0)).daylight);
  EXPECT_FALSE(platform::ToLocalTime(*sydney, Utc(2024, 7, 15, 0, 0)).daylight);
  // 7 April 2024, 03:00 AEDT = 16:00 UTC on the 6th.
  EXPECT_TRUE(platform::ToLocalTime(*sydney, Utc(2024, 4, 6, 15, 59, 59)).daylight);
  EXPECT_FALSE(platform::ToLocalTime(*sydney, Utc(2024, 4, 6, 16, 0, 0)).daylight);

  // J60 is 1 March in every year; 59 (counted from 0) is 29 February in a leap year.
  auto julian = platform::ParseTzRule("XST0XDT,J60/0,J300/0");
  ASSERT_TRUE(julian);
  EXPECT_TRUE(platform::ToLocalTime(*julian, Utc(2024, 3, 1, 0, 0)).daylight);
  EXPECT_FALSE(platform::ToLocalTime(*julian, Utc(2024, 2, 29, 23, 59, 59)).daylight);
  auto zeroBased = platform::ParseTzRule("XST0XDT,59/0,300/0");
  ASSERT_TRUE(zeroBased);
  EXPECT_TRUE(platform::ToLocalTime(*zeroBased, Utc(2024, 2, 29, 0, 0)).daylight);
  EXPECT_FALSE(platform::ToLocalTime(*zeroBased, Utc(2023, 2, 28, 23, 59, 59)).daylight);
}

#if !defined(_WIN32)
// The rule reader agrees with the C library hour by hour over years with
// both kinds of change, so the Windows build shows the POSIX build's clock.
TEST(TzRule, AgreesWithTheCLibrary) {
  for (const char* text : {kCentralEurope, kUsEastern, "AEST-10AEDT,M10.1.0,M4.1.0/3", "<+0330>-3:30",
                           "NZST-12NZDT,M9.5.0,M4.1.0/3", "XST3XDT,J60/-1,300/26"}) {
    TimeZone zone(text);
    auto rule = platform::ParseTzRule(text);
    ASSERT_TRUE(rule) << text;
    for (auto t = Utc(2023, 1, 1, 0, 0) - minutes(30); t < Utc(2025, 1, 1, 0, 0); t += minutes(30)) {
      const std::time_t seconds = system_clock::to_time_t(t);
      std::tm tm{};
      ::localtime_r(&seconds, &tm);
      const platform::LocalTime mine = platform::ToLocalTime(*rule, t);
      ASSERT_EQ(mine.hour, tm.tm_hour) << text << " at " << seconds;
      ASSERT_EQ(mine.minute, tm.tm_min) << text << " at " << seconds;
      ASSERT_EQ(mine.day, tm.tm_mday) << text << " at " << seconds;
      ASSERT_EQ(mine.daylight, tm.tm_isdst > 0) << text << " at " << seconds;
      ASSERT_EQ(mine.utcOffsetMinutes * 60, tm.tm_gmtoff) << text << " at " << seconds;
    }
  }
}
#endif

}  // namespace
