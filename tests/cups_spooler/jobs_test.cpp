#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/cups_spooler/cups_test_support.h"

namespace {

using namespace std::chrono;

TEST_F(CupsSpoolerTest, ListsTheJobsOfAHeldQueueWithTheirAttributes) {
  std::string q = NewQueue();
  Cupsd().Disable(q);
  auto before = floor<seconds>(system_clock::now());
  int first = Cupsd().Submit(q, 3,
                             "\xC3\x9C"
                             "berblick 2024",
                             "alice");                            // "Überblick", UTF-8
  int second = Cupsd().Submit(q, 2, "Plan \xE2\x82\xAC", "bob");  // a euro sign
  int third = Cupsd().SubmitSized(q, 4, 7, "Sized", "alice");
  auto after = system_clock::now();

  auto printer = Spooler().OpenPrinter(q);
  ASSERT_EQ(printer->JobCount(), 3u);
  auto jobs = printer->EnumJobs(0, 10);
  ASSERT_EQ(jobs.size(), 3u);

  EXPECT_EQ(jobs[0].jobId, static_cast<std::uint32_t>(first));
  EXPECT_EQ(jobs[0].document, std::string("\xDC"
                                          "berblick 2024"));  // Latin-1
  EXPECT_EQ(jobs[0].userName, std::string("alice"));
  EXPECT_EQ(jobs[0].totalPages, 0u) << "the size of a job is unknown until it has printed";
  EXPECT_EQ(jobs[0].pagesPrinted, 0u);
  EXPECT_NE(jobs[0].status, 1024u);
  auto submitted = platform::FromSpoolTime(jobs[0].submitted);
  EXPECT_GE(submitted, before);
  EXPECT_LE(submitted, after);

  EXPECT_EQ(jobs[1].jobId, static_cast<std::uint32_t>(second));
  EXPECT_EQ(jobs[1].document, std::string("Plan ?")) << "no euro sign in Latin-1";
  EXPECT_EQ(jobs[1].userName, std::string("bob"));

  EXPECT_EQ(jobs[2].jobId, static_cast<std::uint32_t>(third));
  EXPECT_EQ(jobs[2].totalPages, 7u) << "the size the client gave";

  // Positions and counts cut the list.
  auto tail = printer->EnumJobs(1, 1);
  ASSERT_EQ(tail.size(), 1u);
  EXPECT_EQ(tail[0].jobId, static_cast<std::uint32_t>(second));
  EXPECT_TRUE(printer->EnumJobs(3, 5).empty());
}

TEST_F(CupsSpoolerTest, CompletedJobsLeaveTheList) {
  std::string q = NewQueue();
  Cupsd().Disable(q);
  Cupsd().Submit(q, 1, "one");
  int kept = Cupsd().Submit(q, 1, "two");
  auto printer = Spooler().OpenPrinter(q);
  ASSERT_EQ(printer->JobCount(), 2u);

  Cupsd().Cancel(q, kept - 1);
  auto jobs = printer->EnumJobs(0, printer->JobCount());
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].jobId, static_cast<std::uint32_t>(kept));

  Cupsd().Enable(q);
  ASSERT_TRUE(Cupsd().WaitIdle(q));
  EXPECT_EQ(printer->JobCount(), 0u);
  EXPECT_TRUE(printer->EnumJobs(0, 10).empty());
}

TEST_F(CupsSpoolerTest, NamesWithheldFromOtherUsersAreAbsentNotInvented) {
  std::string q = NewQueue();
  Cupsd().Disable(q);
  Cupsd().Submit(q, 1, "Private report", "alice");

  // As a user who neither owns the job nor administers the server; libcups
  // reads the user name once per thread.
  ::setenv("CUPS_USER", "mallory", 1);
  std::vector<platform::SpoolJob> seen;
  std::thread([&] {
    auto spooler = platform::MakeCupsSpooler();
    seen = spooler->OpenPrinter(q)->EnumJobs(0, 10);
  }).join();
  ::unsetenv("CUPS_USER");

  ASSERT_EQ(seen.size(), 1u);
  EXPECT_FALSE(seen[0].document.has_value());
  EXPECT_FALSE(seen[0].userName.has_value());

  // The administrator sees them.
  auto jobs = Spooler().OpenPrinter(q)->EnumJobs(0, 10);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].document, std::string("Private report"));
  EXPECT_EQ(jobs[0].userName, std::string("alice"));
}

}  // namespace
