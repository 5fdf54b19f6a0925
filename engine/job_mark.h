#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace engine {

// What a printer's watcher has logged, kept on disk so that a watcher that
// starts again (engine start, crash, catalogue reload, monitoring switched
// back on) logs exactly the jobs that ended meanwhile.
//
// Job ids of one queue grow with every job submitted. At the moment the
// mark was last brought up to date, every ended job with an id up to
// `highest` had been logged (or deliberately passed over), except those in
// `open`, which were still queued then. So an ended job is new when its id
// is above `highest` or in `open`. A print server whose history was
// cleared starts its ids again from 1; a job that ended after `updated`
// cannot have been looked at either, whatever its id.
struct JobMark {
  using time_point = std::chrono::system_clock::time_point;

  std::uint32_t highest = 0;
  std::set<std::uint32_t> open;
  time_point updated{};
  // Set while the printer is not monitored: when monitoring stopped. Jobs
  // that end from then until monitoring starts again are not logged.
  std::optional<time_point> paused;
  // Jobs logged by a catch-up that has not finished yet: should the engine
  // end before it has, the next one leaves them out.
  std::set<std::uint32_t> done;

  friend bool operator==(const JobMark&, const JobMark&) = default;
};

// The text of a mark, and back; nothing for a text that is not a mark.
//
//   quillmark-mark 1
//   highest <id>
//   open <id> <id> ...
//   updated <milliseconds since 1970, UTC>
//   paused <milliseconds since 1970, UTC>      (only while paused)
//   done <id> <id> ...                         (only during a catch-up)
std::string FormatJobMark(const JobMark& mark);
std::optional<JobMark> ParseJobMark(std::string_view text);

}  // namespace engine
