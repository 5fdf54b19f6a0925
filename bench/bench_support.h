#pragma once

// What the benchmarks share: a fresh application folder with a registry of
// its own, a log store that notes when each record is on disk, and the
// median and 95th percentile of a set of timings.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/catalogue_file.h"
#include "engine/app_folder.h"
#include "engine/job_log_store.h"
#include "platform/registry.h"

namespace bench {

// A temporary folder holding a file-backed registry, made the process's,
// and an application folder "app", made the engine's, whose catalogue
// monitors `printers`. Everything is removed on destruction.
class BenchFolder {
 public:
  explicit BenchFolder(const std::vector<common::ChosenPrinter>& printers = {}) {
    char tmpl[] = "/tmp/quillmark-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) throw std::runtime_error("cannot make a temporary folder");
    root_ = tmpl;
    registry_ = platform::MakeFileRegistry(root_ / "registry");
    platform::Registry::SetDefault(registry_.get());
    std::filesystem::create_directories(App());
    engine::SetAppFolder(App().string());
    if (!printers.empty()) common::ApplyMonitoredPrinters((App() / "settings.xml").string(), printers);
  }
  ~BenchFolder() {
    platform::Registry::SetDefault(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path App() const { return root_ / "app"; }

 private:
  std::filesystem::path root_;
  std::unique_ptr<platform::Registry> registry_;
};

// The real store, noting on `Clock` when each record is on disk.
template <class Clock>
class TimedStore : public engine::JobLogStore {
 public:
  void Log(int day, int month, int year, int hour, int minute, std::string_view document,
           std::uint32_t totalPages, std::string_view costText, std::string_view printerName,
           std::string_view userName) override {
    engine::JobLogStore::Log(day, month, year, hour, minute, document, totalPages, costText, printerName,
                             userName);
    std::lock_guard lock(mutex_);
    done_.push_back(Clock::now());
    changed_.notify_all();
  }
  // Waits until `count` records were written; the time the last one was.
  // False when they were not within 30 s.
  bool WaitFor(std::size_t count, typename Clock::time_point& at) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(30), [&] { return done_.size() >= count; }))
      return false;
    at = done_[count - 1];
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<typename Clock::time_point> done_;
};

struct Figures {
  double median = 0;
  double p95 = 0;
};

inline Figures Summarise(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) {
    std::size_t i = static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[std::min(i, samples.size() - 1)];
  };
  return Figures{at(0.5), at(0.95)};
}

template <class Rep, class Period>
double Micros(std::chrono::duration<Rep, Period> d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// The baseline of the latency benchmarks: the time, in microseconds, of
// each of `jobs` records written straight through the store for
// `printer`, by ten users registered beforehand (as they are for the runs
// measured against it).
inline std::vector<double> StoreBaseline(const std::string& printer, int jobs) {
  using Steady = std::chrono::steady_clock;
  engine::JobLogStore store;
  for (int u = 0; u < 10; ++u)
    store.Log(8, 12, 2026, 9, 30, "Warm-up", 1, "5", printer, "user" + std::to_string(u));
  std::vector<double> direct;
  for (int i = 0; i < jobs; ++i) {
    const auto t0 = Steady::now();
    store.Log(8, 12, 2026, 9, 30, "Baseline " + std::to_string(i) + ".pdf", 3, "5", printer,
              "user" + std::to_string(i % 10));
    direct.push_back(Micros(Steady::now() - t0));
  }
  return direct;
}

}  // namespace bench
