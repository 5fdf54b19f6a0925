#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
  // How many jobs have been logged under this mark: a note of a record
  // being appended (`pending`) carries the number the job will have, so
  // a note older than the mark is told from one the mark never caught.
  std::uint64_t sequence = 0;
  // Set while the printer is not monitored: when monitoring stopped. Jobs
  // that end from then until monitoring starts again are not logged.
  std::optional<time_point> paused;
  // Earlier spells without monitoring, from the pause until monitoring
  // began again, whose jobs a catch-up that was cut short has not passed
  // over yet: the one in `paused` joins them when a catch-up begins, so
  // that it keeps its true end however often the catch-up is begun again.
  std::vector<std::pair<time_point, time_point>> pauses;
  // Jobs logged since `highest` and `open` were last brought up to date
  // from the spooler's history (by a catch-up, or by the watcher while it
  // runs): they are never logged again, whatever their ids.
  std::set<std::uint32_t> done;

  // A job whose record is being appended: written before the first file is
  // touched and cleared (the job moved to `done`) after the last, so that
  // after a crash in between the next watcher completes the job's record
  // in the files that lack it, neither losing nor repeating it.
  struct Pending {
    std::uint32_t jobId = 0;
    // The record as it is written to every file (text mode bytes).
    std::string record;
    struct Target {
      std::string path;  // the file, as the log store names it
      // Its size before the record, or nothing when it did not exist yet.
      std::optional<std::uint64_t> size;
      friend bool operator==(const Target&, const Target&) = default;
    };
    std::vector<Target> targets;
    friend bool operator==(const Pending&, const Pending&) = default;
  };
  std::optional<Pending> pending;

  friend bool operator==(const JobMark&, const JobMark&) = default;
};

// The text of a mark, and back; nothing for a text that is not a mark.
//
//   quillmark-mark 1
//   highest <id>
//   open <id> <id> ...
//   updated <milliseconds since 1970, UTC>
//   sequence <jobs logged>
//   paused <milliseconds since 1970, UTC>      (only while paused)
//   pause <from ms> <until ms>                 (spells a catch-up has yet to pass over)
//   done <id> <id> ...                         (jobs logged since the history was read)
//   pending <id> <record, hex>                 (only while a record is appended)
//   target <size before, or -> <path, hex>     (one a file, after "pending")
std::string FormatJobMark(const JobMark& mark);
std::optional<JobMark> ParseJobMark(std::string_view text);

}  // namespace engine
