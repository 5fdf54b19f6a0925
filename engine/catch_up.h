#pragma once

// Which ended jobs a watcher that starts has to log, and how its mark moves
// on. Nothing here talks to a spooler: the callers hand in what the
// spooler's history and queue hold, so the rules stay the same however a
// watcher learns of changes.

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "engine/job_mark.h"
#include "platform/spooler.h"

namespace engine {

// A job that ended up to this long after the mark was brought up to date
// is taken as looked at (the clocks of a print server and of the engine
// may differ a little, and some servers keep whole seconds).
inline constexpr std::chrono::seconds kMarkClockSlack{2};

// A job that ended this soon after monitoring was switched off counts as
// ended before: the registry's change times come from a coarse clock, and
// a job that ended just before the switch must never be lost.
inline constexpr std::chrono::milliseconds kPauseSlack{50};

// How coarse a spooler's end times may be: CUPS keeps whole seconds, cut
// down. A job whose end time is a whole second within this of the moment
// monitoring came back may have ended after it, and is logged rather than
// lost.
inline constexpr std::chrono::seconds kEndTimeResolution{1};

// The jobs of `ended` (a spooler's history) to log now, in id order, given
// the printer's mark and the jobs `queued` that the watcher found in the
// queue (listed before the history was read). Without a mark the printer
// was never watched, and nothing that ended before is logged. When the
// mark is paused, jobs that ended after the pause and up to
// `monitoringSince` are passed over.
std::vector<platform::SpoolJob> JobsToCatchUp(const std::optional<JobMark>& mark,
                                              const std::set<std::uint32_t>& queued,
                                              const std::vector<platform::SpoolJob>& ended,
                                              JobMark::time_point monitoringSince);

// The mark once the history has been caught up with: every ended job has
// been dealt with, and the jobs in `queued` (listed before the history was
// read) are still open, unless they are in the history too.
JobMark MarkAfterCatchUp(const std::optional<JobMark>& mark, const std::set<std::uint32_t>& queued,
                         const std::vector<platform::SpoolJob>& ended, JobMark::time_point now);

// Moves a mark on after the jobs `logged` were logged, while the watcher
// knows the jobs `queued` to be still in the queue. A job that was open
// and is neither is kept open: it is logged by a later catch-up if it
// turns out to have ended.
void AdvanceMark(JobMark& mark, const std::set<std::uint32_t>& logged, const std::set<std::uint32_t>& queued,
                 JobMark::time_point now);

}  // namespace engine
