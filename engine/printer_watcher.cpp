#include "engine/printer_watcher.h"

#include <exception>
#include <new>
#include <set>
#include <vector>

#include "engine/catch_up.h"
#include "engine/eprinter.h"
#include "engine/printer_connection.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/spooler.h"

namespace engine {

PrinterWatcher::PrinterWatcher(platform::Spooler* spooler, std::unique_ptr<JobLogStore> store, Timing timing,
                               std::shared_ptr<JobMarkStore> marks)
    : spooler_(spooler), store_(std::move(store)), timing_(timing), marks_(std::move(marks)) {
  if (!store_) store_ = std::make_unique<JobLogStore>();
  if (!marks_) marks_ = std::make_shared<FileJobMarkStore>();
}

PrinterWatcher::~PrinterWatcher() { Stop(); }

void PrinterWatcher::Suspend(time_point since) {
  Stop();
  if (printerName_.empty()) return;
  // The earliest pause holds until a catch-up has dealt with it. A printer
  // never watched has no mark: its first watch starts afresh anyway.
  std::optional<JobMark> mark = marks_->Load(printerName_);
  if (!mark || mark->paused) return;
  mark->paused = since;
  SaveMark(*mark);
}

std::unique_ptr<PrinterConnection> PrinterWatcher::Connect() {
  // Tried again every pass while it fails: logged when it starts failing
  // and when it works again.
  const std::string key = "open printer " + printerName_;
  const std::string what = "printer " + printerName_ + " not watched yet, tried again";
  try {
    platform::Spooler& spooler = spooler_ ? *spooler_ : platform::Spooler::Default();
    auto connection = std::make_unique<PrinterConnection>(spooler, printerName_);
    platform::LogRecovered(key, "opening printer " + printerName_);
    return connection;
  } catch (const EPrinter& e) {
    platform::LogFailureOnce(key, what, e.Why());
  } catch (const platform::SpoolerError& e) {
    // No spooler to talk to yet.
    platform::LogFailureOnce(key, what, e.Status());
  } catch (const std::bad_alloc&) {
    platform::LogFailureOnce(key, what, platform::Status(platform::StatusCode::kIoError, "out of memory"));
  }
  return nullptr;
}

std::uint32_t PrinterWatcher::Run(std::int32_t, std::stop_token stop) {
  platform::Clock& clock = platform::Clock::Default();

  // A printer that cannot be opened is tried again after a pause, until
  // the watcher is stopped; the missing connection is never used.
  std::unique_ptr<PrinterConnection> connection = Connect();
  while (!connection) {
    if (!clock.SleepFor(timing_.retry, stop)) return 0;
    connection = Connect();
  }

  mark_.reset();
  bool caughtUp = false;
  for (;;) {
    if (!caughtUp) {
      // Registration, then the catch-up, are tried again on every pass
      // until they work: from the registration on every job that ends is
      // reported, the jobs in the queue are taken in, and what ended before
      // is in the spooler's history.
      try {
        if (!connection->Registered()) connection->RegisterChanges(platform::kPrinterChangeJob);
        caughtUp = CatchUp(*connection, stop);
        if (!caughtUp && stop.stop_requested()) return 0;
        if (caughtUp)
          platform::LogRecovered("catch up " + printerName_, "catching up on printer " + printerName_);
      } catch (const EPrinter& e) {
        platform::LogFailureOnce("catch up " + printerName_,
                                 "printer " + printerName_ + " not caught up yet, tried again", e.Why());
      }
    }
    try {
      // Until the catch-up has worked, the wait ends in time to try again.
      const auto timeout = caughtUp ? timing_.historyCheck : timing_.retry;
      const bool deleted = connection->Wait(platform::kPrinterChangeDeleteJob, timeout, stop) == 1;
      if (stop.stop_requested() && !deleted) return 0;
      if (deleted) LogFinishedJobs(*connection);
      if (stop.stop_requested()) return 0;
      if (caughtUp) {
        // The history read again moves the mark on, and takes the jobs
        // that ended unreported; a job the refresh of the queue found
        // ended, and the history does not hold, is logged from the queue.
        if (!CatchUp(*connection, stop)) return 0;
        LogFinishedJobs(*connection);
      }
      platform::LogRecovered("wait " + printerName_, "watching printer " + printerName_);
    } catch (const EPrinter& e) {
      // Discarded; the next pass starts afresh.
      platform::LogFailureOnce("wait " + printerName_,
                               "changes of printer " + printerName_ + " not read, tried again", e.Why());
    }
    if (!clock.SleepFor(timing_.afterBatch, stop)) return 0;
  }
}

void PrinterWatcher::SaveMark(const JobMark& mark) {
  // A store that cannot save says why in the log.
  marks_->Save(printerName_, mark);
}

void PrinterWatcher::LogJob(const PrintJob& job, const std::string& printerName, JobMark* mark) {
  if (mark) {
    store_->SetBeforeAppend([&](const JobMark::Pending& pending) {
      mark->pending = pending;
      mark->pending->jobId = job.jobId;
      // A store that cannot note it says why in the log.
      marks_->NotePending(printerName_, *mark);
      mark->pending.reset();
    });
  }
  try {
    store_->Log(job.submitted.day, job.submitted.month, job.submitted.year, job.submitted.hour,
                job.submitted.minute, job.document.value_or(""), job.totalPages, costText_, printerName,
                job.userName.value_or(""));
  } catch (const std::exception& e) {
    // The store does not throw; should it, the job still counts as logged.
    platform::LogWarning("printer " + printerName_ + ": job " + std::to_string(job.jobId) +
                         " not logged: " + e.what());
  }
  store_->SetBeforeAppend({});
  platform::LogDebug("printer " + printerName_ + ": logged job " + std::to_string(job.jobId));
  if (mark) {
    MarkLogged(*mark, job.jobId);
    SaveMark(*mark);
  }
}

bool PrinterWatcher::CatchUp(PrinterConnection& connection, std::stop_token stop) {
  platform::Clock& clock = platform::Clock::Default();
  auto queuedIds = [&] {
    std::set<std::uint32_t> ids;
    for (std::size_t i = 0; i < connection.JobCount(); ++i) {
      if (connection.Job(i).status != JobFinished) ids.insert(connection.Job(i).jobId);
    }
    return ids;
  };
  std::optional<JobMark> old = mark_ ? mark_ : marks_->Load(printerName_);
  if (old && old->pending) {
    // The engine ended while it appended this job's record: it is
    // completed where it is missing, and the job counts as logged.
    platform::LogWarning("printer " + printerName_ + ": completing the record of job " +
                         std::to_string(old->pending->jobId) + ", cut short by the engine's end");
    JobLogStore::Complete(*old->pending);
    MarkLogged(*old, old->pending->jobId);
    SaveMark(*old);
  }
  const auto since = monitoringSince_.value_or(clock.Now());
  if (old && old->paused) {
    // Monitoring began again at `since`: noted before anything is logged,
    // so that a catch-up begun again later (after a crash or a reload,
    // when `since` says less) still passes over this spell alone.
    old->pauses.emplace_back(*old->paused, since);
    old->paused.reset();
    SaveMark(*old);
  }

  // The queue as taken in now, before the history is read: a job that
  // ends in between is in both, and is logged now rather than forgotten.
  connection.RefreshJobs();
  std::set<std::uint32_t> queued = queuedIds();
  std::vector<platform::SpoolJob> ended = connection.EndedJobs();
  const auto readAt = clock.Now();

  // Until the catch-up is over, the old mark stands, with the jobs logged
  // so far: an engine killed meanwhile logs none of them again. A printer
  // never watched has as mark what this catch-up will leave, with the
  // queued jobs that ended meanwhile still open until they are logged.
  JobMark progress;
  if (old) {
    progress = *old;
  } else {
    std::vector<platform::SpoolJob> before;
    for (const platform::SpoolJob& job : ended) {
      if (!queued.count(job.jobId)) before.push_back(job);
    }
    progress = MarkAfterCatchUp(std::nullopt, queued, before, readAt);
  }
  auto logEnded = [&](const platform::SpoolJob& job, JobMark& mark) {
    PrintJob copy;
    try {
      copy = PrintJob::FromSpooler(job);
    } catch (const std::bad_alloc&) {
      platform::LogWarning("printer " + printerName_ + ": out of memory, job " + std::to_string(job.jobId) +
                           " left for the next catch-up");
      return;
    }
    LogJob(copy, connection.Name(), &mark);
    connection.RetireJob(job.jobId);
  };

  const std::vector<platform::SpoolJob> missed = JobsToCatchUp(old, queued, ended, since);
  if (platform::DebugLogging() && !mark_) {
    auto ms = [](JobMark::time_point t) {
      return std::to_string(
          std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
    };
    std::string text = "printer " + printerName_ + ": catch-up from ";
    text += old ? FormatJobMark(*old) : std::string("no mark\n");
    text += "  monitored since " + ms(since) + ", " + std::to_string(queued.size()) + " queued, " +
            std::to_string(ended.size()) + " in the history, to log:";
    for (const auto& job : missed) text += " " + std::to_string(job.jobId);
    platform::LogDebug(text);
  }
  for (const platform::SpoolJob& job : missed) {
    // A watcher stopped (monitoring switched off, the catalogue reloaded,
    // the engine ending) stops between two jobs: the mark has every job
    // logged so far, the next catch-up takes the others, and none that
    // ends after the switch is logged now.
    if (stop.stop_requested()) {
      platform::LogDebug("printer " + printerName_ + ": catch-up stopped before job " +
                         std::to_string(job.jobId));
      return false;
    }
    if (!connection.Retired(job.jobId)) logEnded(job, progress);
  }
  // Every job of the history has been dealt with, logged now or before.
  std::set<std::uint32_t> dealt;
  for (const platform::SpoolJob& job : ended) {
    dealt.insert(job.jobId);
    connection.RetireJob(job.jobId);
  }

  // Jobs that came after the queue was taken in may have lower ids than
  // some in the history (when a later one was cancelled at once): the queue
  // is taken in again, so that the mark keeps them open.
  connection.RefreshJobs();
  std::set<std::uint32_t> later = queuedIds();
  queued.insert(later.begin(), later.end());
  JobMark mark = MarkAfterCatchUp(progress, queued, ended, readAt);

  // A job under the mark that ended between the history and the second
  // look at the queue is in neither: the history, read again, has it.
  for (const platform::SpoolJob& job : connection.EndedJobs()) {
    if (dealt.count(job.jobId) || later.count(job.jobId) || job.jobId > mark.highest) continue;
    if (mark.done.count(job.jobId)) continue;
    if (stop.stop_requested()) {
      // Kept open for the next catch-up, with the mark as it stood.
      return false;
    }
    if (!connection.Retired(job.jobId)) logEnded(job, mark);
    connection.RetireJob(job.jobId);
    mark.open.erase(job.jobId);
  }
  mark_ = mark;
  SaveMark(*mark_);
  platform::LogDebug("catch-up of printer " + printerName_ + " done: " + std::to_string(ended.size()) +
                     " ended jobs in the history, every job up to " + std::to_string(mark.highest) +
                     " dealt with");
  return true;
}

void PrinterWatcher::LogFinishedJobs(PrinterConnection& connection) {
  // Every finished job is logged whole before the watcher looks at its stop
  // request again, then retired so that it is never logged a second time,
  // and noted in the mark, so that an engine killed in the middle of a
  // batch repeats none.
  std::set<std::uint32_t> finished;
  for (std::size_t i = 0; i < connection.JobCount(); ++i) {
    PrintJob& job = connection.Job(i);
    if (job.status != JobFinished) continue;
    finished.insert(job.jobId);
    if (mark_ && mark_->done.count(job.jobId)) continue;
    LogJob(job, connection.Name(), mark_ ? &*mark_ : nullptr);
  }
  for (std::uint32_t jobId : finished) connection.RetireJob(jobId);
}

}  // namespace engine
