#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/uuid.h"
#include "tests/support/test_env.h"
#include "tests/support/time_zone.h"

namespace mailtest {

// UUID texts 00000000-0000-0000-0000-000000000001, ...02, ... in order.
class CountingUuids final : public platform::UuidSource {
 public:
  CountingUuids() { previous_ = platform::UuidSource::SetDefault(this); }
  ~CountingUuids() override { platform::UuidSource::SetDefault(previous_); }
  std::string NewUuidText() override { return Nth(++count_); }
  static std::string Nth(int n) {
    char text[40];
    std::snprintf(text, sizeof text, "00000000-0000-0000-0000-%012d", n);
    return text;
  }

 private:
  int count_ = 0;
  platform::UuidSource* previous_ = nullptr;
};

class FixedClock final : public platform::Clock {
 public:
  explicit FixedClock(time_point now) : now_(now) { previous_ = platform::Clock::SetDefault(this); }
  ~FixedClock() override { platform::Clock::SetDefault(previous_); }
  time_point Now() override { return now_; }
  bool SleepFor(std::chrono::milliseconds, std::stop_token) override { return true; }

 private:
  time_point now_;
  platform::Clock* previous_ = nullptr;
};

using ScopedTimeZone = testing_support::TimeZone;

// A temporary folder removed with everything in it.
class TempFolder {
 public:
  TempFolder() { path_ = testing_support::MakeScratchFolder("quillmark-mime"); }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name, const std::string& bytes) const {
    std::string file = (path_ / name).string();
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline platform::Clock::time_point At(int y, unsigned mo, unsigned d, int h, int mi, int s) {
  using namespace std::chrono;
  return sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

}  // namespace mailtest
