#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "engine/job_log_store.h"
#include "engine/job_mark.h"
#include "engine/job_mark_store.h"
#include "engine/worker_thread.h"

namespace platform {
class Spooler;
}

namespace engine {

class PrinterConnection;
struct PrintJob;

struct WatcherTiming {
  // The pause after every wait; changes meanwhile come with the next fetch.
  std::chrono::milliseconds afterBatch{std::chrono::seconds(1)};
  // The pause before trying again when the printer cannot be opened.
  std::chrono::milliseconds retry{std::chrono::seconds(30)};
  // How long a watcher waits for changes before it reads the spooler's
  // history again by itself, so that a job whose end no change reported
  // is still logged.
  std::chrono::milliseconds historyCheck{std::chrono::seconds(45)};
};

// Watches one printer and logs the jobs that leave its queue: waits for
// the spooler to report a deleted job, hands every finished job to its log
// store once, forgets it, and pauses before waiting again.
//
// It keeps the printer's mark (job_mark.h) up to date with every job it
// logs. When it starts, after registering for changes, it first logs the
// jobs that ended since the mark, from the spooler's history, so that no
// job is lost while no watcher ran (engine stopped or crashed, catalogue
// reloaded, monitoring switched off and on). It reads the history again
// after every batch of jobs, and after each historyCheck without one:
// only then does the mark move on past the jobs the watcher has logged,
// and a job whose end it was not told of is logged then.
//
// Every job is noted in the mark before its record is appended and
// again once the record is in every file, so that a crash in between
// leaves the next watcher what it needs to complete the record.
class PrinterWatcher : public WorkerThread {
 public:
  using Timing = WatcherTiming;
  using time_point = JobMark::time_point;

  // A null spooler stands for the process's spooler (platform::Spooler::
  // Default()), looked up when the watcher starts; a null store for the
  // engine's log store; null marks for the mark files in the application
  // folder.
  explicit PrinterWatcher(platform::Spooler* spooler = nullptr, std::unique_ptr<JobLogStore> store = nullptr,
                          Timing timing = WatcherTiming{}, std::shared_ptr<JobMarkStore> marks = nullptr);
  ~PrinterWatcher() override;

  // When monitoring of the printer (last) began: the catch-up at the next
  // start passes over jobs that ended from the pause in the mark until
  // then. Written only while the watcher is stopped.
  void SetMonitoringSince(time_point since) { monitoringSince_ = since; }

  // Stops the watcher because its printer is no longer monitored from
  // `since` on: the mark remembers it, so the jobs that end until
  // monitoring begins again are never logged.
  void Suspend(time_point since);

  // Written only by the control thread while the watcher is stopped.
  void Configure(std::string printerName, std::string costText) {
    printerName_ = std::move(printerName);
    costText_ = std::move(costText);
  }
  const std::string& PrinterName() const { return printerName_; }
  const std::string& CostText() const { return costText_; }

 protected:
  std::uint32_t Run(std::int32_t parameter, std::stop_token stop) override;

 private:
  std::unique_ptr<PrinterConnection> Connect();
  // Logs the jobs of the spooler's history that the mark does not cover,
  // and brings the mark up to date. False when stopped before the end.
  bool CatchUp(PrinterConnection& connection, std::stop_token stop);
  void LogFinishedJobs(PrinterConnection& connection);
  // Logs one job and notes it in `mark`, which is saved before the record
  // is appended and after; without a mark (a printer never watched before
  // its first catch-up) the job is logged alone.
  void LogJob(const PrintJob& job, const std::string& printerName, JobMark* mark);
  void SaveMark(const JobMark& mark);

  platform::Spooler* spooler_;
  std::unique_ptr<JobLogStore> store_;
  Timing timing_;
  std::shared_ptr<JobMarkStore> marks_;
  std::optional<time_point> monitoringSince_;
  // The mark as last saved by the running body; empty until its first
  // catch-up.
  std::optional<JobMark> mark_;
  std::string printerName_;
  std::string costText_;
};

}  // namespace engine
