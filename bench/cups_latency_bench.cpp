// How long a job takes from leaving a CUPS queue to its last record on
// disk: a private scheduler (tests/cups_e2e/cupsd.sh) with one queue whose
// backend notes when each job has printed, and a printer watcher on the
// CUPS spooler that logs through the real log store into a fresh
// application folder, one job at a time. Printed as median and 95th
// percentile, next to two baselines of the same run: one log store call,
// and one request to the scheduler.
//
//   cups_latency_bench [JOBS=200] [PAUSE_MS=0]
//
// PAUSE_MS is the watcher's pause after each batch (1000 in the engine);
// 0 measures the path from the queue to the disk alone, which is bounded
// by the interval at which the spooler asks the scheduler for events.

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "engine/job_log_store.h"
#include "engine/printer_watcher.h"
#include "platform/spooler.h"
#include "tests/support/private_cupsd.h"

namespace fs = std::filesystem;

using SystemClock = std::chrono::system_clock;
using Steady = std::chrono::steady_clock;
using bench::Figures;
using bench::Micros;
using bench::Summarise;
using TimedStore = bench::TimedStore<SystemClock>;

namespace {

// The time the backend noted for a job, if it has.
bool PrintedAt(const fs::path& stamps, int job, SystemClock::time_point& at) {
  std::ifstream in(stamps);
  int id = 0;
  double seconds = 0;
  while (in >> id >> seconds) {
    if (id == job) {
      at = SystemClock::time_point(
          std::chrono::duration_cast<SystemClock::duration>(std::chrono::duration<double>(seconds)));
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const int jobs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const auto pause = std::chrono::milliseconds(argc > 2 ? std::atoi(argv[2]) : 0);

  PrivateCupsd cupsd;
  if (!cupsd.Started()) {
    std::fprintf(stderr, "%s\n", cupsd.Error().c_str());
    return 1;
  }
  const fs::path stampDir = cupsd.Folder() / "stamps";
  fs::create_directories(stampDir);
  ::chmod(stampDir.c_str(), 0777);  // the backend runs as lp
  const fs::path stamps = stampDir / "printed";
  cupsd.AddQueue("BenchQueue", 0, stamps.string());

  const bench::BenchFolder folder(std::vector<common::ChosenPrinter>{{"BenchQueue", "5"}});

  // Baseline 1: one record through the store, with the same users.
  const std::vector<double> direct = bench::StoreBaseline("BenchQueue", jobs);

  // Baseline 2: one request to the scheduler.
  auto spooler = platform::MakeCupsSpooler();
  auto printer = spooler->OpenPrinter("BenchQueue");
  std::vector<double> request;
  for (int i = 0; i < jobs; ++i) {
    const auto t0 = Steady::now();
    printer->JobCount();
    request.push_back(Micros(Steady::now() - t0));
  }

  auto timedStore = std::make_unique<TimedStore>();
  TimedStore& timed = *timedStore;
  engine::WatcherTiming timing;
  timing.afterBatch = pause;
  engine::PrinterWatcher watcher(spooler.get(), std::move(timedStore), timing);
  watcher.Configure("BenchQueue", "5");
  watcher.Start();
  // Registered once the queue has a subscription.
  for (int i = 0; i < 200 && cupsd.SubscriptionIds("BenchQueue").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  std::vector<double> latencies;
  for (int i = 0; i < jobs; ++i) {
    int id = cupsd.Submit("BenchQueue", 3, "Document " + std::to_string(i) + ".pdf",
                          "user" + std::to_string(i % 10));
    SystemClock::time_point written, printed;
    if (!timed.WaitFor(static_cast<std::size_t>(i) + 1, written)) {
      std::fprintf(stderr, "job %d was never logged\n%s", id, cupsd.ErrorLogTail().c_str());
      return 1;
    }
    if (!PrintedAt(stamps, id, printed)) {
      std::fprintf(stderr, "job %d was logged before it had printed\n", id);
      return 1;
    }
    latencies.push_back(Micros(written - printed));
  }
  watcher.Stop();

  const Figures base = Summarise(direct);
  const Figures ipp = Summarise(request);
  const Figures cups = Summarise(latencies);
  std::printf("CUPS latency, job leaving the queue to its last record on disk (%d jobs, pause %lld ms)\n",
              jobs, static_cast<long long>(pause.count()));
  std::printf("%-38s %12s %12s\n", "", "median us", "95th pct us");
  std::printf("%-38s %12.1f %12.1f\n", "baseline: one JobLogStore::log", base.median, base.p95);
  std::printf("%-38s %12.1f %12.1f\n", "baseline: one request to the scheduler", ipp.median, ipp.p95);
  std::printf("%-38s %12.1f %12.1f\n", "watcher on the CUPS spooler", cups.median, cups.p95);
  std::printf("ratio to the log store call: median %.1f, 95th %.1f\n", cups.median / base.median,
              cups.p95 / base.p95);
  std::printf("ratio to one request:        median %.1f, 95th %.1f\n", cups.median / ipp.median,
              cups.p95 / ipp.p95);
  std::printf("(the spooler asks the scheduler for events every half second, sooner right after events)\n");

  printer.reset();
  return 0;
}
