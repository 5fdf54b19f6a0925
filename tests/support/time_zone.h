#pragma once

// The process time zone for tests: switched for one scope, and local times
// made in it.

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/local_time.h"
#include "tests/support/test_env.h"

namespace testing_support {

// Switches the process time zone (TZ) for the life of the object and puts
// the old one back, unset when it was unset.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    SetEnv("TZ", zone);
    ::tzset();
  }
  ~TimeZone() {
    if (saved_) {
      SetEnv("TZ", *saved_);
    } else {
      UnsetEnv("TZ");
    }
    ::tzset();
  }
  TimeZone(const TimeZone&) = delete;
  TimeZone& operator=(const TimeZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

// A local time in the current zone.
// Through the platform, not the C library's mktime: the Windows C runtime
// does not read the POSIX TZ rules the tests set.
inline std::time_t LocalTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return std::chrono::system_clock::to_time_t(
      platform::FromLocalTime(year, month, day, hour, minute, second));
}

}  // namespace testing_support
