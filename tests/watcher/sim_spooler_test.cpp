// The simulated spooler stands in for the real one in every watcher test,
// so its notification behaviour is pinned down here.

#include "platform/sim/sim_spooler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <thread>

using namespace platform;
using platform::sim::SimJobSpec;
using platform::sim::SimSpooler;

namespace {

NotifyOptions JobOptions() {
  NotifyOptions options;
  options.types.push_back({kJobNotifyType,
                           {kJobNotifyStatus, kJobNotifyDocument, kJobNotifyUserName, kJobNotifyTotalPages,
                            kJobNotifySubmitted}});
  options.types.push_back({kPrinterNotifyType, {kPrinterNotifyCJobs}});
  return options;
}

SimJobSpec Job(std::string document, std::string user, std::uint32_t pages) {
  SimJobSpec spec;
  spec.document = std::move(document);
  spec.userName = std::move(user);
  spec.totalPages = pages;
  spec.submitted = SpoolTime{2006, 3, 4, 9, 22, 15, 0, 0};
  return spec;
}

const NotifyData* FindRecord(const NotifyInfo& info, std::uint32_t id, std::uint16_t field) {
  for (const auto& record : info.records) {
    if (record.type == kJobNotifyType && record.id == id && record.field == field) return &record;
  }
  return nullptr;
}

std::filesystem::path ScratchFolder(const char* name) {
  auto folder = std::filesystem::temp_directory_path() /
                (std::string("qm-sim-") + name + "-" + std::to_string(std::random_device{}()));
  std::filesystem::remove_all(folder);
  return folder;
}

}  // namespace

TEST(SimSpooler, RecordsTellOfJobsThatCameAndWentBetweenFetches) {
  SimSpooler spooler;
  spooler.AddPrinter("Laser");
  auto printer = spooler.OpenPrinter("laser");  // names are not case-sensitive
  EXPECT_EQ(printer->Name(), "Laser");
  auto notification = printer->FindFirstChangeNotification(kPrinterChangeJob, JobOptions());
  EXPECT_EQ(notification->Wait(std::chrono::milliseconds(0), {}), WaitResult::kTimedOut);

  spooler.Edit("Laser", [](sim::SimQueue& queue) {
    auto id = queue.Submit(Job("a.txt", "ann", 3));
    queue.Complete(id);
  });
  ASSERT_EQ(notification->Wait(std::chrono::milliseconds(0), {}), WaitResult::kSignalled);

  NotifyInfo info;
  std::uint32_t changes = notification->Next(nullptr, &info);
  EXPECT_EQ(changes, kPrinterChangeAddJob | kPrinterChangeSetJob | kPrinterChangeDeleteJob);
  EXPECT_EQ(info.flags, 0u);
  const NotifyData* document = FindRecord(info, 1, kJobNotifyDocument);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->text, "a.txt");
  const NotifyData* submitted = FindRecord(info, 1, kJobNotifySubmitted);
  ASSERT_NE(submitted, nullptr);
  EXPECT_EQ(submitted->kind, NotifyData::Kind::kTime);
  EXPECT_EQ(submitted->time.hour, 22);  // as submitted, in UTC
  // Fields not registered are not reported.
  EXPECT_EQ(FindRecord(info, 1, kJobNotifyPagesPrinted), nullptr);

  // Fetching clears the signal; a later fetch holds only later changes.
  EXPECT_EQ(notification->Wait(std::chrono::milliseconds(0), {}), WaitResult::kTimedOut);
  EXPECT_EQ(notification->Next(nullptr, &info), 0u);
  EXPECT_TRUE(info.records.empty());
  EXPECT_EQ(printer->JobCount(), 0u);
}

TEST(SimSpooler, TooManyChangesAreDiscardedAndARefreshGivesTheWholeQueue) {
  SimSpooler spooler;
  spooler.AddPrinter("Laser");
  spooler.SetPendingLimit(10);
  auto printer = spooler.OpenPrinter("Laser");
  auto notification = printer->FindFirstChangeNotification(kPrinterChangeJob, JobOptions());
  for (int i = 0; i < 5; ++i) spooler.Submit("Laser", Job("doc" + std::to_string(i), "bob", 1));
  spooler.Cancel("Laser", 2);

  NotifyInfo info;
  std::uint32_t changes = notification->Next(nullptr, &info);
  EXPECT_TRUE(changes & kPrinterChangeDeleteJob);
  EXPECT_EQ(info.flags, kNotifyInfoDiscarded);
  EXPECT_TRUE(info.records.empty());

  NotifyOptions refresh = JobOptions();
  refresh.flags = kNotifyOptionsRefresh;
  notification->Next(&refresh, &info);
  EXPECT_EQ(info.flags, 0u);
  EXPECT_EQ(FindRecord(info, 2, kJobNotifyDocument), nullptr);  // gone
  for (std::uint32_t id : {1u, 3u, 4u, 5u}) EXPECT_NE(FindRecord(info, id, kJobNotifyTotalPages), nullptr);
  // Five job fields of four jobs, and the printer's job count.
  EXPECT_EQ(info.records.size(), 21u);
  auto jobs = printer->EnumJobs(1, 2);
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].jobId, 3u);
  EXPECT_EQ(*jobs[1].document, "doc3");
}

TEST(SimSpooler, WaitEndsOnStopAndPlannedFailuresAreThrown) {
  SimSpooler spooler;
  spooler.AddPrinter("Laser");
  auto printer = spooler.OpenPrinter("Laser");
  auto notification = printer->FindFirstChangeNotification(kPrinterChangeJob, JobOptions());
  std::stop_source stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.request_stop();
  });
  EXPECT_EQ(notification->Wait(kInfinite, stop.get_token()), WaitResult::kStopped);

  spooler.FailNext(sim::SimCall::kEnumJobs, 5);
  try {
    printer->EnumJobs(0, 1);
    FAIL() << "no failure";
  } catch (const SpoolerError& e) {
    EXPECT_EQ(e.code(), 5);
  }
  EXPECT_NO_THROW(printer->EnumJobs(0, 1));
  try {
    spooler.OpenPrinter("Nowhere");
    FAIL() << "opened a printer that does not exist";
  } catch (const SpoolerError& e) {
    EXPECT_EQ(e.code(), kErrorInvalidPrinterName);
  }
}

TEST(SimSpooler, ASpoolFolderIsSharedBetweenSpoolers) {
  auto folder = ScratchFolder("shared");
  SimSpooler server(folder);
  server.AddPrinter("Front Desk", "IP_10.0.0.7");
  server.AddPrinter("\\\\srv\\Back office", "", true);
  server.SetDefaultPrinter("Front Desk");

  SimSpooler watcher(folder);
  auto printers = watcher.EnumPrinters();
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_EQ(watcher.DefaultPrinterName().value_or(""), "Front Desk");
  auto printer = watcher.OpenPrinter("Front Desk");
  auto notification = printer->FindFirstChangeNotification(kPrinterChangeJob, JobOptions());

  std::jthread submitter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    SimJobSpec spec = Job("R\xE9sum\xE9 & notes.doc", "d\xF6rte", 4);
    server.Submit("Front Desk", spec);
  });
  ASSERT_EQ(notification->Wait(std::chrono::seconds(10), {}), WaitResult::kSignalled);
  NotifyInfo info;
  EXPECT_EQ(notification->Next(nullptr, &info), kPrinterChangeAddJob);
  const NotifyData* document = FindRecord(info, 1, kJobNotifyDocument);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->text, "R\xE9sum\xE9 & notes.doc");
  auto jobs = printer->EnumJobs(0, 10);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].userName.value_or(""), "d\xF6rte");
  EXPECT_EQ(jobs[0].totalPages, 4u);
  EXPECT_FALSE(jobs[0].statusText.has_value());
  std::filesystem::remove_all(folder);
}
