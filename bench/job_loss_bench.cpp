// job_loss_bench [JOBS] [FAULTS]
//
// Runs the real host on a simulated spooler while JOBS jobs (default 200)
// leave a monitored queue, and injects FAULTS faults (default 3) of each
// kind: kill -9 of the host and a restart, a catalogue reload ("Reset"),
// and "Monitoring" switched off and on again. Then prints how many jobs
// ended in the spooler, how many of those ended while monitoring was on,
// and how many of them were logged once, lost or logged more than once,
// and how many that ended while it was off were logged anyway. The target
// is 0 lost, 0 duplicated, 0 logged while off.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "platform/registry.h"
#include "platform/sim/sim_spooler.h"
#include "tests/support/engine_host.h"

using common::QuillmarkValue;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

fs::path Beside(const char* program) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return (ec ? fs::path(".") : self.parent_path()) / program;
}

struct Job {
  std::string document;
  bool monitored = true;  // ended while monitoring was on
};

}  // namespace

int main(int argc, char** argv) {
  const int jobs = argc > 1 ? std::atoi(argv[1]) : 200;
  const int faults = argc > 2 ? std::atoi(argv[2]) : 3;
  if (jobs <= 0 || faults < 0) {
    std::fprintf(stderr, "usage: job_loss_bench [JOBS] [FAULTS]\n");
    return 2;
  }

  char tmpl[] = "/tmp/quillmark-job-loss-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  const fs::path scratch = tmpl;
  const fs::path app = scratch / "app", spool = scratch / "spool", registryRoot = scratch / "registry";
  fs::create_directories(app);
  auto registry = platform::MakeFileRegistry(registryRoot);
  platform::Registry::SetDefault(registry.get());
  CRegString(QuillmarkValue("AppPath")).Set(app.string());
  common::WriteTextFile((app / "settings.xml").string(),
                        "<log><printers><name>Bench</name><ID>1</ID><cost>1</cost><monitored>1</monitored>"
                        "</printers></log>");
  platform::sim::SimSpooler sim(spool);
  sim.AddPrinter("Bench");

  testing_support::EngineHost host(Beside("quillcore-host"), registryRoot, spool);
  if (!host.Start()) return 1;
  // The first watch starts from what is in the queue: wait for it.
  for (int i = 0; i < 2000 && !fs::exists(app / "Logs" / "Marks" / "Bench.mark"); ++i)
    std::this_thread::sleep_for(10ms);

  std::mutex switching;  // held by the feeder for one job, by a switch
  bool monitoring = true;
  std::vector<Job> ended;
  std::atomic<bool> done{false};
  std::jthread feeder([&] {
    for (int n = 0; n < jobs; ++n) {
      {
        std::lock_guard lock(switching);
        const std::string document = "job-" + std::to_string(n);
        sim.Edit("Bench", [&](platform::sim::SimQueue& q) {
          platform::sim::SimJobSpec spec;
          spec.document = document;
          spec.userName = "bench";
          spec.totalPages = 1 + n % 4;
          std::uint32_t id = q.Submit(spec);
          if (n % 6 == 5) {
            q.Cancel(id);
          } else {
            q.Complete(id);
          }
        });
        ended.push_back({document, monitoring});
      }
      std::this_thread::sleep_for(10ms);
    }
    done = true;
  });

  // The faults, spread over the run, one kind after the other.
  const auto spacing = std::chrono::milliseconds(10 * jobs / (3 * faults + 1));
  auto pause = [&] {
    if (!done) std::this_thread::sleep_for(spacing);
  };
  int kills = 0, resets = 0, switches = 0;
  for (int k = 0; k < faults; ++k) {
    pause();
    host.Kill();
    ++kills;
    std::this_thread::sleep_for(300ms);  // jobs end while no engine runs
    host.Start();
    pause();
    CRegDword(QuillmarkValue("Reset")).Set(1).Write();
    ++resets;
    pause();
    {
      std::lock_guard lock(switching);
      CRegDword(QuillmarkValue("Monitoring")).Set(0);
      monitoring = false;
      std::this_thread::sleep_for(100ms);  // clearly after the switch
    }
    std::this_thread::sleep_for(300ms);
    {
      std::lock_guard lock(switching);
      std::this_thread::sleep_for(50ms);  // clearly before the switch (change times are coarse)
      CRegDword(QuillmarkValue("Monitoring")).Set(1);
      monitoring = true;
    }
    ++switches;
  }
  feeder.join();

  // Everything that should be logged, and a while for doubles to show.
  std::size_t expected = 0;
  for (const Job& job : ended) expected += job.monitored;
  auto deadline = std::chrono::steady_clock::now() + 60s;
  for (;;) {
    auto logged = testing_support::LoggedDocuments(app);
    std::size_t found = 0;
    for (const Job& job : ended) found += job.monitored && logged.count(job.document);
    if (found == expected || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(50ms);
  }
  std::this_thread::sleep_for(1500ms);
  host.Stop();

  auto logged = testing_support::LoggedDocuments(app);
  std::size_t once = 0, lost = 0, duplicated = 0, whileOff = 0, offLogged = 0;
  std::string wrong;  // the documents of the jobs counted wrongly
  for (const Job& job : ended) {
    int count = logged.count(job.document) ? logged[job.document] : 0;
    if (!job.monitored) {
      ++whileOff;
      if (count > 0) {
        ++offLogged;
        wrong += " " + job.document + "(off)";
      }
      continue;
    }
    if (count == 1) ++once;
    if (count == 0) ++lost;
    if (count > 1) ++duplicated;
    if (count != 1) wrong += " " + job.document + "(" + std::to_string(count) + ")";
  }
  std::printf("job_loss_bench: %d jobs, faults injected: %d kill -9, %d Reset, %d Monitoring switches\n",
              jobs, kills, resets, switches);
  std::printf("  ended in the spooler:          %zu\n", ended.size());
  std::printf("  ended while monitoring was on: %zu\n", expected);
  std::printf("  logged once:                   %zu\n", once);
  std::printf("  lost:                          %zu\n", lost);
  std::printf("  duplicated:                    %zu\n", duplicated);
  std::printf("  ended while off, logged:       %zu of %zu\n", offLogged, whileOff);
  if (!wrong.empty()) std::printf("  wrongly counted:%s\n", wrong.c_str());
  std::printf("  %s\n", lost == 0 && duplicated == 0 && offLogged == 0 ? "target met" : "TARGET MISSED");

  platform::Registry::SetDefault(nullptr);
  std::error_code ec;
  fs::remove_all(scratch, ec);
  return lost == 0 && duplicated == 0 && offLogged == 0 ? 0 : 1;
}
