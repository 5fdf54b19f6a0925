#include "engine/report_thread.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "engine/app_folder.h"
#include "engine/job_log_store.h"
#include "tests/foundation/test_support.h"
#include "tests/support/app_folder_scope.h"
#include "tests/support/fake_clock.h"
#include "tests/support/read_file.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::FakeClock;
using testing_support::LocalTime;
using testing_support::TimeZone;

using testing_support::ReadWholeFile;

std::string Value(const char* name) { return CRegString(common::QuillmarkValue(name)).Get(); }
void SetValue(const char* name, const std::string& v) {
  CRegString(common::QuillmarkValue(name)).Set(v).Write();
}

class ReportThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = scratch_.Folder() / "app";
    fs::create_directories(app_ / "Logs");
    appFolder_.emplace(app_);
    options_.programFolder = app_.string();  // where the stand-in mailer is
  }

  // A stand-in mailer: keeps a copy of what it was asked to send, counts
  // its runs and exits with the status in "exit-status" (0 when missing).
  void InstallMailer() {
    const fs::path script = app_ / "Postrider";
    std::ofstream(script) << "#!/bin/sh\n"
                             "cd \"$(dirname \"$0\")\"\n"
                             "cp Logs/Report.xml sent.xml 2>/dev/null\n"
                             "echo run >> runs\n"
                             "exit $(cat exit-status 2>/dev/null || echo 0)\n";
    fs::permissions(script, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  }
  void MailerExits(int status) { std::ofstream(app_ / "exit-status") << status; }
  int MailerRuns() {
    std::ifstream in(app_ / "runs");
    int n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
  }
  void DayFile(const std::string& stamp, const std::string& records) {
    std::ofstream(app_ / "Logs" / ("d_" + stamp + ".xml"), std::ios::binary)
        << std::string(engine::JobLogStore::kReservation, ' ') << records;
  }

  TimeZone zone_{"CET-1CEST,M3.5.0,M10.5.0/3"};
  ScratchRegistry scratch_;
  fs::path app_;
  std::optional<testing_support::AppFolderScope> appFolder_;
  engine::ReportThread::Options options_{10s, 15min};
};

const std::string kRecords =
    "\r\n<event><day>05</day><month>12</month><year>2006</year><hour>09</hour><min>05</min>"
    "<doc>a</doc><pages>2</pages><cost>10</cost><printer>P</printer><user>u</user></event>";

TEST_F(ReportThreadTest, HeaderAndPeriodFitTheReservation) {
  EXPECT_LE(engine::ReportHeader(2026, 12, 31).size(), engine::JobLogStore::kReservation);
  EXPECT_EQ(engine::ReportHeader(2006, 12, 6),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><?xml-stylesheet "
            "href='https://www.quillmark.net/Quillcore/style_web.xsl' type='text/xsl'?>"
            "<log><period>12/06/2006</period>");
}

TEST_F(ReportThreadTest, YesterdaysLogIsMailedAndTheDayRecorded) {
  InstallMailer();
  DayFile("20061205", kRecords);
  SetValue("ToSendDay", "20061205");
  FakeClock clock(LocalTime(2006, 12, 6, 0, 0, 5));
  engine::ReportThread thread(clock, options_);
  const auto wait = thread.RunPass();

  EXPECT_EQ(MailerRuns(), 1);
  const std::string header = engine::ReportHeader(2006, 12, 6);
  EXPECT_EQ(ReadWholeFile(app_ / "sent.xml"),
            header + std::string(525 - header.size(), ' ') + kRecords + "</log>");
  EXPECT_EQ(Value("ToSendFile"), (app_ / "Logs" / "Report.xml").string());
  EXPECT_EQ(Value("ToSendDay"), "20061206");
  EXPECT_FALSE(fs::exists(app_ / "Logs/Report.xml"));
  EXPECT_TRUE(fs::exists(app_ / "Logs/d_20061205.xml"));  // the log itself stays
  EXPECT_EQ(wait, std::chrono::milliseconds((24 * 3600 - 5) * 1000));
}

TEST_F(ReportThreadTest, FirstPassOnlyRecordsToday) {
  InstallMailer();
  DayFile("20061205", kRecords);
  FakeClock clock(LocalTime(2006, 12, 6, 9, 0));
  engine::ReportThread thread(clock, options_);
  thread.RunPass();  // "ToSendDay" missing
  EXPECT_EQ(Value("ToSendDay"), "20061206");
  EXPECT_EQ(MailerRuns(), 0);

  SetValue("ToSendDay", "20061203");  // two or more days old
  thread.RunPass();
  EXPECT_EQ(Value("ToSendDay"), "20061206");
  EXPECT_EQ(MailerRuns(), 0);

  thread.RunPass();  // already today's: nothing happens until midnight
  EXPECT_EQ(MailerRuns(), 0);
  EXPECT_FALSE(fs::exists(app_ / "Logs/Report.xml"));
}

TEST_F(ReportThreadTest, MissingDayFileSendsNothingAndKeepsTheDay) {
  InstallMailer();
  SetValue("ToSendDay", "20061205");
  FakeClock clock(LocalTime(2006, 12, 6, 0, 1));
  engine::ReportThread thread(clock, options_);
  thread.RunPass();
  EXPECT_EQ(MailerRuns(), 0);
  EXPECT_EQ(Value("ToSendDay"), "20061205");
}

TEST_F(ReportThreadTest, FailedMailIsRetriedTheSameDay) {
  InstallMailer();
  MailerExits(3);
  DayFile("20061205", kRecords);
  SetValue("ToSendDay", "20061205");
  FakeClock clock(LocalTime(2006, 12, 6, 0, 0, 30));
  engine::ReportThread thread(clock, options_);
  EXPECT_EQ(thread.RunPass(), options_.retryAfter);
  EXPECT_EQ(MailerRuns(), 1);
  EXPECT_EQ(Value("ToSendDay"), "20061205");
  EXPECT_FALSE(fs::exists(app_ / "Logs/Report.xml"));

  MailerExits(0);
  clock.Set(LocalTime(2006, 12, 6, 0, 15, 30));
  thread.RunPass();
  EXPECT_EQ(MailerRuns(), 2);
  EXPECT_EQ(Value("ToSendDay"), "20061206");
  EXPECT_NE(ReadWholeFile(app_ / "sent.xml").find(kRecords + "</log>"), std::string::npos);
}

TEST_F(ReportThreadTest, MissingMailerIsRetried) {
  DayFile("20061205", kRecords);
  SetValue("ToSendDay", "20061205");
  FakeClock clock(LocalTime(2006, 12, 6, 23, 55));
  engine::ReportThread thread(clock, options_);
  // Five minutes before midnight the retry comes at midnight, not later.
  EXPECT_EQ(thread.RunPass(), 5min);
  EXPECT_EQ(Value("ToSendDay"), "20061205");
  EXPECT_FALSE(fs::exists(app_ / "Logs/Report.xml"));
}

TEST_F(ReportThreadTest, HangingMailerIsEndedAfterItsTimeOut) {
  std::ofstream(app_ / "Postrider") << "#!/bin/sh\nexec sleep 30\n";
  fs::permissions(app_ / "Postrider", fs::perms::owner_all);
  DayFile("20061205", kRecords);
  SetValue("ToSendDay", "20061205");
  FakeClock clock(LocalTime(2006, 12, 6, 0, 1));
  engine::ReportThread thread(clock, {300ms, 15min});
  const auto begun = std::chrono::steady_clock::now();
  EXPECT_EQ(thread.RunPass(), 15min);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, 5s);
  EXPECT_EQ(Value("ToSendDay"), "20061205");
}

TEST_F(ReportThreadTest, WaitReachesLocalMidnightAcrossSummerTimeChanges) {
  FakeClock clock(LocalTime(2026, 3, 29, 0, 30));  // clocks go forward at 02:00
  engine::ReportThread thread(clock, options_);
  SetValue("ToSendDay", "20260329");
  EXPECT_EQ(thread.RunPass(), std::chrono::milliseconds((22 * 3600 + 30 * 60) * 1000));
  clock.Set(LocalTime(2026, 10, 25, 0, 30));  // clocks go back at 03:00
  SetValue("ToSendDay", "20261025");
  EXPECT_EQ(thread.RunPass(), std::chrono::milliseconds((24 * 3600 + 30 * 60) * 1000));
  clock.Set(LocalTime(2026, 12, 31, 18, 0));
  SetValue("ToSendDay", "20261231");
  EXPECT_EQ(thread.RunPass(), std::chrono::milliseconds(6 * 3600 * 1000));
}

TEST_F(ReportThreadTest, DayAfterTheShortSummerTimeDayStillSendsIt) {
  InstallMailer();
  DayFile("20260329", kRecords);
  SetValue("ToSendDay", "20260329");
  // 29 March 2026 had 23 hours: 86400 seconds before 00:30 on the 30th
  // is still the 28th.
  FakeClock clock(LocalTime(2026, 3, 30, 0, 30));
  engine::ReportThread thread(clock, options_);
  thread.RunPass();
  EXPECT_EQ(MailerRuns(), 1);
  EXPECT_EQ(Value("ToSendDay"), "20260330");
}

TEST_F(ReportThreadTest, StopEndsTheThreadWhileItWaitsForMidnight) {
  FakeClock clock(LocalTime(2006, 12, 6, 9, 0));
  clock.HoldSleeps();
  engine::ReportThread thread(clock, options_);
  thread.Start();
  clock.WaitForSleeps(1);
  EXPECT_EQ(Value("ToSendDay"), "20061206");
  const auto begun = std::chrono::steady_clock::now();
  thread.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begun, 2s);
}

}  // namespace
