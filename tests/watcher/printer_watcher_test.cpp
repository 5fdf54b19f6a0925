// The printer watcher on a simulated spooler: which jobs it logs, with
// what, and how it copes with the spooler failing and with being stopped.

#include "engine/printer_watcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>

#include "tests/watcher/watcher_support.h"

using platform::sim::SimCall;
using platform::sim::SimQueue;
using watcher_test::Job;
using watcher_test::Logged;
using watcher_test::WaitUntil;
using watcher_test::WatchedPrinter;

namespace {

constexpr const char* kLaser = WatchedPrinter::kPrinter;

std::multiset<std::string> Documents(WatchedPrinter& w) {
  auto documents = w.book.Documents();
  return {documents.begin(), documents.end()};
}

const Logged* Find(const std::vector<Logged>& entries, const std::string& document) {
  for (const auto& entry : entries) {
    if (entry.document == document) return &entry;
  }
  return nullptr;
}

// Submits and cancels a marker job, then waits until it is logged: every
// change before it has been processed by then.
void Settle(WatchedPrinter& w, const std::string& marker, std::size_t expectedTotal) {
  w.sim.Edit(kLaser, [&](SimQueue& q) { q.Cancel(q.Submit(Job(marker, "m", 1))); });
  ASSERT_TRUE(w.book.WaitFor(expectedTotal)) << "waiting for " << marker;
}

}  // namespace

TEST(PrinterWatcher, JobsDeletedBeforePrintingAreLoggedWithTheirLastTotalPages) {
  WatchedPrinter w;
  w.Start();
  std::uint32_t a = w.sim.Submit(kLaser, Job("report.pdf", "ann", 0));
  w.sim.SetTotalPages(kLaser, a, 4);
  std::uint32_t b = w.sim.Submit(kLaser, Job("none.txt", "bob", 0));
  std::uint32_t c = w.sim.Submit(kLaser, Job("half.doc", "cyd", 3));
  w.sim.AdvancePages(kLaser, c, 1);
  w.sim.Cancel(kLaser, a);
  w.sim.Cancel(kLaser, b);
  w.sim.Cancel(kLaser, c);
  ASSERT_TRUE(w.book.WaitFor(3));

  auto entries = w.book.Entries();
  const Logged* report = Find(entries, "report.pdf");
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(report->pages, 4u);
  EXPECT_EQ(report->user, "ann");
  EXPECT_EQ(report->cost, "5");
  EXPECT_EQ(report->printer, "Laser");
  ASSERT_NE(Find(entries, "none.txt"), nullptr);
  EXPECT_EQ(Find(entries, "none.txt")->pages, 0u);
  ASSERT_NE(Find(entries, "half.doc"), nullptr);
  EXPECT_EQ(Find(entries, "half.doc")->pages, 3u) << "total pages, not the pages printed";
  EXPECT_EQ(w.sim.Jobs(kLaser).size(), 0u);
}

TEST(PrinterWatcher, JobsLeavingInOneBatchAreEachLoggedOnce) {
  WatchedPrinter w;
  w.Start();
  std::vector<std::uint32_t> ids;
  for (const char* document : {"one", "two", "three"})
    ids.push_back(w.sim.Submit(kLaser, Job(document, "ann", 2)));
  w.sim.Edit(kLaser, [&](SimQueue& q) {
    q.Complete(ids[0]);
    q.Cancel(ids[1]);
    q.Complete(ids[2]);
  });
  ASSERT_TRUE(w.book.WaitFor(3));
  // Jobs left over in the list would be logged again with the next batch.
  Settle(w, "marker", 4);
  Settle(w, "marker2", 5);
  EXPECT_EQ(Documents(w), (std::multiset<std::string>{"one", "two", "three", "marker", "marker2"}));
}

TEST(PrinterWatcher, AStatusOfExactly1024FinishesAJobStillInTheQueueOnce) {
  WatchedPrinter w;
  w.Start();
  std::uint32_t a = w.sim.Submit(kLaser, Job("exact", "ann", 2));
  std::uint32_t x = w.sim.Submit(kLaser, Job("more bits", "ann", 2));
  w.sim.SetStatus(kLaser, a, 1024);
  w.sim.SetStatus(kLaser, x, 1024 | platform::kJobStatusPrinting);
  Settle(w, "first batch", 2);
  EXPECT_EQ(Documents(w), (std::multiset<std::string>{"exact", "first batch"}));
  EXPECT_EQ(w.sim.Jobs(kLaser).size(), 2u) << "both are still queued";

  // The job goes on changing and leaves the queue: it was logged already.
  w.sim.AdvancePages(kLaser, a, 2);
  w.sim.SetStatus(kLaser, a, 1024);
  w.sim.Complete(kLaser, a);
  w.sim.Complete(kLaser, x);
  ASSERT_TRUE(w.book.WaitFor(3));
  Settle(w, "last batch", 4);
  EXPECT_EQ(Documents(w), (std::multiset<std::string>{"exact", "first batch", "more bits", "last batch"}));
}

TEST(PrinterWatcher, MissingDocumentAndUserNamesAreLoggedEmpty) {
  WatchedPrinter w;
  std::uint32_t early = w.sim.Submit(kLaser, Job(std::nullopt, std::nullopt, 1));  // seen by enumeration only
  w.Start();
  std::uint32_t late = w.sim.Submit(kLaser, Job(std::nullopt, std::nullopt, 2));
  w.sim.Complete(kLaser, early);
  w.sim.Complete(kLaser, late);
  ASSERT_TRUE(w.book.WaitFor(2));
  for (const auto& entry : w.book.Entries()) {
    EXPECT_EQ(entry.document, "");
    EXPECT_EQ(entry.user, "");
    EXPECT_EQ(entry.printer, "Laser");
  }
}

TEST(PrinterWatcher, SubmittedTimesAreLoggedInLocalTime) {
  watcher_test::TimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  WatchedPrinter w;
  auto spec = [](const char* document, platform::SpoolTime utc) {
    auto job = Job(document, "ann", 1);
    job.submitted = utc;
    return job;
  };
  // Queued before the watcher started, so known from the enumeration.
  std::uint32_t queued = w.sim.Submit(kLaser, spec("queued", {2006, 7, 6, 1, 12, 5, 0, 0}));
  w.Start();
  std::uint32_t night = w.sim.Submit(kLaser, spec("night", {2006, 3, 4, 9, 23, 30, 0, 0}));
  std::uint32_t year = w.sim.Submit(kLaser, spec("new year", {2006, 12, 0, 31, 23, 1, 0, 0}));
  w.sim.Edit(kLaser, [&](SimQueue& q) {
    q.Complete(queued);
    q.Complete(night);
    q.Complete(year);
  });
  ASSERT_TRUE(w.book.WaitFor(3));
  auto entries = w.book.Entries();

  const Logged* summer = Find(entries, "queued");
  ASSERT_NE(summer, nullptr);
  EXPECT_EQ((std::vector<int>{summer->year, summer->month, summer->day, summer->hour, summer->minute}),
            (std::vector<int>{2006, 7, 1, 14, 5}));
  const Logged* late = Find(entries, "night");
  ASSERT_NE(late, nullptr);
  EXPECT_EQ((std::vector<int>{late->year, late->month, late->day, late->hour, late->minute}),
            (std::vector<int>{2006, 3, 10, 0, 30}));
  const Logged* eve = Find(entries, "new year");
  ASSERT_NE(eve, nullptr);
  EXPECT_EQ((std::vector<int>{eve->year, eve->month, eve->day, eve->hour, eve->minute}),
            (std::vector<int>{2007, 1, 1, 0, 1}));
}

TEST(PrinterWatcher, AJobThatCameAndWentBetweenFetchesIsLoggedOnceWithItsData) {
  WatchedPrinter w;
  w.Start();
  std::uint32_t known = w.sim.Submit(kLaser, Job("known", "bob", 1));
  w.sim.Edit(kLaser, [&](SimQueue& q) {
    std::uint32_t brief = q.Submit(Job("brief", "ann", 6));
    q.AdvancePages(brief, 6);
    q.Complete(brief);
    // A known job whose last change comes with its deletion.
    q.SetTotalPages(known, 9);
    q.Cancel(known);
  });
  ASSERT_TRUE(w.book.WaitFor(2));
  Settle(w, "marker", 3);
  auto entries = w.book.Entries();
  EXPECT_EQ(Documents(w), (std::multiset<std::string>{"brief", "known", "marker"}));
  const Logged* brief = Find(entries, "brief");
  ASSERT_NE(brief, nullptr);
  EXPECT_EQ(brief->user, "ann");
  EXPECT_EQ(brief->pages, 6u);
  EXPECT_EQ(brief->year, 2006);
  const Logged* knownJob = Find(entries, "known");
  ASSERT_NE(knownJob, nullptr);
  EXPECT_EQ(knownJob->pages, 9u);
}

TEST(PrinterWatcher, DiscardedChangesAreMadeUpByARefresh) {
  WatchedPrinter w;
  w.sim.SetPendingLimit(12);
  w.Start();
  std::size_t before = w.Fetches();
  std::uint32_t known = w.sim.Submit(kLaser, Job("known", "kim", 2));
  ASSERT_TRUE(w.WaitFetches(before + 1));

  std::vector<std::uint32_t> burst;
  w.sim.Edit(kLaser, [&](SimQueue& q) {
    for (int i = 1; i <= 5; ++i) burst.push_back(q.Submit(Job("n" + std::to_string(i), "nat", 10u + i)));
    q.Complete(known);
    q.Cancel(burst[0]);  // never told of: the spooler dropped its records, its history has it
  });
  ASSERT_TRUE(w.book.WaitFor(2));
  EXPECT_EQ(Documents(w), (std::multiset<std::string>{"known", "n1"}));

  w.sim.SetPendingLimit(200);
  w.sim.Edit(kLaser, [&](SimQueue& q) {
    for (std::size_t i = 1; i < burst.size(); ++i) q.Complete(burst[i]);
  });
  ASSERT_TRUE(w.book.WaitFor(6));
  Settle(w, "marker", 7);
  auto entries = w.book.Entries();
  EXPECT_EQ(Documents(w), (std::multiset<std::string>{"known", "n1", "n2", "n3", "n4", "n5", "marker"}));
  const Logged* n3 = Find(entries, "n3");
  ASSERT_NE(n3, nullptr);
  EXPECT_EQ(n3->user, "nat");
  EXPECT_EQ(n3->pages, 13u);
  EXPECT_EQ(n3->year, 2006);
}

TEST(PrinterWatcher, APrinterThatCannotBeOpenedIsTriedAgainUntilItCan) {
  {
    WatchedPrinter w;
    w.sim.FailNext(SimCall::kOpenPrinter, platform::kErrorServerUnavailable, 2);
    w.Start();
    EXPECT_EQ(w.sim.Calls(SimCall::kOpenPrinter), 3u);
    std::uint32_t a = w.sim.Submit(kLaser, Job("after", "ann", 1));
    w.sim.Complete(kLaser, a);
    ASSERT_TRUE(w.book.WaitFor(1));
  }
  {
    WatchedPrinter w(WatchedPrinter::Fast(), {}, /*addPrinter=*/false);
    w.watcher->Start();
    ASSERT_TRUE(WaitUntil([&] { return w.sim.Calls(SimCall::kOpenPrinter) >= 3; }));
    EXPECT_EQ(w.sim.Calls(SimCall::kFindFirst), 0u) << "nothing is done without a printer";
    w.sim.AddPrinter(kLaser);
    ASSERT_TRUE(w.Ready());
    Settle(w, "installed late", 1);
  }
  {
    // The pause before the next try ends when the watcher is stopped.
    engine::WatcherTiming slow;
    slow.retry = std::chrono::hours(1);
    WatchedPrinter w(slow, {}, /*addPrinter=*/false);
    w.watcher->Start();
    ASSERT_TRUE(WaitUntil([&] { return w.sim.Calls(SimCall::kOpenPrinter) >= 1; }));
    auto begin = std::chrono::steady_clock::now();
    w.watcher->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
  }
}

TEST(PrinterWatcher, AFailedRegistrationIsTriedAgain) {
  WatchedPrinter w;
  w.sim.FailNext(SimCall::kFindFirst, platform::kErrorAccessDenied, 2);
  std::uint32_t queued = w.sim.Submit(kLaser, Job("queued", "ann", 1));
  w.Start();
  EXPECT_EQ(w.sim.Calls(SimCall::kFindFirst), 3u);
  w.sim.Complete(kLaser, queued);
  ASSERT_TRUE(w.book.WaitFor(1));
  EXPECT_EQ(Documents(w), (std::multiset<std::string>{"queued"}));
}

TEST(PrinterWatcher, StoppingWhileJobsCompleteLeavesEveryRecordWhole) {
  std::atomic<int> begun{0};
  WatchedPrinter w(WatchedPrinter::Fast(), [&] {
    ++begun;
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  });
  w.Start();
  std::atomic<bool> printing{true};
  std::atomic<int> submitted{0};
  std::jthread server([&] {
    for (int i = 1; printing; ++i) {
      w.sim.Edit(kLaser, [&](SimQueue& q) {
        std::uint32_t id = q.Submit(Job("job-" + std::to_string(i), "ann", static_cast<std::uint32_t>(i)));
        if (i % 3 == 0) {
          q.Cancel(id);
        } else {
          q.Complete(id);
        }
      });
      submitted = i;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  ASSERT_TRUE(w.book.WaitFor(15));
  w.watcher->Stop();
  std::size_t atStop = w.book.Entries().size();
  EXPECT_EQ(static_cast<std::size_t>(begun.load()), atStop) << "a record was begun and not finished";
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  printing = false;
  server.join();
  EXPECT_EQ(w.book.Entries().size(), atStop) << "logged after the stop";

  std::set<std::string> seen;
  for (const auto& entry : w.book.Entries()) {
    EXPECT_TRUE(seen.insert(entry.document).second) << entry.document << " logged twice";
    EXPECT_EQ(entry.document, "job-" + std::to_string(entry.pages));
  }
  EXPECT_LE(atStop, static_cast<std::size_t>(submitted.load()));
}
