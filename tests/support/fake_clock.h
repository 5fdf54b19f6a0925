#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

#include "platform/clock.h"
#include "tests/support/test_env.h"
#include "tests/support/time_zone.h"

namespace testing_support {

// A clock that stands still until told to move. Sleeps return at once and
// move the clock forward by the time slept, unless a stop was requested.
class FakeClock : public platform::Clock {
 public:
  explicit FakeClock(std::time_t start) : now_(std::chrono::system_clock::from_time_t(start)) {}

  time_point Now() override {
    std::lock_guard lock(mutex_);
    return now_;
  }
  bool SleepFor(std::chrono::milliseconds duration, std::stop_token stop) override {
    std::unique_lock lock(mutex_);
    ++sleeps_;
    slept_.notify_all();
    if (stop.stop_requested()) return false;
    if (holdSleeps_) {
      // Blocks until a stop request, so a test can look at one pass.
      std::condition_variable_any cv;
      cv.wait(lock, stop, [] { return false; });
      return false;
    }
    now_ += duration;
    return true;
  }
  void Set(std::time_t t) {
    std::lock_guard lock(mutex_);
    now_ = std::chrono::system_clock::from_time_t(t);
  }
  // Sleeps block until stopped instead of passing at once.
  void HoldSleeps() { holdSleeps_ = true; }
  // Waits until at least `n` sleeps began.
  void WaitForSleeps(int n) {
    std::unique_lock lock(mutex_);
    slept_.wait(lock, [&] { return sleeps_ >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable slept_;
  time_point now_;
  int sleeps_ = 0;
  bool holdSleeps_ = false;
};

}  // namespace testing_support
