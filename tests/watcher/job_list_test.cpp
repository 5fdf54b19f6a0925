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
  for (std::size_t i = 0; i < list.Count(); ++i) ids.push_back(list.At(i).jobId);
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
  for (std::uint32_t id : {1u, 2u, 3u, 4u}) list.AddBlank(id);
  list.Remove(2);
  EXPECT_EQ(Ids(list), (std::vector<std::uint32_t>{1, 4, 3}));
  list.Remove(3);
  EXPECT_EQ(Ids(list), (std::vector<std::uint32_t>{1, 4}));
  list.Remove(99);
  EXPECT_EQ(list.Count(), 2u);

  EPrinter e = Raised([&] { list.At(2); });
  EXPECT_EQ(e.Code(), 84);
  EXPECT_EQ(e.Message(), "Index must be less than the jobs number");
  JobList empty;
  EXPECT_EQ(Raised([&] { empty.At(0); }).Code(), 84);
}

TEST(JobList, RecordsUpdateKnownJobsAndBringInUnknownOnes) {
  using Kind = NotifyData::Kind;
  JobList list;
  list.Apply(Record(platform::kPrinterNotifyType, platform::kPrinterNotifyCJobs, 0, Kind::kNumber));
  EXPECT_EQ(list.Count(), 0u) << "printer records are not about jobs";

  NotifyData pages = Record(platform::kJobNotifyType, platform::kJobNotifyTotalPages, 7, Kind::kNumber);
  pages.number = {12, 0};
  list.Apply(pages);
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.At(0).jobId, 7u);
  EXPECT_EQ(list.At(0).totalPages, 12u);
  EXPECT_FALSE(list.At(0).document.has_value());

  NotifyData document = Record(platform::kJobNotifyType, platform::kJobNotifyDocument, 7, Kind::kText);
  document.text = "plan.pdf";
  list.Apply(document);
  NotifyData user = Record(platform::kJobNotifyType, platform::kJobNotifyUserName, 7, Kind::kText);
  user.text = "ann";
  list.Apply(user);
  NotifyData printed = Record(platform::kJobNotifyType, platform::kJobNotifyPagesPrinted, 7, Kind::kNumber);
  printed.number = {3, 0};
  list.Apply(printed);
  NotifyData status = Record(platform::kJobNotifyType, platform::kJobNotifyStatus, 7, Kind::kNumber);
  status.number = {platform::kJobStatusPrinting, 0};
  list.Apply(status);
  // A field that is not kept, and a record whose data is not of the kind
  // the field has, change nothing.
  NotifyData priority = Record(platform::kJobNotifyType, 0x0E, 7, Kind::kNumber);
  priority.number = {99, 0};
  list.Apply(priority);
  NotifyData badPages = Record(platform::kJobNotifyType, platform::kJobNotifyTotalPages, 7, Kind::kText);
  badPages.text = "40";
  list.Apply(badPages);

  ASSERT_EQ(list.Count(), 1u);
  const engine::PrintJob& job = list.At(0);
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
  list.AddBlank(77);  // known to the list, not in the queue
  EXPECT_EQ(list.Refresh(printer.get(), 1), 2u);
  ASSERT_EQ(Ids(list), (std::vector<std::uint32_t>{77, a, b}));
  EXPECT_EQ(list.At(0).status, JobFinished);
  EXPECT_NE(list.At(1).status, JobFinished);
  EXPECT_EQ(list.At(2).document.value_or(""), "b");
  EXPECT_EQ(list.At(2).totalPages, 2u);

  sim.Complete("Laser", a);
  list.Refresh(printer.get(), 1);
  EXPECT_EQ(list.At(1).status, JobFinished);
  EXPECT_NE(list.At(2).status, JobFinished);
  EXPECT_EQ(list.Refresh(printer.get(), 0), 1u);
  EXPECT_EQ(Ids(list), (std::vector<std::uint32_t>{b}));

  EPrinter noPrinter = Raised([&] { list.Refresh(nullptr, 1); });
  EXPECT_EQ(noPrinter.Code(), 87);
  EXPECT_EQ(noPrinter.Message(), "Couldn't refresh the printer queue");
  sim.FailNext(SimCall::kJobCount, 1722);
  EPrinter countFailed = Raised([&] { list.Refresh(printer.get(), 1); });
  EXPECT_EQ(countFailed.Code(), 1722);
  EXPECT_EQ(countFailed.Message(), "Couldn't refresh the printer queue");
  sim.FailNext(SimCall::kEnumJobs, 6);
  EXPECT_EQ(Raised([&] { list.Refresh(printer.get(), 1); }).Code(), 6);
  EXPECT_EQ(Ids(list), (std::vector<std::uint32_t>{b})) << "a failed refresh marks nothing";
}

TEST(JobList, AnEnumerationLargerThanTheCountIsReadWhole) {
  SimSpooler sim;
  sim.AddPrinter("Laser");
  auto printer = sim.OpenPrinter("Laser");
  for (int i = 0; i < 40; ++i) sim.Submit("Laser", Job("d" + std::to_string(i), "u", 1));
  JobList list;
  EXPECT_EQ(list.Refresh(printer.get(), 1), 40u);
  EXPECT_EQ(list.Count(), 40u);
}

TEST(JobList, ARetiredJobIsNotTakenInAgain) {
  SimSpooler sim;
  sim.AddPrinter("Laser");
  auto printer = sim.OpenPrinter("Laser");
  std::uint32_t a = sim.Submit("Laser", Job("a", "ann", 1));
  JobList list;
  list.Refresh(printer.get(), 1);
  list.Retire(a);
  EXPECT_EQ(list.Count(), 0u);
  list.Refresh(printer.get(), 1);
  NotifyData status =
      Record(platform::kJobNotifyType, platform::kJobNotifyStatus, a, NotifyData::Kind::kNumber);
  list.Apply(status);
  EXPECT_EQ(list.Count(), 0u);
}

TEST(PrinterConnection, FailuresRaiseTheirCodesAndMessages) {
  SimSpooler sim;
  EPrinter missing = Raised([&] { PrinterConnection connection(sim, "Nowhere"); });
  EXPECT_EQ(missing.Code(), platform::kErrorInvalidPrinterName);
  EXPECT_EQ(missing.Message(), "Couldn't open printer");

  sim.AddPrinter("Laser");
  PrinterConnection connection(sim, "Laser");
  EXPECT_EQ(connection.Name(), "Laser");
  EPrinter early =
      Raised([&] { connection.Wait(platform::kPrinterChangeDeleteJob, platform::kInfinite, {}); });
  EXPECT_EQ(early.Code(), -1);
  EXPECT_EQ(early.Message(), "Must be created an change notification object.");

  sim.FailNext(SimCall::kFindFirst, 5);
  EPrinter noRegistration = Raised([&] { connection.RegisterChanges(platform::kPrinterChangeJob); });
  EXPECT_EQ(noRegistration.Code(), 5);
  EXPECT_EQ(noRegistration.Message(), "Couldn't create a change notification object.");
  EXPECT_FALSE(connection.Registered());

  connection.RegisterChanges(platform::kPrinterChangeJob);
  ASSERT_TRUE(connection.Registered());
  sim.Submit("Laser", Job("a", "ann", 1));
  sim.FailNext(SimCall::kFindNext, 1722);
  EPrinter fetch =
      Raised([&] { connection.Wait(platform::kPrinterChangeDeleteJob, platform::kInfinite, {}); });
  EXPECT_EQ(fetch.Code(), 1722);
  EXPECT_EQ(fetch.Message(), "");
}

TEST(PrinterConnection, WaitEndsWithoutAChangeOnTimeOutOrStop) {
  SimSpooler sim;
  sim.AddPrinter("Laser");
  PrinterConnection connection(sim, "Laser");
  connection.RegisterChanges(platform::kPrinterChangeJob);
  EXPECT_EQ(connection.Wait(platform::kPrinterChangeDeleteJob, std::chrono::milliseconds(20), {}), 0);

  // A new job is taken in, but the wait goes on until a job is deleted.
  std::uint32_t a = sim.Submit("Laser", Job("a", "ann", 1));
  EXPECT_EQ(connection.Wait(platform::kPrinterChangeDeleteJob, std::chrono::milliseconds(50), {}), 0);
  EXPECT_EQ(connection.JobCount(), 1u);

  std::stop_source stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    stop.request_stop();
  });
  EXPECT_EQ(connection.Wait(platform::kPrinterChangeDeleteJob, platform::kInfinite, stop.get_token()), 0);

  sim.Cancel("Laser", a);
  EXPECT_EQ(connection.Wait(platform::kPrinterChangeDeleteJob, platform::kInfinite, {}), 1);
  ASSERT_EQ(connection.JobCount(), 1u);
  EXPECT_EQ(connection.Job(0).status, JobFinished);
}
