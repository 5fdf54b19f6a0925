#include "common/report_periods.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/fake_clock.h"

namespace {

using common::PeriodFile;
using common::ReportPeriod;
using common::ReportScope;
using testing_support::LocalTime;
using testing_support::TimeZone;

PeriodFile At(std::time_t now, ReportPeriod period, ReportScope scope = ReportScope::kAllPrinting,
              const std::string& key = "") {
  return common::ResolvePeriodFile(period, scope, "/app", key, now);
}

std::string FileName(const PeriodFile& f) { return f.path.substr(f.path.rfind('/') + 1); }

// The edge cases of the period rules, at the dates where they bite. Run in
// a zone without and in one with summer time: none of them may depend on it.
void ExpectPeriodEdges() {
  const std::time_t jan1 = LocalTime(2006, 1, 1, 10);
  EXPECT_EQ(FileName(At(jan1, ReportPeriod::kLastMonth)), "m_12_2005.xml");
  EXPECT_EQ(At(jan1, ReportPeriod::kLastMonth).periodElement, "<period>12/2005</period>");
  const std::time_t mar15 = LocalTime(2006, 3, 15, 10);
  EXPECT_EQ(FileName(At(mar15, ReportPeriod::kLastMonth)), "m_02_2006.xml");
  EXPECT_EQ(At(mar15, ReportPeriod::kLastMonth).periodElement, "<period>02/2006</period>");

  const std::time_t week1 = LocalTime(2007, 1, 3, 12);
  for (ReportScope scope : {ReportScope::kPrinter, ReportScope::kUser, ReportScope::kAllPrinting})
    EXPECT_EQ(FileName(At(week1, ReportPeriod::kLastWeek, scope, "1")), "w_53_2006.xml");
  EXPECT_EQ(At(week1, ReportPeriod::kLastWeek, ReportScope::kUser, "anna").periodElement,
            "<period>Week 53 of 2006</period>");
  EXPECT_EQ(At(week1, ReportPeriod::kLastWeek, ReportScope::kPrinter, "1").periodElement,
            "<period>Last Week</period>");
  EXPECT_EQ(At(week1, ReportPeriod::kLastWeek).periodElement, "<period>Last Week</period>");

  for (int month : {1, 2, 3}) {
    const PeriodFile f = At(LocalTime(2006, month, 20, 12), ReportPeriod::kLastQuarter);
    EXPECT_EQ(FileName(f), "q_4_2005.xml");
    EXPECT_EQ(f.periodElement, "<period>Quarter 4  of 2005</period>");
  }
  EXPECT_EQ(FileName(At(LocalTime(2006, 4, 2, 12), ReportPeriod::kLastQuarter)), "q_1_2006.xml");
  EXPECT_EQ(At(LocalTime(2006, 4, 2, 12), ReportPeriod::kLastQuarter).periodElement,
            "<period>Quarter 1  of 2006</period>");

  for (int month : {1, 6}) {
    const PeriodFile f = At(LocalTime(2006, month, 10, 12), ReportPeriod::kLastSemester);
    EXPECT_EQ(FileName(f), "s_2_2005.xml");
    EXPECT_EQ(f.periodElement, "<period>2nd Semester of 2005</period>");
  }
  EXPECT_EQ(FileName(At(LocalTime(2006, 7, 1, 12), ReportPeriod::kLastSemester)), "s_1_2006.xml");
  EXPECT_EQ(At(LocalTime(2006, 7, 1, 12), ReportPeriod::kLastSemester).periodElement,
            "<period>1st Semester of 2006</period>");

  const std::time_t mar9 = LocalTime(2006, 3, 9, 22, 15);
  EXPECT_EQ(FileName(At(mar9, ReportPeriod::kToday)), "d_20060309.xml");
  EXPECT_EQ(At(mar9, ReportPeriod::kToday).periodElement, "<period>03/09/2006</period>");
  EXPECT_EQ(At(mar9, ReportPeriod::kToday, ReportScope::kUser, "anna").periodElement,
            "<period>03/09/2006</period>");
  EXPECT_EQ(FileName(At(LocalTime(2006, 3, 1, 0, 5), ReportPeriod::kYesterday)), "d_20060228.xml");
  EXPECT_EQ(At(LocalTime(2006, 3, 1, 0, 5), ReportPeriod::kYesterday).periodElement,
            "<period>02/28/2006</period>");
  EXPECT_EQ(FileName(At(LocalTime(2006, 1, 1, 0, 5), ReportPeriod::kYesterday)), "d_20051231.xml");

  // The other periods on 9 March 2006 (week 10).
  EXPECT_EQ(At(mar9, ReportPeriod::kThisWeek, ReportScope::kPrinter, "3").path,
            "/app/Logs/Printers/Printer_3/w_10_2006.xml");
  EXPECT_EQ(At(mar9, ReportPeriod::kThisWeek, ReportScope::kPrinter, "3").periodElement,
            "<period>This Week</period>");
  EXPECT_EQ(At(mar9, ReportPeriod::kThisWeek, ReportScope::kUser, "anna").periodElement,
            "<period>Week 10 of 2006</period>");
  EXPECT_EQ(FileName(At(mar9, ReportPeriod::kLastWeek)), "w_9_2006.xml");
  EXPECT_EQ(FileName(At(mar9, ReportPeriod::kThisMonth)), "m_03_2006.xml");
  EXPECT_EQ(At(mar9, ReportPeriod::kThisMonth).periodElement, "<period>03/2006</period>");
  EXPECT_EQ(FileName(At(mar9, ReportPeriod::kThisQuarter)), "q_1_2006.xml");
  EXPECT_EQ(At(mar9, ReportPeriod::kThisQuarter).periodElement, "<period>Quarter 1  of 2006</period>");
  EXPECT_EQ(FileName(At(mar9, ReportPeriod::kThisSemester)), "s_1_2006.xml");
  EXPECT_EQ(At(mar9, ReportPeriod::kThisSemester).periodElement, "<period>1st Semester of 2006</period>");
  EXPECT_EQ(At(LocalTime(2006, 9, 9), ReportPeriod::kThisSemester).periodElement,
            "<period>2nd Semester of 2006</period>");
  EXPECT_EQ(FileName(At(mar9, ReportPeriod::kThisYear)), "y_2006.xml");
  EXPECT_EQ(At(mar9, ReportPeriod::kThisYear).periodElement, "<period>2006</period>");
  EXPECT_EQ(FileName(At(mar9, ReportPeriod::kLastYear)), "y_2005.xml");
  EXPECT_EQ(At(mar9, ReportPeriod::kLastYear).periodElement, "<period>2005</period>");
}

TEST(ReportPeriods, EdgeCasesWithoutSummerTime) {
  TimeZone zone("UTC");
  ExpectPeriodEdges();
}

TEST(ReportPeriods, EdgeCasesWithSummerTime) {
  TimeZone zone("America/New_York");
  ExpectPeriodEdges();
}

TEST(ReportPeriods, YesterdayIsTheCalendarDayBeforeAcrossTheShortDay) {
  TimeZone zone("America/New_York");
  // Summer time began at 02:00 on 8 March 2026, a 23-hour day: 24 hours
  // before 00:30 on the 9th is still the 7th.
  const PeriodFile f = At(LocalTime(2026, 3, 9, 0, 30), ReportPeriod::kYesterday);
  EXPECT_EQ(FileName(f), "d_20260308.xml");
  EXPECT_EQ(f.periodElement, "<period>03/08/2026</period>");
}

TEST(ReportPeriods, WeekTurnsAtOneInTheMorningUnderSummerTime) {
  TimeZone zone("America/New_York");
  // Week 15 of 2006 begins 98 days after 1 January 00:00 standard time,
  // which under summer time is 01:00 on 9 April: the log store's own rule.
  EXPECT_EQ(FileName(At(LocalTime(2006, 4, 9, 0, 30), ReportPeriod::kThisWeek)), "w_14_2006.xml");
  EXPECT_EQ(FileName(At(LocalTime(2006, 4, 9, 1, 30), ReportPeriod::kThisWeek)), "w_15_2006.xml");
}

TEST(ReportPeriods, ScopesNameTheLogStoreFolders) {
  TimeZone zone("UTC");
  const std::time_t mar9 = LocalTime(2006, 3, 9, 12);
  EXPECT_EQ(At(mar9, ReportPeriod::kToday).path, "/app/Logs/d_20060309.xml");
  EXPECT_EQ(At(mar9, ReportPeriod::kToday, ReportScope::kUser, "anna").path,
            "/app/Logs/Users/anna/d_20060309.xml");
  EXPECT_EQ(At(mar9, ReportPeriod::kThisYear, ReportScope::kPrinter, "12").path,
            "/app/Logs/Printers/Printer_12/y_2006.xml");
  // Names that could climb out of the tree stay one folder below "Users".
  for (const char* user : {"../../x", "..", "a/../../b", "/etc"}) {
    const std::string path = At(mar9, ReportPeriod::kToday, ReportScope::kUser, user).path;
    const std::string folder = path.substr(0, path.rfind('/'));
    EXPECT_EQ(folder.rfind("/app/Logs/Users/", 0), 0u) << user;
    const std::string leaf = folder.substr(std::string("/app/Logs/Users/").size());
    EXPECT_FALSE(leaf.empty()) << user;
    EXPECT_EQ(leaf.find('/'), std::string::npos) << user;
    EXPECT_NE(leaf, "..") << user;
    EXPECT_NE(leaf, ".") << user;
  }
  // A damaged catalogue identifier cannot leave "Printers" either.
  const std::string printer = At(mar9, ReportPeriod::kToday, ReportScope::kPrinter, "../../9").path;
  EXPECT_EQ(printer.rfind("/app/Logs/Printers/Printer_", 0), 0u);
  EXPECT_EQ(printer.find("/..", 0), std::string::npos);
}

TEST(ReportPeriods, LabelsAreExactAndInListOrder) {
  ASSERT_EQ(common::kReportPeriodLabels.size(), 12u);
  for (std::size_t i = 0; i < 12; ++i) {
    const auto period = common::ReportPeriodFromLabel(common::kReportPeriodLabels[i]);
    ASSERT_TRUE(period);
    EXPECT_EQ(static_cast<std::size_t>(*period), i);
    EXPECT_EQ(common::ReportPeriodLabel(*period), common::kReportPeriodLabels[i]);
  }
  EXPECT_EQ(common::kReportPeriodLabels.front(), "Today");
  EXPECT_EQ(common::kReportPeriodLabels.back(), "Last year");
  EXPECT_FALSE(common::ReportPeriodFromLabel("today"));
  EXPECT_FALSE(common::ReportPeriodFromLabel("This Week"));
  EXPECT_FALSE(common::ReportPeriodFromLabel("Today "));
  EXPECT_FALSE(common::ReportPeriodFromLabel(""));
}

TEST(ReportPeriods, HeadersNameTheScopesStylesheet) {
  EXPECT_EQ(common::ReportHeaderText(ReportScope::kPrinter),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><?xml-stylesheet href='printers.xsl' "
            "type='text/xsl'?><log>");
  EXPECT_EQ(common::ReportHeaderText(ReportScope::kPrinter).size(), 103u);
  EXPECT_EQ(common::ReportHeaderText(ReportScope::kUser).size(), 100u);
  EXPECT_NE(common::ReportHeaderText(ReportScope::kUser).find("href='users.xsl'"), std::string::npos);
  EXPECT_EQ(common::ReportHeaderText(ReportScope::kAllPrinting).size(), 100u);
  EXPECT_NE(common::ReportHeaderText(ReportScope::kAllPrinting).find("href='style.xsl'"), std::string::npos);
}

}  // namespace
