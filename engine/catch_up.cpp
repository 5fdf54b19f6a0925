#include "engine/catch_up.h"

#include <algorithm>

namespace engine {
namespace {

bool Known(const platform::SpoolTime& time) { return time != platform::SpoolTime{}; }

}  // namespace

std::vector<platform::SpoolJob> JobsToCatchUp(const std::optional<JobMark>& mark,
                                              const std::set<std::uint32_t>& queued,
                                              const std::vector<platform::SpoolJob>& ended,
                                              JobMark::time_point monitoringSince) {
  std::vector<platform::SpoolJob> out;
  for (const platform::SpoolJob& job : ended) {
    // Logged already, whatever its id says.
    if (mark && mark->done.count(job.jobId)) continue;
    // A job found queued ended since the watcher started.
    if (queued.count(job.jobId)) {
      out.push_back(job);
      continue;
    }
    if (!mark) continue;
    const bool timed = Known(job.completed);
    const auto completed = timed ? platform::FromSpoolTime(job.completed) : JobMark::time_point{};
    const bool fresh = job.jobId > mark->highest || mark->open.count(job.jobId) != 0 ||
                       (timed && completed > mark->updated + kMarkClockSlack);
    if (!fresh) continue;
    // Ended while the printer was not monitored. A job whose end time the
    // spooler does not tell is logged: it was not seen ending.
    // An end time on a whole second may have been cut down to it.
    const bool coarse = timed && completed.time_since_epoch() % kEndTimeResolution ==
                                     decltype(completed.time_since_epoch()){};
    const auto latestEnd = coarse ? completed + kEndTimeResolution : completed;
    auto within = [&](JobMark::time_point from, JobMark::time_point until) {
      return timed && completed > from + kPauseSlack && latestEnd <= until;
    };
    if (mark->paused && within(*mark->paused, monitoringSince)) continue;
    if (std::any_of(mark->pauses.begin(), mark->pauses.end(),
                    [&](const auto& spell) { return within(spell.first, spell.second); }))
      continue;
    out.push_back(job);
  }
  std::sort(out.begin(), out.end(),
            [](const platform::SpoolJob& a, const platform::SpoolJob& b) { return a.jobId < b.jobId; });
  return out;
}

JobMark MarkAfterCatchUp(const std::optional<JobMark>& mark, const std::set<std::uint32_t>& queued,
                         const std::vector<platform::SpoolJob>& ended, JobMark::time_point now) {
  JobMark next;
  next.highest = mark ? mark->highest : 0;
  next.sequence = mark ? mark->sequence : 0;
  std::set<std::uint32_t> gone;
  for (const platform::SpoolJob& job : ended) {
    gone.insert(job.jobId);
    next.highest = std::max(next.highest, job.jobId);
  }
  for (std::uint32_t id : queued) {
    next.highest = std::max(next.highest, id);
    if (!gone.count(id)) next.open.insert(id);
  }
  // Jobs logged that the history no longer covers (a spooler without
  // one, or one that dropped them): still never to be logged again.
  if (mark) {
    for (std::uint32_t id : mark->done) {
      if (id > next.highest || next.open.count(id)) next.done.insert(id);
    }
  }
  next.updated = now;
  return next;
}

void MarkLogged(JobMark& mark, std::uint32_t jobId) {
  mark.done.insert(jobId);
  mark.pending.reset();
  ++mark.sequence;
}

}  // namespace engine
