#pragma once

#include <chrono>
#include <stop_token>

#include "platform/export.h"

namespace platform {

// Where the engine's time comes from, so that period, retention and
// midnight logic can be run at any date. Local time is the process's time
// zone (TZ), converted by the C library.
class QM_PLATFORM_API Clock {
 public:
  using time_point = std::chrono::system_clock::time_point;
  virtual ~Clock();

  virtual time_point Now() = 0;

  // Waits for `duration`, or until `stop` is requested. Returns true when
  // the full time passed, false when stopped.
  virtual bool SleepFor(std::chrono::milliseconds duration, std::stop_token stop) = 0;

  static Clock& Default();
  static Clock* SetDefault(Clock* clock);  // tests; returns the previous one
};

// Waits until `duration` passed or `stop` was requested (true: time passed).
QM_PLATFORM_API bool InterruptibleSleep(std::chrono::milliseconds duration, std::stop_token stop);

}  // namespace platform
