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

PrinterWatcher::~PrinterWatcher() { stop(); }

void PrinterWatcher::suspend(time_point since) {
  stop();
  if (printerName_.empty()) return;
  // The earliest pause holds until a catch-up has dealt with it. A printer
  // never watched has no mark: its first watch starts afresh anyway.
  std::optional<JobMark> mark = marks_->load(printerName_);
  if (!mark || mark->paused) return;
  mark->paused = since;
  marks_->save(printerName_, *mark);
}

std::unique_ptr<PrinterConnection> PrinterWatcher::connect() {
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
    platform::LogFailureOnce(key, what, e.why());
  } catch (const platform::SpoolerError& e) {
    // No spooler to talk to yet.
    platform::LogFailureOnce(key, what, e.status());
  } catch (const std::bad_alloc&) {
    platform::LogFailureOnce(key, what, platform::Status(platform::StatusCode::kIoError, "out of memory"));
  }
  return nullptr;
}

std::uint32_t PrinterWatcher::run(std::int32_t, std::stop_token stop) {
  platform::Clock& clock = platform::Clock::Default();

  // A printer that cannot be opened is tried again after a pause, until
  // the watcher is stopped; the missing connection is never used.
  std::unique_ptr<PrinterConnection> connection = connect();
  while (!connection) {
    if (!clock.SleepFor(timing_.retry, stop)) return 0;
    connection = connect();
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
        if (!connection->registered()) connection->registerChanges(platform::kPrinterChangeJob);
        connection->refreshJobs();
        catchUp(*connection);
        caughtUp = true;
        platform::LogRecovered("catch up " + printerName_, "catching up on printer " + printerName_);
      } catch (const EPrinter& e) {
        platform::LogFailureOnce("catch up " + printerName_,
                                 "printer " + printerName_ + " not caught up yet, tried again", e.why());
      }
    }
    try {
      // Until the catch-up has worked, the wait ends in time to try again.
      const auto timeout = caughtUp ? platform::kInfinite : timing_.retry;
      if (connection->wait(platform::kPrinterChangeDeleteJob, timeout, stop) == 1) {
        logFinishedJobs(*connection);
      }
      platform::LogRecovered("wait " + printerName_, "watching printer " + printerName_);
    } catch (const EPrinter& e) {
      // Discarded; the next pass starts afresh.
      platform::LogFailureOnce("wait " + printerName_, "changes of printer " + printerName_ + " not read, tried again",
                               e.why());
    }
    if (!clock.SleepFor(timing_.afterBatch, stop)) return 0;
  }
}

void PrinterWatcher::logJob(const PrintJob& job, const std::string& printerName) {
  try {
    store_->log(job.submitted.day, job.submitted.month, job.submitted.year, job.submitted.hour,
                job.submitted.minute, job.document.value_or(""), job.totalPages, costText_, printerName,
                job.userName.value_or(""));
  } catch (const std::exception& e) {
    // The store does not throw; should it, the job still counts as logged.
    platform::LogWarning("job " + std::to_string(job.jobId) + " of printer " + printerName + " not logged: " + e.what());
  }
}

void PrinterWatcher::catchUp(PrinterConnection& connection) {
  platform::Clock& clock = platform::Clock::Default();
  auto queuedIds = [&] {
    std::set<std::uint32_t> ids;
    for (std::size_t i = 0; i < connection.jobCount(); ++i) {
      if (connection.job(i).status != JobFinished) ids.insert(connection.job(i).jobId);
    }
    return ids;
  };
  std::optional<JobMark> old = marks_->load(printerName_);
  // Until the catch-up is over, the old mark stands, with the jobs logged
  // so far: an engine killed meanwhile logs none of them again.
  std::optional<JobMark> progress = old;
  auto logEnded = [&](const platform::SpoolJob& job) {
    PrintJob copy;
    try {
      copy = PrintJob::FromSpooler(job);
    } catch (const std::bad_alloc&) {
      platform::LogWarning("job " + std::to_string(job.jobId) + " of printer " + printerName_ +
                           " not caught up: out of memory");
      return;
    }
    logJob(copy, connection.name());
    connection.retireJob(job.jobId);
    if (progress) {
      progress->done.insert(job.jobId);
      marks_->save(printerName_, *progress);
    }
  };

  // The queue as just taken in, before the history is read: a job that
  // ends in between is in both, and is logged now rather than forgotten.
  std::set<std::uint32_t> queued = queuedIds();
  std::vector<platform::SpoolJob> ended = connection.endedJobs();
  const auto since = monitoringSince_.value_or(clock.Now());
  for (const platform::SpoolJob& job : JobsToCatchUp(old, queued, ended, since)) {
    if (!connection.retired(job.jobId)) logEnded(job);
  }
  // Every job of the history has been dealt with, logged now or before.
  std::set<std::uint32_t> dealt;
  for (const platform::SpoolJob& job : ended) {
    dealt.insert(job.jobId);
    connection.retireJob(job.jobId);
  }

  // Jobs that came after the queue was taken in may have lower ids than
  // some in the history (when a later one was cancelled at once): the queue
  // is taken in again, so that the mark keeps them open.
  connection.refreshJobs();
  std::set<std::uint32_t> later = queuedIds();
  queued.insert(later.begin(), later.end());
  JobMark mark = MarkAfterCatchUp(old, queued, ended, clock.Now());

  // A job under the mark that ended between the history and the second
  // look at the queue is in neither: the history, read again, has it.
  for (const platform::SpoolJob& job : connection.endedJobs()) {
    if (dealt.count(job.jobId) || later.count(job.jobId) || job.jobId > mark.highest) continue;
    if (!connection.retired(job.jobId)) logEnded(job);
    mark.open.erase(job.jobId);
  }
  mark_ = mark;
  marks_->save(printerName_, *mark_);
  platform::LogDebug("catch-up of printer " + printerName_ + " done: " + std::to_string(ended.size()) +
                     " ended jobs in the history, every job up to " + std::to_string(mark.highest) + " dealt with");
}

void PrinterWatcher::logFinishedJobs(PrinterConnection& connection) {
  // Every finished job is logged whole before the watcher looks at its stop
  // request again, then retired so that it is never logged a second time,
  // and the mark moved on past it.
  // The mark moves on with every job, the jobs not logged yet kept open,
  // so that an engine killed in the middle of a batch repeats none.
  std::set<std::uint32_t> finished;
  std::set<std::uint32_t> pending;
  for (std::size_t i = 0; i < connection.jobCount(); ++i) pending.insert(connection.job(i).jobId);
  for (std::size_t i = 0; i < connection.jobCount(); ++i) {
    PrintJob& job = connection.job(i);
    if (job.status != JobFinished) continue;
    finished.insert(job.jobId);
    logJob(job, connection.name());
    pending.erase(job.jobId);
    if (mark_) {
      AdvanceMark(*mark_, {job.jobId}, pending, platform::Clock::Default().Now());
      marks_->save(printerName_, *mark_);
    }
  }
  for (std::uint32_t jobId : finished) connection.retireJob(jobId);
}

}  // namespace engine
