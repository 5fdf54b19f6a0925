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
// `monitoringSince` are passed over, and so are those that ended within
// one of the mark's earlier spells without monitoring.
std::vector<platform::SpoolJob> JobsToCatchUp(const std::optional<JobMark>& mark,
                                              const std::set<std::uint32_t>& queued,
                                              const std::vector<platform::SpoolJob>& ended,
                                              JobMark::time_point monitoringSince);

// The mark once the history has been caught up with: every ended job has
// been dealt with, and the jobs in `queued` (listed before the history was
// read) are still open, unless they are in the history too. `now` is taken
// once the history has been read. Jobs the old mark had logged stay
// `done` where the new `highest` and `open` do not cover them.
JobMark MarkAfterCatchUp(const std::optional<JobMark>& mark, const std::set<std::uint32_t>& queued,
                         const std::vector<platform::SpoolJob>& ended, JobMark::time_point now);

// Notes in a mark that a job has been logged (its record complete in every
// file). Only that: `highest` and `open` move on only when the history
// has been read again (MarkAfterCatchUp), since the jobs a watcher knows
// of while it runs need not be all those below the ids it logs (a job
// cancelled while held, say, is told of late or not at all), and a mark
// that claimed them would lose them to a crash.
void MarkLogged(JobMark& mark, std::uint32_t jobId);

}  // namespace engine
