#include "platform/clock.h"

#include <condition_variable>
#include <mutex>

namespace platform {

Clock::~Clock() = default;

bool InterruptibleSleep(std::chrono::milliseconds duration, std::stop_token stop) {
  std::mutex mutex;
  std::condition_variable_any cv;
  std::unique_lock lock(mutex);
  return !cv.wait_for(lock, stop, duration, [] { return false; }) && !stop.stop_requested();
}

namespace {

class SystemClock final : public Clock {
 public:
  time_point Now() override { return std::chrono::system_clock::now(); }
  bool SleepFor(std::chrono::milliseconds duration, std::stop_token stop) override {
    return InterruptibleSleep(duration, stop);
  }
};

Clock* g_override = nullptr;

}  // namespace

Clock& Clock::Default() {
  if (g_override) return *g_override;
  static SystemClock clock;
  return clock;
}

Clock* Clock::SetDefault(Clock* clock) {
  Clock* old = g_override;
  g_override = clock;
  return old;
}

}  // namespace platform
