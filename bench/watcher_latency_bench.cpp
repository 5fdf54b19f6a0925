// How long a finished job takes from leaving the spooler queue to its last
// record on disk: a printer watcher on the simulated spooler logs through
// the real log store into a fresh application folder, one job at a time.
// Printed as median and 95th percentile over the jobs, for the in-memory
// spooler and for a spool folder shared between processes (which a
// watcher polls), next to the baseline of the same run: one log store
// call on its own.
//
//   watcher_latency_bench [JOBS=200] [PAUSE_MS=0]
//
// PAUSE_MS is the watcher's pause after each batch (1000 in the engine);
// 0 measures the path from notification to disk alone.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "engine/job_log_store.h"
#include "engine/printer_watcher.h"
#include "platform/sim/sim_spooler.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bench::Figures;
using bench::Micros;
using bench::Summarise;
using TimedStore = bench::TimedStore<Clock>;

namespace {

// Runs `jobs` jobs through a watcher on `sim`; latencies in microseconds.
std::vector<double> Measure(platform::sim::SimSpooler& sim, int jobs, std::chrono::milliseconds pause) {
  sim.AddPrinter("Bench Printer");
  auto store = std::make_unique<TimedStore>();
  TimedStore& timed = *store;
  engine::WatcherTiming timing;
  timing.afterBatch = pause;
  engine::PrinterWatcher watcher(&sim, std::move(store), timing);
  watcher.Configure("Bench Printer", "5");
  watcher.Start();
  while (sim.Calls(platform::sim::SimCall::kEnumJobs) < 1)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));

  std::vector<double> latencies;
  for (int i = 0; i < jobs; ++i) {
    platform::sim::SimJobSpec spec;
    spec.document = "Document " + std::to_string(i) + ".pdf";
    spec.userName = "user" + std::to_string(i % 10);
    spec.totalPages = 3;
    std::uint32_t id = sim.Submit("Bench Printer", spec);
    sim.AdvancePages("Bench Printer", id, 3);
    sim.Complete("Bench Printer", id);
    const auto left = Clock::now();
    Clock::time_point written;
    if (!timed.WaitFor(static_cast<std::size_t>(i) + 1, written)) {
      std::fprintf(stderr, "job %d was never logged\n", i);
      std::exit(1);
    }
    latencies.push_back(Micros(written - left));
  }
  watcher.Stop();
  return latencies;
}

}  // namespace

int main(int argc, char** argv) {
  const int jobs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const auto pause = std::chrono::milliseconds(argc > 2 ? std::atoi(argv[2]) : 0);

  const bench::BenchFolder folder(std::vector<common::ChosenPrinter>{{"Bench Printer", "5"}});

  // Baseline: one record through the store, with the same users and files.
  // The users are registered first, as they are for the watcher runs.
  const std::vector<double> direct = bench::StoreBaseline("Bench Printer", jobs);

  platform::sim::SimSpooler memory;
  const std::vector<double> inMemory = Measure(memory, jobs, pause);
  // The second spooler numbers its jobs from 1 again: the first run's
  // mark of the printer would count them as logged already.
  fs::remove_all(folder.App() / "Logs" / "Marks");
  platform::sim::SimSpooler spoolFolder(folder.Root() / "spool");
  const std::vector<double> inFolder = Measure(spoolFolder, jobs, pause);

  const Figures base = Summarise(direct);
  const Figures mem = Summarise(inMemory);
  const Figures fold = Summarise(inFolder);
  std::printf("watcher latency, job leaving the queue to its last record on disk (%d jobs, pause %lld ms)\n",
              jobs, static_cast<long long>(pause.count()));
  std::printf("%-34s %12s %12s\n", "", "median us", "95th pct us");
  std::printf("%-34s %12.1f %12.1f\n", "baseline: one JobLogStore::log", base.median, base.p95);
  std::printf("%-34s %12.1f %12.1f\n", "watcher, in-memory spooler", mem.median, mem.p95);
  std::printf("%-34s %12.1f %12.1f\n", "watcher, spool folder", fold.median, fold.p95);
  std::printf("ratio to baseline (median): in-memory %.2f, spool folder %.2f\n", mem.median / base.median,
              fold.median / base.median);
  std::printf("ratio to baseline (95th):   in-memory %.2f, spool folder %.2f\n", mem.p95 / base.p95,
              fold.p95 / base.p95);
  return 0;
}
