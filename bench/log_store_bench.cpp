// Logs 20,000 jobs for 3 printers and 1,000 users into a fresh application
// folder and prints the rate, and the time per record of the last 1,000
// records against the first 1,000: what is already in the log files and
// the catalogue must not slow a record down.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/catalogue_file.h"
#include "common/text_file.h"
#include "engine/job_log_store.h"
#include "engine/job_mark_store.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  const int jobs = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int users = 1000, printers = 3, window = 1000;

  std::vector<common::ChosenPrinter> chosen;
  for (int p = 0; p < printers; ++p) chosen.push_back({"Printer " + std::to_string(p), "5"});
  const bench::BenchFolder folder(chosen);

  engine::JobLogStore store;
  std::vector<double> perRecord(static_cast<std::size_t>(jobs));
  const auto start = Clock::now();
  for (int i = 0; i < jobs; ++i) {
    const auto t0 = Clock::now();
    store.Log(8, 12, 2026, 9, 30, "Document " + std::to_string(i) + ".pdf", 3, "5",
              "Printer " + std::to_string(i % printers), "user" + std::to_string(i % users));
    perRecord[static_cast<std::size_t>(i)] =
        std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    if ((i + 1) % 5000 == 0) std::fprintf(stderr, "  %d records logged\n", i + 1);
  }
  const double total = std::chrono::duration<double>(Clock::now() - start).count();

  auto mean = [&](int from, int count) {
    double s = 0;
    for (int i = from; i < from + count; ++i) s += perRecord[static_cast<std::size_t>(i)];
    return s / count;
  };
  const int w = jobs < 2 * window ? jobs / 2 : window;
  const double first = mean(0, w), last = mean(jobs - w, w);
  std::printf("log store: %d records, %d users, %d printers\n", jobs, users, printers);
  std::printf("records per second:           %.0f\n", jobs / total);
  std::printf("first %d records, us/record:  %.1f\n", w, first);
  std::printf("last %d records, us/record:   %.1f\n", w, last);
  std::printf("ratio last/first:             %.2f\n", last / first);
  // The first records also add their users to the catalogue (a flushed,
  // atomic rewrite each); against records that add no user the ratio shows
  // the cost of what is already on disk alone.
  if (jobs >= users + 2 * w) {
    const double settled = mean(users, w);
    std::printf("records %d-%d, us/record:   %.1f (users already known)\n", users + 1, users + w, settled);
    std::printf("ratio last/settled:           %.2f\n", last / settled);
  }

  // A watcher notes each job in its printer's mark before the record is
  // appended (with the record and its files) and after: the cost of that
  // against the same records without it, alternating so that both see the
  // same files.
  {
    engine::FileJobMarkStore marks;
    engine::JobMark mark;
    store.SetBeforeAppend([&](const engine::JobMark::Pending& pending) {
      mark.pending = pending;
      marks.NotePending("Printer 0", mark);
    });
    engine::JobLogStore plain, after;
    double with = 0, without = 0, onlyAfter = 0;
    const int rounds = w;
    for (int i = 0; i < rounds; ++i) {
      const std::string user = "user" + std::to_string(i % users);
      auto t0 = Clock::now();
      store.Log(8, 12, 2026, 9, 30, "Marked " + std::to_string(i), 3, "5", "Printer 0", user);
      mark.pending.reset();
      ++mark.sequence;
      mark.done.insert(static_cast<std::uint32_t>(i));
      marks.Save("Printer 0", mark);
      auto t1 = Clock::now();
      plain.Log(8, 12, 2026, 9, 30, "Plain " + std::to_string(i), 3, "5", "Printer 0", user);
      auto t2 = Clock::now();
      after.Log(8, 12, 2026, 9, 30, "After " + std::to_string(i), 3, "5", "Printer 0", user);
      marks.Save("Printer 1", mark);
      auto t3 = Clock::now();
      with += std::chrono::duration<double, std::micro>(t1 - t0).count();
      without += std::chrono::duration<double, std::micro>(t2 - t1).count();
      onlyAfter += std::chrono::duration<double, std::micro>(t3 - t2).count();
    }
    std::printf("with the mark noted before and after, us/record: %.1f\n", with / rounds);
    std::printf("without, us/record:                             %.1f\n", without / rounds);
    std::printf("with the mark saved after only, us/record:      %.1f\n", onlyAfter / rounds);
    std::printf("ratio with/without:                             %.2f\n", with / without);
    std::printf("ratio with/mark saved after only:               %.2f\n", with / onlyAfter);
  }

  return 0;
}
