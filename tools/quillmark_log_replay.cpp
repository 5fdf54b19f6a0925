// quillmark-log-replay: feeds jobs through the engine's log store, and runs
// log retention passes, at clock readings a script gives, in an
// application folder. Every build of the engine writes the same files for
// the same script and time zone; the Windows build's tests run this tool
// on both builds and compare the folders byte for byte.
//
//   quillmark-log-replay FOLDER SCRIPT
//
// SCRIPT has one command per line, fields separated by '|', texts in
// Latin-1; a line that is empty or starts with '#' is skipped:
//
//   log|CLOCK|DAY|MONTH|YEAR|HOUR|MINUTE|DOCUMENT|PAGES|COST|PRINTER|USER
//   retain|CLOCK
//
// CLOCK is the engine's clock reading for the command, in seconds since
// 1970 (UTC); the day, month, year, hour and minute are the job's submitted
// time (local). The period files are chosen in the local time of the
// process's time zone (TZ). `retain` prints the number of files removed.
// FOLDER's settings.xml is the catalogue the log store reads.

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/app_folder.h"
#include "engine/job_log_store.h"
#include "engine/retention_thread.h"
#include "platform/clock.h"

namespace {

// The engine's clock stands at whatever reading the script gives last.
class ScriptClock final : public platform::Clock {
 public:
  time_point Now() override { return now_; }
  bool SleepFor(std::chrono::milliseconds duration, std::stop_token stop) override {
    if (stop.stop_requested()) return false;
    now_ += duration;
    return true;
  }
  void Set(long long seconds) { now_ = std::chrono::system_clock::time_point(std::chrono::seconds(seconds)); }

 private:
  time_point now_{};
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::string::size_type start = 0;
  for (;;) {
    const auto bar = line.find('|', start);
    fields.push_back(line.substr(start, bar - start));
    if (bar == std::string::npos) return fields;
    start = bar + 1;
  }
}

std::optional<long long> Number(std::string_view text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int Fail(int lineNumber, const std::string& message) {
  std::cerr << "quillmark-log-replay: line " << lineNumber << ": " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "Usage: quillmark-log-replay FOLDER SCRIPT\n";
    return 2;
  }
  std::ifstream script(argv[2], std::ios::binary);
  if (!script) {
    std::cerr << "quillmark-log-replay: cannot read " << argv[2] << "\n";
    return 1;
  }
  engine::SetAppFolder(argv[1]);
  ScriptClock clock;
  engine::JobLogStore store(clock);
  engine::RetentionThread retention(clock);

  std::string line;
  int lineNumber = 0;
  while (std::getline(script, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = Fields(line);
    const std::optional<long long> reading = f.size() > 1 ? Number(f[1]) : std::nullopt;
    if (!reading) return Fail(lineNumber, "no clock reading");
    clock.Set(*reading);
    if (f[0] == "log") {
      if (f.size() != 12) return Fail(lineNumber, "a log line has 12 fields");
      std::optional<long long> when[5];
      for (int i = 0; i < 5; ++i) {
        when[i] = Number(f[2 + i]);
        if (!when[i]) return Fail(lineNumber, "the submitted time is five numbers");
      }
      const std::optional<long long> pages = Number(f[8]);
      if (!pages || *pages < 0 || *pages > 0xFFFFFFFFLL) return Fail(lineNumber, "no page count");
      store.Log(static_cast<int>(*when[0]), static_cast<int>(*when[1]), static_cast<int>(*when[2]),
                static_cast<int>(*when[3]), static_cast<int>(*when[4]), f[7],
                static_cast<std::uint32_t>(*pages), f[9], f[10], f[11]);
    } else if (f[0] == "retain") {
      std::cout << "removed " << retention.RunPass() << "\n";
    } else {
      return Fail(lineNumber, "unknown command " + f[0]);
    }
  }
  return 0;
}
