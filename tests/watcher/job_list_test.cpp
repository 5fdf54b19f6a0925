// The job list and the printer connection: how records and enumerations
// change the list, and the failures they raise.

#include "engine/job_list.h"

#include <gtest/gtest.h>

#include "engine/eprinter.h"
#include "engine/printer_connection.h"
#include "tests/watcher/watcher_support.h"

using engine::EPrinter;
using engine::JobFinished;
using engine::JobList;
using engine::PrinterConnection;
using platform::NotifyData;
using platform::sim::SimCall;
using platform::sim::SimSpooler;
using watcher_test::Job;

namespace {

std::vector<std::uint32_t> Ids(JobList& list) {
  std::vector<std::uint32_t> ids;
  for (std::size_t i = 0; i < list.count(); ++i) ids.push_back(list.at(i).jobId);
  return ids;
}

NotifyData Record(std::uint16_t type, std::uint16_t field, std::uint32_t id, NotifyData::Kind kind) {
  NotifyData record;
  record.type = type;
  record.field = field;
  record.id = id;
  record.kind = kind;
  return record;
}

template <typename F>
EPrinter Raised(F&& f) {
  try {
    f();
  } catch (const EPrinter& e) {
    return e;
  }
  ADD_FAILURE() << "no EPrinter raised";
  return EPrinter(0, "none");
}

}  // namespace

TEST(JobList, RemovingMovesTheLastJobIntoTheGapAndIndexesAreChecked) {
  JobList list;
  for (std::uint32_t id : {1u, 2u, 3u, 4u}) list.addBlank(id);
  list.remove(2);
  EXPECT_EQ(Ids(list), (std::vector<std::uint32_t>{1, 4, 3}));
  list.remove(3);
  EXPECT_EQ(Ids(list), (std::vector<std::uint32_t>{1, 4}));
  list.remove(99);
  EXPECT_EQ(list.count(), 2u);

  EPrinter e = Raised([&] { list.at(2); });
  EXPECT_EQ(e.code(), 84);
  EXPECT_EQ(e.message(), "Index must be less than the jobs number");
  JobList empty;
  EXPECT_EQ(Raised([&] { empty.at(0); }).code(), 84);
}

TEST(JobList, RecordsUpdateKnownJobsAndBringInUnknownOnes) {
  using Kind = NotifyData::Kind;
  JobList list;
  list.apply(Record(platform::kPrinterNotifyType, platform::kPrinterNotifyCJobs, 0, Kind::Number));
  EXPECT_EQ(list.count(), 0u) << "printer records are not about jobs";

  NotifyData pages = Record(platform::kJobNotifyType, platform::kJobNotifyTotalPages, 7, Kind::Number);
  pages.number = {12, 0};
  list.apply(pages);
  ASSERT_EQ(list.count(), 1u);
  EXPECT_EQ(list.at(0).jobId, 7u);
  EXPECT_EQ(list.at(0).totalPages, 12u);
  EXPECT_FALSE(list.at(0).document.has_value());

  NotifyData document = Record(platform::kJobNotifyType, platform::kJobNotifyDocument, 7, Kind::Text);
  document.text = "plan.pdf";
  list.apply(document);
  NotifyData user = Record(platform::kJobNotifyType, platform::kJobNotifyUserName, 7, Kind::Text);
  user.text = "ann";
  list.apply(user);
  NotifyData printed = Record(platform::kJobNotifyType, platform::kJobNotifyPagesPrinted, 7, Kind::Number);
  printed.number = {3, 0};
  list.apply(printed);
  NotifyData status = Record(platform::kJobNotifyType, platform::kJobNotifyStatus, 7, Kind::Number);
  status.number = {platform::kJobStatusPrinting, 0};
  list.apply(status);
  // A field that is not kept, and a record whose data is not of the kind
  // the field has, change nothing.
  NotifyData priority = Record(platform::kJobNotifyType, 0x0E, 7, Kind::Number);
  priority.number = {99, 0};
  list.apply(priority);
  NotifyData badPages = Record(platform::kJobNotifyType, platform::kJobNotifyTotalPages, 7, Kind::Text);
  badPages.text = "40";
  list.apply(badPages);

  ASSERT_EQ(list.count(), 1u);
  const engine::PrintJob& job = list.at(0);
  EXPECT_EQ(job.document.value_or("?"), "plan.pdf");
  EXPECT_EQ(job.userName.value_or("?"), "ann");
  EXPECT_EQ(job.pagesPrinted, 3u);
  EXPECT_EQ(job.totalPages, 12u);
  EXPECT_EQ(job.status, platform::kJobStatusPrinting);
}

TEST(JobList, RefreshTakesInNewJobsMarksGoneOnesAndRaisesOnFailure) {
  SimSpooler sim;
  sim.AddPrinter("Laser");
  auto printer = sim.OpenPrinter("Laser");
  std::uint32_t a = sim.Submit("Laser", Job("a", "ann", 1));
  std::uint32_t b = sim.Submit("Laser", Job("b", "bob", 2));

  JobList list;
  list.addBlank(77);  // known to the list, not in the queue
  EXPECT_EQ(list.refresh(printer.get(), 1), 2u);
  ASSERT_EQ(Ids(list), (std::vector<std::uint32_t>{77, a, b}));
  EXPECT_EQ(list.at(0).status, JobFinished);
  EXPECT_NE(list.at(1).status, JobFinished);
  EXPECT_EQ(list.at(2).document.value_or(""), "b");
  EXPECT_EQ(list.at(2).totalPages, 2u);

  sim.Complete("Laser", a);
  list.refresh(printer.get(), 1);
  EXPECT_EQ(list.at(1).status, JobFinished);
  EXPECT_NE(list.at(2).status, JobFinished);
  EXPECT_EQ(list.refresh(printer.get(), 0), 1u);
  EXPECT_EQ(Ids(list), (std::vector<std::uint32_t>{b}));

  EPrinter noPrinter = Raised([&] { list.refresh(nullptr, 1); });
  EXPECT_EQ(noPrinter.code(), 87);
  EXPECT_EQ(noPrinter.message(), "Couldn't refresh the printer queue");
  sim.FailNext(SimCall::JobCount, 1722);
  EPrinter countFailed = Raised([&] { list.refresh(printer.get(), 1); });
  EXPECT_EQ(countFailed.code(), 1722);
  EXPECT_EQ(countFailed.message(), "Couldn't refresh the printer queue");
  sim.FailNext(SimCall::EnumJobs, 6);
  EXPECT_EQ(Raised([&] { list.refresh(printer.get(), 1); }).code(), 6);
  EXPECT_EQ(Ids(list), (std::vector<std::uint32_t>{b})) << "a failed refresh marks nothing";
}

TEST(JobList, AnEnumerationLargerThanTheCountIsReadWhole) {
  SimSpooler sim;
  sim.AddPrinter("Laser");
  auto printer = sim.OpenPrinter("Laser");
  for (int i = 0; i < 40; ++i) sim.Submit("Laser", Job("d" + std::to_string(i), "u", 1));
  JobList list;
  EXPECT_EQ(list.refresh(printer.get(), 1), 40u);
  EXPECT_EQ(list.count(), 40u);
}

TEST(JobList, ARetiredJobIsNotTakenInAgain) {
  SimSpooler sim;
  sim.AddPrinter("Laser");
  auto printer = sim.OpenPrinter("Laser");
  std::uint32_t a = sim.Submit("Laser", Job("a", "ann", 1));
  JobList list;
  list.refresh(printer.get(), 1);
  list.retire(a);
  EXPECT_EQ(list.count(), 0u);
  list.refresh(printer.get(), 1);
  NotifyData status = Record(platform::kJobNotifyType, platform::kJobNotifyStatus, a, NotifyData::Kind::Number);
  list.apply(status);
  EXPECT_EQ(list.count(), 0u);
}

TEST(PrinterConnection, FailuresRaiseTheirCodesAndMessages) {
  SimSpooler sim;
  EPrinter missing = Raised([&] { PrinterConnection connection(sim, "Nowhere"); });
  EXPECT_EQ(missing.code(), platform::kErrorInvalidPrinterName);
  EXPECT_EQ(missing.message(), "Couldn't open printer");

  sim.AddPrinter("Laser");
  PrinterConnection connection(sim, "Laser");
  EXPECT_EQ(connection.name(), "Laser");
  EPrinter early = Raised([&] { connection.wait(platform::kPrinterChangeDeleteJob, platform::kInfinite, {}); });
  EXPECT_EQ(early.code(), -1);
  EXPECT_EQ(early.message(), "Must be created an change notification object.");

  sim.FailNext(SimCall::FindFirst, 5);
  EPrinter noRegistration = Raised([&] { connection.registerChanges(platform::kPrinterChangeJob); });
  EXPECT_EQ(noRegistration.code(), 5);
  EXPECT_EQ(noRegistration.message(), "Couldn't create a change notification object.");
  EXPECT_FALSE(connection.registered());

  connection.registerChanges(platform::kPrinterChangeJob);
  ASSERT_TRUE(connection.registered());
  sim.Submit("Laser", Job("a", "ann", 1));
  sim.FailNext(SimCall::FindNext, 1722);
  EPrinter fetch = Raised([&] { connection.wait(platform::kPrinterChangeDeleteJob, platform::kInfinite, {}); });
  EXPECT_EQ(fetch.code(), 1722);
  EXPECT_EQ(fetch.message(), "");
}

TEST(PrinterConnection, WaitEndsWithoutAChangeOnTimeOutOrStop) {
  SimSpooler sim;
  sim.AddPrinter("Laser");
  PrinterConnection connection(sim, "Laser");
  connection.registerChanges(platform::kPrinterChangeJob);
  EXPECT_EQ(connection.wait(platform::kPrinterChangeDeleteJob, std::chrono::milliseconds(20), {}), 0);

  // A new job is taken in, but the wait goes on until a job is deleted.
  std::uint32_t a = sim.Submit("Laser", Job("a", "ann", 1));
  EXPECT_EQ(connection.wait(platform::kPrinterChangeDeleteJob, std::chrono::milliseconds(50), {}), 0);
  EXPECT_EQ(connection.jobCount(), 1u);

  std::stop_source stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    stop.request_stop();
  });
  EXPECT_EQ(connection.wait(platform::kPrinterChangeDeleteJob, platform::kInfinite, stop.get_token()), 0);

  sim.Cancel("Laser", a);
  EXPECT_EQ(connection.wait(platform::kPrinterChangeDeleteJob, platform::kInfinite, {}), 1);
  ASSERT_EQ(connection.jobCount(), 1u);
  EXPECT_EQ(connection.job(0).status, JobFinished);
}
