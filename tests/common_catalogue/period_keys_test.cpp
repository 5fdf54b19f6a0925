#include "common/period_keys.h"

#include "tests/support/fake_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace {

using common::ComputePeriodKeys;
using common::DayStamp;
using common::MonthKey;
using common::QuarterKey;
using common::SemesterKey;
using common::WeekNumber;

using testing_support::TimeZone;

std::time_t Local(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return testing_support::LocalTime(year, month, day, hour, minute, second);
}

// Week boundaries that hold in every zone, since no zone here changes its
// offset in early January or late December.
void ExpectYearEdges() {
  EXPECT_EQ(WeekNumber(Local(2023, 1, 1)), 1);
  EXPECT_EQ(WeekNumber(Local(2023, 1, 7, 23, 59, 59)), 1);
  EXPECT_EQ(WeekNumber(Local(2023, 1, 8)), 2);
  EXPECT_EQ(WeekNumber(Local(2023, 1, 14, 23, 59, 59)), 2);
  EXPECT_EQ(WeekNumber(Local(2023, 1, 15)), 3);
  // 2023 is not a leap year: only 31 December is in week 53.
  EXPECT_EQ(WeekNumber(Local(2023, 12, 30, 23, 59, 59)), 52);
  EXPECT_EQ(WeekNumber(Local(2023, 12, 31)), 53);
  EXPECT_EQ(WeekNumber(Local(2023, 12, 31, 23, 59, 59)), 53);
  // 2024 is a leap year: 30 and 31 December are in week 53.
  EXPECT_EQ(WeekNumber(Local(2024, 12, 29, 23, 59, 59)), 52);
  EXPECT_EQ(WeekNumber(Local(2024, 12, 30)), 53);
  EXPECT_EQ(WeekNumber(Local(2024, 12, 31, 23, 59, 59)), 53);
  // The new year starts over at week 1.
  EXPECT_EQ(WeekNumber(Local(2025, 1, 1)), 1);
}

TEST(WeekNumber, YearEdgesInUtc) {
  TimeZone tz("UTC0");
  ExpectYearEdges();
}

TEST(WeekNumber, YearEdgesInBerlin) {
  TimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
  ExpectYearEdges();
}

TEST(WeekNumber, YearEdgesInNewYork) {
  TimeZone tz("EST5EDT,M3.2.0,M11.1.0");
  ExpectYearEdges();
}

// 1 July 2024 is day 182 = 26 * 7, so week 27 begins then.
TEST(WeekNumber, UtcWeekChangesAtMidnightInSummer) {
  TimeZone tz("UTC0");
  EXPECT_EQ(WeekNumber(Local(2024, 6, 30, 23, 59, 59)), 26);
  EXPECT_EQ(WeekNumber(Local(2024, 7, 1, 0, 0, 0)), 27);
}

TEST(WeekNumber, SummerTimeWeekChangesAtOneInBerlin) {
  TimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(WeekNumber(Local(2024, 7, 1, 0, 0, 0)), 26);
  EXPECT_EQ(WeekNumber(Local(2024, 7, 1, 0, 59, 59)), 26);
  EXPECT_EQ(WeekNumber(Local(2024, 7, 1, 1, 0, 0)), 27);
}

TEST(WeekNumber, SummerTimeWeekChangesAtOneInNewYork) {
  TimeZone tz("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(WeekNumber(Local(2024, 7, 1, 0, 30, 0)), 26);
  EXPECT_EQ(WeekNumber(Local(2024, 7, 1, 1, 0, 0)), 27);
}

TEST(WeekNumber, WinterTimeWeekChangesAtMidnightInBerlin) {
  TimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
  // 2 December 2024 is day 336 = 48 * 7, after summer time has ended.
  EXPECT_EQ(WeekNumber(Local(2024, 12, 1, 23, 59, 59)), 48);
  EXPECT_EQ(WeekNumber(Local(2024, 12, 2, 0, 0, 0)), 49);
}

TEST(PeriodKeys, DayStampFormat) {
  EXPECT_EQ(DayStamp(2006, 3, 9), "20060309");
  EXPECT_EQ(DayStamp(2024, 12, 31), "20241231");
}

TEST(PeriodKeys, MonthQuarterSemester) {
  EXPECT_EQ(MonthKey(1), "01");
  EXPECT_EQ(MonthKey(12), "12");
  const char* quarters[] = {"1", "1", "1", "2", "2", "2", "3", "3", "3", "4", "4", "4"};
  for (int m = 1; m <= 12; ++m) {
    SCOPED_TRACE(m);
    EXPECT_EQ(QuarterKey(m), quarters[m - 1]);
    EXPECT_EQ(SemesterKey(m), m <= 6 ? "1" : "2");
  }
}

TEST(PeriodKeys, ComputedFromLocalTime) {
  TimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
  // 23:30 UTC on 30 June 2024 is already 1 July locally.
  using namespace std::chrono;
  const std::time_t now = system_clock::to_time_t(sys_days{2024y / June / 30} + 23h + 30min);
  const auto keys = ComputePeriodKeys(now);
  EXPECT_EQ(keys.dayStamp, "20240701");
  EXPECT_EQ(keys.week, "27");
  EXPECT_EQ(keys.month, "07");
  EXPECT_EQ(keys.quarter, "3");
  EXPECT_EQ(keys.semester, "2");
  EXPECT_EQ(keys.year, "2024");
}

TEST(PeriodKeys, NewYearsEveAndDay) {
  TimeZone tz("EST5EDT,M3.2.0,M11.1.0");
  const auto eve = ComputePeriodKeys(Local(2024, 12, 31, 23, 59, 59));
  EXPECT_EQ(eve.dayStamp, "20241231");
  EXPECT_EQ(eve.week, "53");
  EXPECT_EQ(eve.quarter, "4");
  EXPECT_EQ(eve.year, "2024");
  const auto day = ComputePeriodKeys(Local(2025, 1, 1, 0, 0, 0));
  EXPECT_EQ(day.dayStamp, "20250101");
  EXPECT_EQ(day.week, "1");
  EXPECT_EQ(day.month, "01");
  EXPECT_EQ(day.semester, "1");
  EXPECT_EQ(day.year, "2025");
}

}  // namespace
