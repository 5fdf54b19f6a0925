#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "platform/posix/cups_change_notification.h"
#include "tests/cups_spooler/cups_test_support.h"

namespace {

using namespace std::chrono;
using platform::kPrinterChangeAddJob;
using platform::kPrinterChangeDeleteJob;
using platform::kPrinterChangeJob;
using platform::kPrinterChangeSetJob;

bool Deleted(const Fetch& f) { return (f.changes & kPrinterChangeDeleteJob) != 0; }

// Index of the first fetch that reports a deletion, or fetches.size().
std::size_t FirstDeletion(const std::vector<Fetch>& fetches) {
  for (std::size_t i = 0; i < fetches.size(); ++i) {
    if (Deleted(fetches[i])) return i;
  }
  return fetches.size();
}

// Feeds fetches into a queue copy and collects what finishes, until
// `expected` jobs have finished or the time is up.
struct Collector {
  QueueCopy copy;
  std::map<std::uint32_t, QueueCopy::Job> finished;
  int finishedTwice = 0;

  void Run(platform::ChangeNotification& n, platform::SpoolPrinter& printer,
           const platform::NotifyOptions& options, std::size_t expected, seconds limit = seconds(60)) {
    FetchUntil(
        n, options,
        [&](const std::vector<Fetch>& fetches) {
          for (auto& [id, job] : copy.Take(fetches.back(), printer)) {
            if (!finished.emplace(id, job).second) ++finishedTwice;
          }
          return finished.size() >= expected;
        },
        limit);
  }
};

TEST_F(CupsSpoolerTest, ReportsAJobFromCreationThroughProgressToItsDeletion) {
  std::string q = NewQueue(1.0);  // one second per page
  auto printer = Spooler().OpenPrinter(q);
  auto options = WatcherOptions(true);
  auto n = printer->FindFirstChangeNotification(kPrinterChangeJob, options);

  auto before = floor<seconds>(system_clock::now());
  auto id = static_cast<std::uint32_t>(Cupsd().Submit(q, 3, "Progress report", "alice"));
  auto fetches = FetchUntil(*n, options, [](const auto& f) { return Deleted(f.back()); });
  std::size_t del = FirstDeletion(fetches);
  ASSERT_LT(del, fetches.size()) << "no deletion reported";
  ASSERT_GE(del, 1u) << "the final values must come before the deletion";

  // Created: announced with its document, owner and submitted time.
  bool added = false;
  for (std::size_t i = 0; i < del; ++i) {
    if (fetches[i].changes & kPrinterChangeAddJob) added = true;
  }
  EXPECT_TRUE(added);
  auto first = JobFields(fetches[0], id);
  ASSERT_TRUE(first.count(platform::kJobNotifyDocument));
  EXPECT_EQ(first[platform::kJobNotifyDocument].text, "Progress report");
  EXPECT_EQ(first[platform::kJobNotifyUserName].text, "alice");
  ASSERT_TRUE(first.count(platform::kJobNotifySubmitted));
  EXPECT_GE(platform::FromSpoolTime(first[platform::kJobNotifySubmitted].time), before);
  EXPECT_LE(platform::FromSpoolTime(first[platform::kJobNotifySubmitted].time), system_clock::now());

  // Progress: some fetch saw part of the job printed.
  bool partly = false;
  for (std::size_t i = 0; i < del; ++i) {
    auto fields = JobFields(fetches[i], id);
    if (fields.count(platform::kJobNotifyPagesPrinted)) {
      auto printed = fields[platform::kJobNotifyPagesPrinted].number[0];
      if (printed >= 1 && printed < 3) partly = true;
      EXPECT_TRUE(fetches[i].changes & kPrinterChangeSetJob || i == 0);
    }
  }
  EXPECT_TRUE(partly) << "no fetch while the job was printing";

  // Completed: its final values, then the deletion without them.
  auto last = JobFields(fetches[del - 1], id);
  EXPECT_EQ(last[platform::kJobNotifyTotalPages].number[0], 3u);
  EXPECT_EQ(last[platform::kJobNotifyPagesPrinted].number[0], 3u);
  EXPECT_TRUE(last[platform::kJobNotifyStatus].number[0] & platform::kJobStatusPrinted);
  EXPECT_EQ(last[platform::kJobNotifyDocument].text, "Progress report");
  EXPECT_TRUE(JobFields(fetches[del], id).empty()) << "a job that has left is not refreshed";
  EXPECT_TRUE(printer->EnumJobs(0, 10).empty());

  // Printer records come with every refresh.
  bool cjobs = false;
  for (const auto& r : fetches[0].info.records) {
    if (r.type == platform::kPrinterNotifyType && r.field == platform::kPrinterNotifyCJobs) cjobs = true;
  }
  EXPECT_TRUE(cjobs);
}

TEST_F(CupsSpoolerTest, WithoutRefreshOnlyChangedFieldsAreReported) {
  std::string q = NewQueue(1.0);
  auto printer = Spooler().OpenPrinter(q);
  auto registered = WatcherOptions(true);
  auto changes = WatcherOptions(false);
  auto n = printer->FindFirstChangeNotification(kPrinterChangeJob, registered);

  auto id = static_cast<std::uint32_t>(Cupsd().Submit(q, 3, "Changes", "bob"));
  auto fetches = FetchUntil(*n, changes, [](const auto& f) { return Deleted(f.back()); });
  std::size_t del = FirstDeletion(fetches);
  ASSERT_LT(del, fetches.size());
  ASSERT_GE(del, 2u) << "the job printed for three seconds";

  int documentRecords = 0;
  for (std::size_t i = 0; i + 1 < del; ++i) {
    documentRecords += static_cast<int>(JobFields(fetches[i], id).count(platform::kJobNotifyDocument));
  }
  EXPECT_EQ(documentRecords, 1) << "the name is reported once while the job is queued";
  // The fetch before the deletion carries everything the job ended with.
  auto last = JobFields(fetches[del - 1], id);
  EXPECT_EQ(last[platform::kJobNotifyDocument].text, "Changes");
  EXPECT_EQ(last[platform::kJobNotifyTotalPages].number[0], 3u);
}

TEST_F(CupsSpoolerTest, HeldJobsReleasedTogetherAreEachFinishedOnceWithTheirPages) {
  std::string q = NewQueue();
  Cupsd().Disable(q);
  auto printer = Spooler().OpenPrinter(q);
  auto options = WatcherOptions(true);
  auto n = printer->FindFirstChangeNotification(kPrinterChangeJob, options);

  struct Want {
    std::string title, user;
    std::uint32_t pages;
  };
  std::map<std::uint32_t, Want> want;
  const Want jobs[] = {
      {"a", "alice", 1}, {"b", "bob", 2}, {"c", "alice", 3}, {"d", "bob", 4}, {"e", "alice", 5}};
  for (const auto& w : jobs) {
    want[static_cast<std::uint32_t>(Cupsd().Submit(q, static_cast<int>(w.pages), w.title, w.user))] = w;
  }
  Cupsd().Enable(q);

  Collector c;
  c.Run(*n, *printer, options, want.size());
  EXPECT_EQ(c.finishedTwice, 0);
  ASSERT_EQ(c.finished.size(), want.size());
  for (const auto& [id, w] : want) {
    ASSERT_TRUE(c.finished.count(id)) << "job " << id;
    const auto& got = c.finished.at(id);
    EXPECT_EQ(got.document, w.title);
    EXPECT_EQ(got.user, w.user);
    EXPECT_EQ(got.totalPages, w.pages) << "job " << id;
  }
  // Nothing more comes.
  std::stop_source never;
  EXPECT_EQ(n->Wait(milliseconds(1500), never.get_token()), platform::WaitResult::kTimedOut);
}

TEST_F(CupsSpoolerTest, AJobCancelledBeforePrintingLeavesLikeAPrintedOne) {
  std::string q = NewQueue();
  Cupsd().Disable(q);
  auto printer = Spooler().OpenPrinter(q);
  auto options = WatcherOptions(true);
  auto n = printer->FindFirstChangeNotification(kPrinterChangeJob, options);

  int id = Cupsd().Submit(q, 4, "Never printed", "alice");
  Collector c;
  // Seen while held...
  FetchUntil(*n, options, [&](const std::vector<Fetch>& f) {
    c.copy.Take(f.back(), *printer);
    return c.copy.Jobs().count(static_cast<std::uint32_t>(id)) > 0;
  });
  ASSERT_TRUE(c.copy.Jobs().count(static_cast<std::uint32_t>(id)));
  // ...then cancelled.
  Cupsd().Cancel(q, id);
  c.Run(*n, *printer, options, 1);
  ASSERT_EQ(c.finished.count(static_cast<std::uint32_t>(id)), 1u);
  const auto& got = c.finished.at(static_cast<std::uint32_t>(id));
  EXPECT_EQ(got.document, std::string("Never printed"));
  EXPECT_EQ(got.totalPages, 0u);
  EXPECT_TRUE(got.status & platform::kJobStatusDeleted);
}

TEST_F(CupsSpoolerTest, JobsWhoseEventsWereDroppedAreStillFinishedOnce) {
  std::string q = NewQueue();
  auto printer = Spooler().OpenPrinter(q);
  auto options = WatcherOptions(true);
  auto n = printer->FindFirstChangeNotification(kPrinterChangeJob, options);

  // Far more than the 100 events a subscription keeps, none of them
  // fetched while they happen; every job comes and goes unseen.
  std::map<std::uint32_t, std::uint32_t> want;
  for (int i = 0; i < 45; ++i) {
    int pages = 1 + i % 3;
    want[static_cast<std::uint32_t>(Cupsd().Submit(q, pages, "bulk " + std::to_string(i), "alice"))] =
        static_cast<std::uint32_t>(pages);
  }
  ASSERT_TRUE(Cupsd().WaitIdle(q, seconds(60)));

  Collector c;
  c.Run(*n, *printer, options, want.size());
  EXPECT_EQ(c.finishedTwice, 0);
  EXPECT_EQ(c.finished.size(), want.size());
  for (const auto& [id, pages] : want) {
    ASSERT_TRUE(c.finished.count(id)) << "job " << id;
    EXPECT_EQ(c.finished.at(id).totalPages, pages) << "job " << id;
  }
  std::stop_source never;
  EXPECT_EQ(n->Wait(milliseconds(1500), never.get_token()), platform::WaitResult::kTimedOut);
}

TEST_F(CupsSpoolerTest, ALostSubscriptionIsReplacedWithoutLosingJobs) {
  std::string q = NewQueue();
  auto printer = Spooler().OpenPrinter(q);
  auto options = WatcherOptions(true);
  auto n = printer->FindFirstChangeNotification(kPrinterChangeJob, options);
  // The events' subscription and the notifier's: the scheduler drops both.
  auto ids = Cupsd().SubscriptionIds(q);
  ASSERT_EQ(ids.size(), 2u);
  for (int sub : ids) Cupsd().CancelSubscription(q, sub);

  auto id = static_cast<std::uint32_t>(Cupsd().Submit(q, 2, "After the loss", "bob"));
  ASSERT_TRUE(Cupsd().WaitIdle(q));
  Collector c;
  c.Run(*n, *printer, options, 1);
  ASSERT_EQ(c.finished.count(id), 1u);
  EXPECT_EQ(c.finished.at(id).totalPages, 2u);
  EXPECT_EQ(c.finished.at(id).user, std::string("bob"));
  EXPECT_EQ(Cupsd().SubscriptionIds(q).size(), 2u) << "subscribed again";

  n.reset();
  EXPECT_TRUE(Cupsd().SubscriptionIds(q).empty()) << "closing cancels the subscription";
}

TEST_F(CupsSpoolerTest, JobsFinishedBeforeRegistrationAreNotReported) {
  std::string q = NewQueue();
  Cupsd().Submit(q, 1, "old");
  ASSERT_TRUE(Cupsd().WaitIdle(q));
  auto printer = Spooler().OpenPrinter(q);
  auto options = WatcherOptions(true);
  auto n = printer->FindFirstChangeNotification(kPrinterChangeJob, options);

  auto id = static_cast<std::uint32_t>(Cupsd().Submit(q, 1, "new"));
  Collector c;
  c.Run(*n, *printer, options, 1);
  ASSERT_EQ(c.finished.size(), 1u);
  EXPECT_EQ(c.finished.begin()->first, id);
}

TEST_F(CupsSpoolerTest, AQueueDeletedWhileWatchedEndsTheWaitAndFailsTheFetch) {
  std::string q = NewQueue();
  auto printer = Spooler().OpenPrinter(q);
  auto options = WatcherOptions(true);
  auto n = printer->FindFirstChangeNotification(kPrinterChangeJob, options);
  Cupsd().Delete(q);

  std::stop_source never;
  EXPECT_EQ(n->Wait(seconds(10), never.get_token()), platform::WaitResult::kSignalled);
  platform::NotifyInfo info;
  try {
    n->Next(&options, &info);
    FAIL() << "fetched changes of a deleted queue";
  } catch (const platform::SpoolerError& e) {
    EXPECT_EQ(e.code(), platform::kErrorInvalidPrinterName);
  }
  try {
    printer->EnumJobs(0, 10);
    FAIL() << "listed the jobs of a deleted queue";
  } catch (const platform::SpoolerError& e) {
    EXPECT_EQ(e.code(), platform::kErrorInvalidPrinterName);
  }
}

TEST_F(CupsSpoolerTest, WaitEndsOnTimeoutAndOnStop) {
  std::string q = NewQueue();
  auto printer = Spooler().OpenPrinter(q);
  auto n = printer->FindFirstChangeNotification(kPrinterChangeJob, WatcherOptions(true));

  std::stop_source never;
  EXPECT_EQ(n->Wait(milliseconds(300), never.get_token()), platform::WaitResult::kTimedOut);

  std::stop_source stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(milliseconds(300));
    stop.request_stop();
  });
  auto start = steady_clock::now();
  EXPECT_EQ(n->Wait(platform::kInfinite, stop.get_token()), platform::WaitResult::kStopped);
  EXPECT_LT(steady_clock::now() - start, seconds(10)) << "an infinite wait must end on a stop request";
}

// The queue's subscriptions that name the engine's notifier.
std::size_t RelaySubscriptions(PrivateCupsd& cupsd, const std::string& queue) {
  std::filesystem::path test = cupsd.Folder() / "relay-subscriptions.test";
  {
    std::ofstream out(test);
    out << "{\n OPERATION Get-Subscriptions\n GROUP operation-attributes-tag\n"
        << " ATTR charset attributes-charset utf-8\n"
        << " ATTR naturalLanguage attributes-natural-language en\n"
        << " ATTR uri printer-uri $uri\n ATTR name requesting-user-name root\n"
        << " ATTR boolean my-subscriptions false\n"
        << " STATUS successful-ok\n STATUS client-error-not-found\n}\n";
  }
  std::string out =
      PrivateCupsd::Run("ipptool -tv '" + cupsd.IppUri("/printers/" + queue) + "' '" + test.string() + "'");
  std::size_t count = 0;
  const std::string key = "notify-recipient-uri (uri) = quillmark:";
  for (auto at = out.find(key); at != std::string::npos; at = out.find(key, at + 1)) ++count;
  return count;
}

TEST_F(CupsSpoolerTest, AnIdleWaitAsksNothingAndEventsEndItAtOnce) {
  std::string q = NewQueue();
  auto printer = Spooler().OpenPrinter(q);
  auto options = WatcherOptions(true);
  auto n = printer->FindFirstChangeNotification(kPrinterChangeJob, options);
  ASSERT_EQ(RelaySubscriptions(Cupsd(), q), 1u) << "the scheduler took no subscription for the notifier";

  std::stop_source never;
  const std::size_t before = Cupsd().Requests();
  EXPECT_EQ(n->Wait(milliseconds(3000), never.get_token()), platform::WaitResult::kTimedOut);
  // One look when the wait begins, none while it sleeps (polling asked
  // six times in three seconds). The scheduler may log the request just
  // before the wait a moment after answering it.
  EXPECT_LE(Cupsd().Requests() - before, 3u);

  std::jthread submitter([&] {
    std::this_thread::sleep_for(milliseconds(200));
    Cupsd().Submit(q, 1, "Wake up", "carol");
  });
  const auto start = steady_clock::now();
  EXPECT_EQ(n->Wait(seconds(20), never.get_token()), platform::WaitResult::kSignalled);
  // The lp run takes its time; the wait ends with its event, not after
  // a check interval.
  EXPECT_LT(steady_clock::now() - start, seconds(5));
  submitter.join();
  Collector c;
  c.Run(*n, *printer, options, 1);
  EXPECT_EQ(c.finished.size(), 1u);
}

TEST_F(CupsSpoolerTest, SilencedEventsAreNoticedAtTheNextCheckAndNoJobIsLost) {
  std::string q = NewQueue();
  auto printer = Spooler().OpenPrinter(q);
  auto options = WatcherOptions(true);
  auto n = printer->FindFirstChangeNotification(kPrinterChangeJob, options);
  ASSERT_EQ(RelaySubscriptions(Cupsd(), q), 1u);
  std::stop_source never;
  EXPECT_EQ(n->Wait(milliseconds(100), never.get_token()), platform::WaitResult::kTimedOut);

  // The notifier's subscription disappears while the watcher sleeps:
  // nothing wakes it any more, until its next check finds out and
  // subscribes again.
  const auto ids = Cupsd().SubscriptionIds(q);
  ASSERT_EQ(ids.size(), 2u);
  std::uint32_t id = 0;
  std::jthread submitter([&] {
    std::this_thread::sleep_for(seconds(1));
    Cupsd().CancelSubscription(q, ids.back());
    id = static_cast<std::uint32_t>(Cupsd().Submit(q, 2, "Unheard", "dave"));
  });
  const auto start = steady_clock::now();
  EXPECT_EQ(n->Wait(seconds(90), never.get_token()), platform::WaitResult::kSignalled);
  const auto waited = steady_clock::now() - start;
  EXPECT_GT(waited, seconds(5)) << "woken by an event nobody should have sent";
  EXPECT_LT(waited, platform::cups::CupsChangeNotification::kCheckInterval + seconds(10));
  submitter.join();
  Collector c;
  c.Run(*n, *printer, options, 1);
  ASSERT_EQ(c.finished.count(id), 1u);
  EXPECT_EQ(c.finished.at(id).totalPages, 2u);
  EXPECT_EQ(RelaySubscriptions(Cupsd(), q), 1u);
  EXPECT_EQ(Cupsd().SubscriptionIds(q).size(), 2u);
}

}  // namespace
