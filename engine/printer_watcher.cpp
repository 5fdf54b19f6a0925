#include "engine/printer_watcher.h"

#include <exception>
#include <new>
#include <vector>

#include "engine/eprinter.h"
#include "engine/printer_connection.h"
#include "platform/clock.h"
#include "platform/spooler.h"

namespace engine {

PrinterWatcher::PrinterWatcher(platform::Spooler* spooler, std::unique_ptr<JobLogStore> store, Timing timing)
    : spooler_(spooler), store_(std::move(store)), timing_(timing) {
  if (!store_) store_ = std::make_unique<JobLogStore>();
}

PrinterWatcher::~PrinterWatcher() { stop(); }

std::unique_ptr<PrinterConnection> PrinterWatcher::connect() {
  try {
    platform::Spooler& spooler = spooler_ ? *spooler_ : platform::Spooler::Default();
    return std::make_unique<PrinterConnection>(spooler, printerName_);
  } catch (const EPrinter&) {
  } catch (const platform::SpoolerError&) {
    // No spooler to talk to yet.
  } catch (const std::bad_alloc&) {
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

  for (;;) {
    if (!connection->registered()) {
      // Registration is tried again on every pass until it works. Jobs
      // already in the queue are taken in once it does.
      try {
        connection->registerChanges(platform::kPrinterChangeJob);
        connection->refreshJobs();
      } catch (const EPrinter&) {
      }
    }
    try {
      if (connection->wait(platform::kPrinterChangeDeleteJob, platform::kInfinite, stop) == 1) {
        logFinishedJobs(*connection);
      }
    } catch (const EPrinter&) {
      // Discarded; the next pass starts afresh.
    }
    if (!clock.SleepFor(timing_.afterBatch, stop)) return 0;
  }
}

void PrinterWatcher::logFinishedJobs(PrinterConnection& connection) {
  // Every finished job is logged whole before the watcher looks at its stop
  // request again, then retired so that it is never logged a second time.
  std::vector<std::uint32_t> finished;
  for (std::size_t i = 0; i < connection.jobCount(); ++i) {
    PrintJob& job = connection.job(i);
    if (job.status != JobFinished) continue;
    finished.push_back(job.jobId);
    try {
      store_->log(job.submitted.day, job.submitted.month, job.submitted.year, job.submitted.hour,
                  job.submitted.minute, job.document.value_or(""), job.totalPages, costText_, connection.name(),
                  job.userName.value_or(""));
    } catch (const std::exception&) {
      // The store does not throw; should it, the job still counts as logged.
    }
  }
  for (std::uint32_t jobId : finished) connection.retireJob(jobId);
}

}  // namespace engine
