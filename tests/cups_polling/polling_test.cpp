// A scheduler without the engine's notifier refuses the watcher's second
// subscription: the watcher then asks for events at short intervals, and
// still finishes every job.

#include <chrono>
#include <cstdlib>
#include <string>

#include "tests/cups_spooler/cups_test_support.h"

namespace {

using namespace std::chrono;

// Before the scheduler of this program is made: no notifier for it.
const bool kNoNotifier = [] {
  ::setenv("QUILLMARK_CUPS_NOTIFIER", "/nonexistent/quillmark-cups-notifier", 1);
  return true;
}();

TEST_F(CupsSpoolerTest, WithoutTheNotifierEventsAreAskedForAndJobsStillFinish) {
  ASSERT_TRUE(kNoNotifier);
  std::string q = NewQueue();
  auto printer = Spooler().OpenPrinter(q);
  auto options = WatcherOptions(true);
  auto n = printer->FindFirstChangeNotification(platform::kPrinterChangeJob, options);
  EXPECT_EQ(Cupsd().SubscriptionIds(q).size(), 1u) << "only the subscription that keeps the events";

  auto id = static_cast<std::uint32_t>(Cupsd().Submit(q, 3, "Polled", "erin"));
  QueueCopy copy;
  std::map<std::uint32_t, QueueCopy::Job> finished;
  const auto start = steady_clock::now();
  FetchUntil(*n, options, [&](const std::vector<Fetch>& fetches) {
    for (auto& [jobId, job] : copy.Take(fetches.back(), *printer)) finished.emplace(jobId, job);
    return !finished.empty();
  });
  ASSERT_EQ(finished.count(id), 1u);
  EXPECT_EQ(finished.at(id).totalPages, 3u);
  EXPECT_LT(steady_clock::now() - start, seconds(15));
}

}  // namespace
