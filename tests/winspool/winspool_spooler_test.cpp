// The Windows spooler backend on scripted winspool calls: what it makes of
// the system's wide texts, notification buffers and DEVMODEs, how failures
// come out, and the engine's watcher logging jobs through it.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/job_log_store.h"
#include "engine/job_mark_store.h"
#include "engine/printer_watcher.h"
#include "platform/spooler.h"
#include "platform/winspool_seam.h"
#include "tests/winspool/scripted_winspool.h"

namespace winspool_test {
namespace {

using namespace platform;

constexpr std::uint16_t kJobNotifyPriority = 0x0E;  // JOB_NOTIFY_FIELD_PRIORITY, never registered here
constexpr SpoolTime kSubmitted{2026, 12, 2, 8, 9, 30, 15, 250};

class WinspoolBackend : public ::testing::Test {
 protected:
  WinspoolBackend() : script(std::make_shared<Script>()) {
    script->queues[L"Laser"] = {};
    spooler = winspool::MakeWinspoolSpooler(std::make_unique<ScriptedApi>(script));
  }

  static NotifyOptions WatcherLikeOptions() {
    NotifyOptions options;
    options.types.push_back({kJobNotifyType,
                             {kJobNotifyStatus, kJobNotifyDocument, kJobNotifyUserName, kJobNotifyTotalPages,
                              kJobNotifyPagesPrinted, kJobNotifySubmitted}});
    options.types.push_back({kPrinterNotifyType, {kPrinterNotifyPrinterName, kPrinterNotifyCJobs}});
    return options;
  }

  std::shared_ptr<Script> script;
  std::unique_ptr<Spooler> spooler;
};

const NotifyData* Find(const NotifyInfo& info, std::uint32_t id, std::uint16_t field,
                       std::uint16_t type = kJobNotifyType) {
  for (const NotifyData& r : info.records) {
    if (r.type == type && r.id == id && r.field == field) return &r;
  }
  return nullptr;
}

// ---- Jobs as EnumJobs gives them ---------------------------------------------

TEST_F(WinspoolBackend, JobTextsBecomeLatin1AndAbsentTextsStayAbsent) {
  RawJob job;
  job.jobId = 7;
  job.document = L"R\u00e9sum\u00e9 \u03a9 \U0001F600.pdf";  // Omega and an emoji have no Latin-1 form
  job.userName = L"ann";
  job.statusText = std::nullopt;
  job.status = kJobStatusPrinting;
  job.totalPages = 4;
  job.pagesPrinted = 1;
  job.submitted = kSubmitted;
  script->queues[L"Laser"] = {job};

  auto printer = spooler->OpenPrinter("Laser");
  EXPECT_EQ(printer->Name(), "Laser");
  EXPECT_EQ(printer->JobCount(), 1u);
  std::vector<SpoolJob> jobs = printer->EnumJobs(0, 10);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].jobId, 7u);
  EXPECT_EQ(jobs[0].document, std::optional<std::string>("R\xe9sum\xe9 ? ?.pdf"));
  EXPECT_EQ(jobs[0].userName, std::optional<std::string>("ann"));
  EXPECT_FALSE(jobs[0].statusText.has_value());
  EXPECT_EQ(jobs[0].status, kJobStatusPrinting);
  EXPECT_EQ(jobs[0].pagesPrinted, 1u);
  EXPECT_EQ(jobs[0].submitted, kSubmitted);
  EXPECT_EQ(jobs[0].completed, SpoolTime{}) << "the Windows spooler tells no end time";
  EXPECT_TRUE(printer->EnumJobs(0, 0).empty());
  EXPECT_TRUE(printer->EnumJobs(1, 10).empty());
}

TEST_F(WinspoolBackend, AJobsPagesCountEveryCopyTheDevModeAsksFor) {
  RawJob three;
  three.jobId = 1;
  three.totalPages = 4;
  three.devMode = DevModeBytes(3);
  RawJob copiesNotSet = three;  // dmCopies says 3, but DM_COPIES is not in dmFields
  copiesNotSet.jobId = 2;
  copiesNotSet.devMode = DevModeBytes(3, false);
  RawJob noDevMode = three;
  noDevMode.jobId = 3;
  noDevMode.devMode.clear();
  RawJob zeroCopies = three;
  zeroCopies.jobId = 4;
  zeroCopies.devMode = DevModeBytes(0);
  RawJob truncated = three;  // too short to hold dmCopies
  truncated.jobId = 5;
  truncated.devMode.resize(80);
  script->queues[L"Laser"] = {three, copiesNotSet, noDevMode, zeroCopies, truncated};

  std::vector<SpoolJob> jobs = spooler->OpenPrinter("Laser")->EnumJobs(0, 10);
  ASSERT_EQ(jobs.size(), 5u);
  EXPECT_EQ(jobs[0].totalPages, 12u);
  EXPECT_EQ(jobs[1].totalPages, 4u);
  EXPECT_EQ(jobs[2].totalPages, 4u);
  EXPECT_EQ(jobs[3].totalPages, 4u);
  EXPECT_EQ(jobs[4].totalPages, 4u);
}

TEST_F(WinspoolBackend, NoHistoryOfEndedJobs) {
  RawJob job;
  job.jobId = 3;
  script->queues[L"Laser"] = {job};
  EXPECT_TRUE(spooler->OpenPrinter("Laser")->EndedJobs().empty());
}

// ---- Failures ----------------------------------------------------------------

TEST_F(WinspoolBackend, FailuresCarryTheSystemsErrorNumber) {
  try {
    spooler->OpenPrinter("Nowhere");
    FAIL() << "opened a printer that does not exist";
  } catch (const SpoolerError& e) {
    EXPECT_EQ(e.code(), kErrorInvalidPrinterName);
  }
  // The print server itself is no printer: refused before any call.
  const std::size_t calls = script->opened.size();
  try {
    spooler->OpenPrinter("");
    FAIL();
  } catch (const SpoolerError& e) {
    EXPECT_EQ(e.code(), kErrorInvalidPrinterName);
  }
  EXPECT_EQ(script->opened.size(), calls);

  script->openError = kErrorAccessDenied;
  try {
    spooler->OpenPrinter("Laser");
    FAIL();
  } catch (const SpoolerError& e) {
    EXPECT_EQ(e.code(), kErrorAccessDenied);
  }

  auto printer = spooler->OpenPrinter("Laser");
  script->enumJobsError = kErrorInvalidHandle;
  try {
    printer->EnumJobs(0, 5);
    FAIL();
  } catch (const SpoolerError& e) {
    EXPECT_EQ(e.code(), kErrorInvalidHandle);
  }

  script->registerError = kErrorNotSupported;
  try {
    printer->FindFirstChangeNotification(kPrinterChangeJob, WatcherLikeOptions());
    FAIL();
  } catch (const SpoolerError& e) {
    EXPECT_EQ(e.code(), kErrorNotSupported);
  }

  auto notification = printer->FindFirstChangeNotification(kPrinterChangeJob, WatcherLikeOptions());
  script->nextError = kErrorInvalidHandle;
  try {
    notification->Next(nullptr, nullptr);
    FAIL();
  } catch (const SpoolerError& e) {
    EXPECT_EQ(e.code(), kErrorInvalidHandle);
  }
}

// ---- Printers ----------------------------------------------------------------

TEST_F(WinspoolBackend, InstalledPrintersAndTheDefault) {
  script->installed = {{L"Laser", L"USB001", 0x40 /* local */},
                       {L"\\\\server\\Caf\u00e9 \u0416", L"", 0x10 /* network */}};
  std::vector<InstalledPrinter> printers = spooler->EnumPrinters();
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_EQ(printers[0].name, "Laser");
  EXPECT_EQ(printers[0].portName, "USB001");
  EXPECT_FALSE(printers[0].connection);
  EXPECT_EQ(printers[1].name, "\\\\server\\Caf\xe9 ?");
  EXPECT_TRUE(printers[1].connection);

  EXPECT_EQ(spooler->DefaultPrinterName(), std::nullopt);
  script->defaultPrinter = L"";
  EXPECT_EQ(spooler->DefaultPrinterName(), std::nullopt);
  script->defaultPrinter = L"Laser";
  EXPECT_EQ(spooler->DefaultPrinterName(), std::optional<std::string>("Laser"));
}

// ---- Notifications -----------------------------------------------------------

TEST_F(WinspoolBackend, RegistrationAsksForTheDevModeOfJobsWhosePagesAreWanted) {
  auto printer = spooler->OpenPrinter("Laser");
  NotifyOptions options = WatcherLikeOptions();
  options.flags = kNotifyOptionsRefresh;  // not looked at when registering
  auto notification = printer->FindFirstChangeNotification(kPrinterChangeJob, options);
  EXPECT_EQ(script->registeredFilter, kPrinterChangeJob);
  EXPECT_EQ(script->registeredOptions.flags, 0u);
  ASSERT_EQ(script->registeredOptions.types.size(), 2u);
  const auto& jobFields = script->registeredOptions.types[0].fields;
  EXPECT_EQ(std::count(jobFields.begin(), jobFields.end(), winspool::kJobNotifyDevMode), 1);
  EXPECT_EQ(script->registeredOptions.types[1].fields, options.types[1].fields);

  // Without the pages, no DEVMODE.
  NotifyOptions statusOnly;
  statusOnly.types.push_back({kJobNotifyType, {kJobNotifyStatus}});
  notification.reset();
  notification = printer->FindFirstChangeNotification(kPrinterChangeJob, statusOnly);
  EXPECT_EQ(script->registeredOptions.types[0].fields, std::vector<std::uint16_t>{kJobNotifyStatus});
}

TEST_F(WinspoolBackend, RecordsAreDecodedFromTheSystemsBuffers) {
  auto printer = spooler->OpenPrinter("Laser");
  auto notification = printer->FindFirstChangeNotification(kPrinterChangeJob, WatcherLikeOptions());

  RawNotifyBatch batch;
  batch.changes = kPrinterChangeAddJob | kPrinterChangeSetJob;
  batch.records = {
      BufferRecord(9, kJobNotifyDocument, Utf16Bytes(u"Caf\u00e9 \u20ac\U0001F600")),
      BufferRecord(9, kJobNotifyUserName, Utf16Bytes(u"bob", false)),  // no NUL: the buffer ends the text
      BufferRecord(9, kJobNotifySubmitted, SystemTimeBytes(kSubmitted)),
      NumberRecord(9, kJobNotifyStatus, kJobStatusSpooling),
      NumberRecord(9, kJobNotifyPagesPrinted, 2),
      NumberRecord(9, kJobNotifyPriority, 1),
      BufferRecord(9, kJobNotifySubmitted, {1, 2, 3}),  // too short for a SYSTEMTIME
      BufferRecord(0, kPrinterNotifyPrinterName, Utf16Bytes(u"Laser"), kPrinterNotifyType),
  };
  batch.records.push_back(NumberRecord(0, kPrinterNotifyCJobs, 1));
  batch.records.back().type = kPrinterNotifyType;
  script->Push(batch);

  ASSERT_EQ(notification->Wait(std::chrono::seconds(10), {}), WaitResult::kSignalled);
  NotifyInfo info;
  info.records.resize(3);  // replaced, not added to
  const NotifyOptions& asked = WatcherLikeOptions();
  EXPECT_EQ(notification->Next(&asked, &info), kPrinterChangeAddJob | kPrinterChangeSetJob);
  EXPECT_EQ(info.flags, 0u);
  ASSERT_EQ(info.records.size(), 7u);

  const NotifyData* document = Find(info, 9, kJobNotifyDocument);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->kind, NotifyData::Kind::kText);
  EXPECT_EQ(document->text, "Caf\xe9 ??");
  EXPECT_EQ(Find(info, 9, kJobNotifyUserName)->text, "bob");
  const NotifyData* submitted = Find(info, 9, kJobNotifySubmitted);
  ASSERT_NE(submitted, nullptr);
  EXPECT_EQ(submitted->kind, NotifyData::Kind::kTime);
  EXPECT_EQ(submitted->time, kSubmitted);
  EXPECT_EQ(Find(info, 9, kJobNotifyStatus)->number[0], kJobStatusSpooling);
  EXPECT_EQ(Find(info, 9, kJobNotifyPagesPrinted)->kind, NotifyData::Kind::kNumber);
  EXPECT_EQ(Find(info, 0, kPrinterNotifyPrinterName, kPrinterNotifyType)->text, "Laser");
  EXPECT_EQ(Find(info, 0, kPrinterNotifyCJobs, kPrinterNotifyType)->number[0], 1u);
  EXPECT_EQ(Find(info, 9, kJobNotifyPriority), nullptr) << "a field nobody registered";
}

TEST_F(WinspoolBackend, ReportedPagesCountEveryCopyWhicheverComesFirst) {
  auto printer = spooler->OpenPrinter("Laser");
  auto notification = printer->FindFirstChangeNotification(kPrinterChangeJob, WatcherLikeOptions());
  const NotifyOptions asked = WatcherLikeOptions();
  NotifyInfo info;

  // Job 1: the DEVMODE before the pages. Job 2: the pages first, then a
  // DEVMODE with copies, which reports the pages again.
  RawNotifyBatch first;
  first.changes = kPrinterChangeAddJob;
  first.records = {BufferRecord(1, winspool::kJobNotifyDevMode, DevModeBytes(2)),
                   NumberRecord(1, kJobNotifyTotalPages, 5), NumberRecord(2, kJobNotifyTotalPages, 3)};
  script->Push(first);
  notification->Next(&asked, &info);
  ASSERT_EQ(info.records.size(), 2u);
  EXPECT_EQ(Find(info, 1, kJobNotifyTotalPages)->number[0], 10u);
  EXPECT_EQ(Find(info, 2, kJobNotifyTotalPages)->number[0], 3u);

  RawNotifyBatch second;
  second.changes = kPrinterChangeSetJob;
  second.records = {BufferRecord(2, winspool::kJobNotifyDevMode, DevModeBytes(4)),
                    BufferRecord(1, winspool::kJobNotifyDevMode, DevModeBytes(2))};  // unchanged: nothing
  script->Push(second);
  notification->Next(&asked, &info);
  ASSERT_EQ(info.records.size(), 1u);
  EXPECT_EQ(Find(info, 2, kJobNotifyTotalPages)->number[0], 12u);

  // More pages spooled: still times the copies, even when the caller
  // fetches without records in between.
  RawNotifyBatch third;
  third.changes = kPrinterChangeSetJob;
  third.records = {NumberRecord(2, kJobNotifyTotalPages, 6)};
  script->Push(third);
  script->Push(RawNotifyBatch{
      kPrinterChangeSetJob, 0, {BufferRecord(1, winspool::kJobNotifyDevMode, DevModeBytes(1))}});
  notification->Next(&asked, nullptr);
  notification->Next(&asked, &info);
  ASSERT_EQ(info.records.size(), 1u);
  EXPECT_EQ(Find(info, 1, kJobNotifyTotalPages)->number[0], 5u) << "back to one copy";
}

TEST_F(WinspoolBackend, DiscardedChangesAndTheRefreshPassThrough) {
  auto printer = spooler->OpenPrinter("Laser");
  auto notification = printer->FindFirstChangeNotification(kPrinterChangeJob, WatcherLikeOptions());
  script->Push(RawNotifyBatch{kPrinterChangeSetJob | kPrinterChangeDeleteJob, kNotifyInfoDiscarded, {}});
  script->refreshBatch.records = {NumberRecord(4, kJobNotifyTotalPages, 7)};

  NotifyOptions asked = WatcherLikeOptions();
  NotifyInfo info;
  EXPECT_EQ(notification->Next(&asked, &info), kPrinterChangeSetJob | kPrinterChangeDeleteJob);
  EXPECT_EQ(info.flags, kNotifyInfoDiscarded);
  asked.flags = kNotifyOptionsRefresh;
  notification->Next(&asked, &info);
  EXPECT_EQ(info.flags, 0u);
  ASSERT_EQ(info.records.size(), 1u);
  EXPECT_EQ(info.records[0].number[0], 7u);
  EXPECT_EQ(script->fetchRefresh, (std::vector<bool>{false, true}));
}

TEST_F(WinspoolBackend, AWaitEndsOnTheTimeoutAndOnAStopRequest) {
  auto printer = spooler->OpenPrinter("Laser");
  auto notification = printer->FindFirstChangeNotification(kPrinterChangeJob, WatcherLikeOptions());
  EXPECT_EQ(notification->Wait(std::chrono::milliseconds(20), {}), WaitResult::kTimedOut);

  std::stop_source stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop.request_stop();
  });
  EXPECT_EQ(notification->Wait(kInfinite, stop.get_token()), WaitResult::kStopped);
}

// ---- The engine's watcher on the backend ---------------------------------------

struct Logged {
  std::string document, user, printer;
  std::uint32_t pages = 0;
};

class Book : public engine::JobLogStore {
 public:
  void Log(int, int, int, int, int, std::string_view document, std::uint32_t totalPages, std::string_view,
           std::string_view printerName, std::string_view userName) override {
    std::lock_guard lock(shared_->mutex);
    shared_->entries.push_back(
        Logged{std::string(document), std::string(userName), std::string(printerName), totalPages});
    shared_->changed.notify_all();
  }
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Logged> entries;
  };
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

TEST_F(WinspoolBackend, TheWatcherLogsAJobThatLeftTheQueueWithItsPagesAndCopies) {
  auto book = std::make_unique<Book>();
  auto shared = book->shared_;
  auto marks = std::make_shared<engine::MemoryJobMarkStore>();
  // A mark from an earlier run with a job still open: with no history to
  // look it up in, the catch-up logs nothing for it.
  engine::JobMark old;
  old.highest = 40;
  old.open = {39};
  marks->Save("Laser", old);

  engine::WatcherTiming timing;
  timing.afterBatch = std::chrono::milliseconds(1);
  timing.retry = std::chrono::milliseconds(10);
  engine::PrinterWatcher watcher(spooler.get(), std::move(book), timing, marks);
  watcher.Configure("Laser", "5");
  watcher.Start();

  auto waitUntil = [](auto condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  };
  ASSERT_TRUE(waitUntil([&] {
    std::lock_guard lock(script->mutex);
    return script->notificationsOpen == 1;
  }));

  // Job 41 arrives (its fields reported), prints, and leaves the queue.
  {
    std::lock_guard lock(script->mutex);
    RawJob queued;
    queued.jobId = 41;
    queued.document = L"Plan \u00e9t\u00e9.doc";
    queued.userName = L"ann";
    queued.totalPages = 3;
    queued.devMode = DevModeBytes(2);
    script->queues[L"Laser"] = {queued};
  }
  script->Push(RawNotifyBatch{kPrinterChangeAddJob,
                              0,
                              {BufferRecord(41, kJobNotifyDocument, Utf16Bytes(u"Plan \u00e9t\u00e9.doc")),
                               BufferRecord(41, kJobNotifyUserName, Utf16Bytes(u"ann")),
                               BufferRecord(41, winspool::kJobNotifyDevMode, DevModeBytes(2)),
                               NumberRecord(41, kJobNotifyTotalPages, 3)}});
  ASSERT_TRUE(waitUntil([&] { return script->Fetches() >= 1; }));
  {
    std::lock_guard lock(script->mutex);
    script->queues[L"Laser"].clear();
    script->batches.push_back(
        RawNotifyBatch{kPrinterChangeDeleteJob | kPrinterChangeSetJob,
                       0,
                       {NumberRecord(41, kJobNotifyStatus, kJobStatusPrinted | kJobStatusDeleting)}});
    script->changed.notify_all();
  }

  {
    std::unique_lock lock(shared->mutex);
    ASSERT_TRUE(
        shared->changed.wait_for(lock, std::chrono::seconds(20), [&] { return !shared->entries.empty(); }));
  }
  watcher.Stop();
  std::lock_guard lock(shared->mutex);
  ASSERT_EQ(shared->entries.size(), 1u) << "job 39 of the old mark is not in any history";
  EXPECT_EQ(shared->entries[0].document, "Plan \xe9t\xe9.doc");
  EXPECT_EQ(shared->entries[0].user, "ann");
  EXPECT_EQ(shared->entries[0].printer, "Laser");
  EXPECT_EQ(shared->entries[0].pages, 6u);
  std::optional<engine::JobMark> mark = marks->Load("Laser");
  ASSERT_TRUE(mark.has_value());
  // Logged, so never logged again; the highest id moves on when the
  // history is read again. Stopped before that, the mark may still hold
  // the job among the open ones, but then also among those done.
  EXPECT_TRUE(mark->done.count(41) || mark->highest >= 41u);
  EXPECT_TRUE(!mark->open.count(41) || mark->done.count(41)) << "job 41 left open and not done";
}

}  // namespace
}  // namespace winspool_test
