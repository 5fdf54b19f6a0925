#include "engine/job_mark_store.h"
#include "engine/retention_rules.h"
#include "engine/retention_thread.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string>

#include "common/period_keys.h"
#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "engine/app_folder.h"
#include "engine/control_thread.h"
#include "tests/foundation/test_support.h"
#include "tests/support/app_folder_scope.h"
#include "tests/support/fake_clock.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FakeClock;
using testing_support::LocalTime;
using testing_support::TimeZone;

// Keep/delete at a local date, with the week computed as the log store does.
struct At {
  explicit At(int y, int m, int d, int h = 12) {
    now = LocalTime(y, m, d, h);
    local = common::ToLocalDateTime(now);
    week = common::WeekNumber(now);
  }
  bool Deletes(const std::string& name) const { return engine::ShouldDeleteLogFile(name, local, week); }
  void ExpectKept(std::initializer_list<const char*> names) const {
    for (auto n : names) EXPECT_FALSE(Deletes(n)) << n;
  }
  void ExpectDeleted(std::initializer_list<const char*> names) const {
    for (auto n : names) EXPECT_TRUE(Deletes(n)) << n;
  }
  std::time_t now;
  common::LocalDateTime local;
  int week;
};

class RetentionRules : public ::testing::Test {
  TimeZone zone_{"UTC0"};
};

TEST_F(RetentionRules, DayFilesOnTheFirstOfAMonthKeepTheLastDayBefore) {
  At(2007, 4, 1).ExpectKept({"d_20070331.xml", "d_20070401.xml"});
  At(2007, 4, 1).ExpectDeleted({"d_20070330.xml", "d_20070329.xml", "d_20070402.xml"});
  At(2007, 3, 1).ExpectKept({"d_20070228.xml", "d_20070301.xml"});
  At(2007, 3, 1).ExpectDeleted({"d_20070227.xml", "d_20070331.xml"});
  At(2008, 3, 1).ExpectKept({"d_20080229.xml"});
  At(2008, 3, 1).ExpectDeleted({"d_20080228.xml"});
  At(2007, 1, 1).ExpectKept({"d_20061231.xml"});
  At(2007, 5, 2).ExpectKept({"d_20070501.xml", "d_20070502.xml"});
  At(2007, 5, 2).ExpectDeleted({"d_20070430.xml", "d_20070503.xml"});
}

TEST_F(RetentionRules, DayFilesMidMonthGoByDayNumberOnly) {
  At may15(2007, 5, 15);
  may15.ExpectKept({"d_20070514.xml", "d_20070515.xml", "d_20070331.xml", "d_20060420.xml"});
  may15.ExpectDeleted({"d_20070513.xml", "d_20070501.xml", "d_20070410.xml"});
}

TEST_F(RetentionRules, WeeksKeepCurrentAndPrevious) {
  At week1(2007, 1, 3);
  ASSERT_EQ(week1.week, 1);
  week1.ExpectKept({"w_1_2007.xml", "w_53_2006.xml"});
  week1.ExpectDeleted({"w_52_2006.xml", "w_53_2005.xml", "w_1_2006.xml"});
  At week10(2007, 3, 7);
  ASSERT_EQ(week10.week, 10);
  week10.ExpectKept({"w_10_2007.xml", "w_9_2007.xml"});
  week10.ExpectDeleted({"w_8_2007.xml", "w_10_2006.xml", "w_11_2007.xml"});
}

TEST_F(RetentionRules, MonthsFollowTheFixedPolicy) {
  At jan(2007, 1, 20);
  jan.ExpectKept({"m_01_2007.xml", "m_12_2006.xml"});
  jan.ExpectDeleted({"m_11_2006.xml", "m_12_2005.xml"});
  At feb(2007, 2, 10);
  feb.ExpectKept({"m_01_2007.xml", "m_02_2007.xml"});
  feb.ExpectDeleted({"m_12_2006.xml"});
  At may(2007, 5, 10);
  may.ExpectKept({"m_04_2007.xml", "m_05_2007.xml", "m_02_2006.xml"});
  may.ExpectDeleted({"m_03_2007.xml", "m_01_2007.xml"});
}

TEST_F(RetentionRules, QuartersAndSemesters) {
  At(2007, 2, 1).ExpectKept({"q_1_2007.xml", "q_4_2006.xml"});
  At(2007, 2, 1).ExpectDeleted({"q_3_2006.xml", "q_4_2005.xml", "q_2_2007.xml"});
  At(2007, 8, 1).ExpectKept({"q_3_2007.xml", "q_2_2007.xml"});
  At(2007, 8, 1).ExpectDeleted({"q_1_2007.xml", "q_2_2006.xml"});
  At(2007, 6, 30).ExpectKept({"s_1_2007.xml", "s_2_2006.xml"});
  At(2007, 6, 30).ExpectDeleted({"s_1_2006.xml", "s_2_2005.xml"});
  At(2007, 7, 1).ExpectKept({"s_1_2007.xml", "s_2_2007.xml"});
  At(2007, 7, 1).ExpectDeleted({"s_2_2006.xml"});
}

TEST_F(RetentionRules, YearFilesAndOtherFilesAreNeverDeleted) {
  At(2007, 5, 15)
      .ExpectKept({"y_2001.xml", "DisplayReport.xml", "Report.xml", "TestEmail.xml", "settings.xml",
                   "d_notes.xml", "d_20070501.txt"});
  // Only the file name counts, not the folders above it.
  At(2007, 5, 15).ExpectKept({"/app/Logs/Users/d_ann/y_2001.xml", "C:\\Logs\\Users\\m_x\\y_2006.xml"});
  At(2007, 5, 15).ExpectDeleted({"/app/Logs/Users/ann/d_20070501.xml"});
}

class RetentionPass : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = scratch_.Folder() / "app";
    fs::create_directories(app_ / "Logs/Users/ann");
    fs::create_directories(app_ / "Logs/Printers/Printer_1");
    appFolder_.emplace(app_);
  }
  void Touch(const fs::path& p) { std::ofstream(app_ / p) << "x"; }

  TimeZone zone_{"UTC0"};
  ScratchRegistry scratch_;
  fs::path app_;
  std::optional<testing_support::AppFolderScope> appFolder_;
};

TEST_F(RetentionPass, WalksTheWholeTreeAndRemovesReadOnlyFiles) {
  for (const char* f :
       {"Logs/q_1_2005.xml", "Logs/y_2001.xml", "Logs/DisplayReport.xml", "Logs/Users/ann/d_20070501.xml",
        "Logs/Users/ann/d_20070514.xml", "Logs/Printers/Printer_1/m_03_2007.xml",
        "Logs/Printers/Printer_1/y_2007.xml", "Logs/Printers/Printer_1/notes.txt"})
    Touch(f);
  fs::permissions(app_ / "Logs/q_1_2005.xml", fs::perms::owner_read | fs::perms::group_read);
  FakeClock clock(LocalTime(2007, 5, 15, 8));
  engine::RetentionThread thread(clock);
  EXPECT_EQ(thread.RunPass(), 3u);
  EXPECT_FALSE(fs::exists(app_ / "Logs/q_1_2005.xml"));
  EXPECT_FALSE(fs::exists(app_ / "Logs/Users/ann/d_20070501.xml"));
  EXPECT_FALSE(fs::exists(app_ / "Logs/Printers/Printer_1/m_03_2007.xml"));
  for (const char* f : {"Logs/y_2001.xml", "Logs/DisplayReport.xml", "Logs/Users/ann/d_20070514.xml",
                        "Logs/Printers/Printer_1/y_2007.xml", "Logs/Printers/Printer_1/notes.txt"})
    EXPECT_TRUE(fs::exists(app_ / f)) << f;
}

TEST_F(RetentionPass, PrinterMarksAreNeverDeletedWhateverThePrinterIsCalled) {
  engine::FileJobMarkStore marks;
  engine::JobMark mark;
  mark.highest = 7;
  const char* printers[] = {"d_20070501.xml", "q_1_2005", "Laser"};
  for (const char* printer : printers) ASSERT_TRUE(marks.Save(printer, mark));
  FakeClock clock(LocalTime(2007, 5, 15, 8));
  engine::RetentionThread thread(clock);
  EXPECT_EQ(thread.RunPass(), 0u);
  for (const char* printer : printers) EXPECT_EQ(marks.Load(printer), mark) << printer;
}

TEST_F(RetentionPass, MissingLogsFolderIsAnEmptyPass) {
  fs::remove_all(app_ / "Logs");
  FakeClock clock(LocalTime(2007, 5, 15));
  engine::RetentionThread thread(clock);
  EXPECT_EQ(thread.RunPass(), 0u);
}

TEST_F(RetentionPass, ThreadPassesAtStartThenEveryTwelveHoursAndStopsAtOnce) {
  Touch("Logs/d_20070513.xml");
  FakeClock clock(LocalTime(2007, 5, 14, 23));  // day 13 is still kept
  clock.HoldSleeps();
  engine::RetentionThread thread(clock);
  thread.Start();
  clock.WaitForSleeps(1);
  EXPECT_TRUE(fs::exists(app_ / "Logs/d_20070513.xml"));
  const auto begun = std::chrono::steady_clock::now();
  thread.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(2));

  // Without holding, each sleep moves the clock on by twelve hours: the
  // second pass runs on 15 May at 11:00 and removes the file.
  FakeClock moving(LocalTime(2007, 5, 14, 23));
  engine::RetentionThread second(moving);
  second.Start();
  moving.WaitForSleeps(2);
  second.Stop();
  EXPECT_FALSE(fs::exists(app_ / "Logs/d_20070513.xml"));
}

}  // namespace
