#pragma once

// A printer watcher on a simulated spooler, with a log store that keeps
// what it is given.

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/job_log_store.h"
#include "engine/printer_watcher.h"
#include "platform/sim/sim_spooler.h"
#include "tests/support/test_env.h"
#include "tests/support/time_zone.h"

namespace watcher_test {

struct Logged {
  int day = 0, month = 0, year = 0, hour = 0, minute = 0;
  std::string document;
  std::uint32_t pages = 0;
  std::string cost, printer, user;
};

class LogBook {
 public:
  void Add(Logged entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
    changed_.notify_all();
  }
  std::vector<Logged> Entries() {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  // Waits (up to a generous limit) until `count` records arrived.
  bool WaitFor(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return entries_.size() >= count; });
  }
  std::vector<std::string> Documents() {
    std::vector<std::string> out;
    for (const auto& e : Entries()) out.push_back(e.document);
    return out;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Logged> entries_;
};

class CapturingStore : public engine::JobLogStore {
 public:
  explicit CapturingStore(LogBook& book, std::function<void()> during = {})
      : book_(book), during_(std::move(during)) {}
  void Log(int day, int month, int year, int hour, int minute, std::string_view document,
           std::uint32_t totalPages, std::string_view costText, std::string_view printerName,
           std::string_view userName) override {
    if (during_) during_();
    book_.Add(Logged{day, month, year, hour, minute, std::string(document), totalPages, std::string(costText),
                     std::string(printerName), std::string(userName)});
  }

 private:
  LogBook& book_;
  std::function<void()> during_;
};

inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline platform::sim::SimJobSpec Job(std::optional<std::string> document, std::optional<std::string> user,
                                     std::uint32_t pages) {
  platform::sim::SimJobSpec spec;
  spec.document = std::move(document);
  spec.userName = std::move(user);
  spec.totalPages = pages;
  spec.submitted = platform::SpoolTime{2006, 3, 4, 9, 10, 20, 30, 0};
  return spec;
}

// One printer "Laser" in a simulated spooler, watched with cost text "5".
class WatchedPrinter {
 public:
  static constexpr const char* kPrinter = "Laser";

  explicit WatchedPrinter(engine::WatcherTiming timing = Fast(), std::function<void()> duringLog = {},
                          bool addPrinter = true) {
    if (addPrinter) sim.AddPrinter(kPrinter);
    watcher = std::make_unique<engine::PrinterWatcher>(
        &sim, std::make_unique<CapturingStore>(book, std::move(duringLog)), timing, marks);
    watcher->Configure(kPrinter, "5");
  }
  ~WatchedPrinter() { watcher->Stop(); }

  static engine::WatcherTiming Fast() {
    engine::WatcherTiming timing;
    timing.afterBatch = std::chrono::milliseconds(5);
    timing.retry = std::chrono::milliseconds(10);
    return timing;
  }

  // Starts the watcher and waits until it has registered and taken in the
  // queue.
  void Start() {
    watcher->Start();
    Ready();
  }
  bool Ready() {
    return WaitUntil([&] { return sim.Calls(platform::sim::SimCall::kEndedJobs) >= 1; });
  }
  // Waits until the watcher has fetched `more` further times.
  std::size_t Fetches() { return sim.Calls(platform::sim::SimCall::kFindNext); }
  bool WaitFetches(std::size_t atLeast) {
    return WaitUntil([&] { return Fetches() >= atLeast; });
  }

  platform::sim::SimSpooler sim;
  LogBook book;
  std::shared_ptr<engine::MemoryJobMarkStore> marks = std::make_shared<engine::MemoryJobMarkStore>();
  std::unique_ptr<engine::PrinterWatcher> watcher;
};

using testing_support::TimeZone;

}  // namespace watcher_test
