#pragma once

#include <chrono>
#include <memory>
#include <optional>
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
};

// Watches one printer and logs the jobs that leave its queue: waits for
// the spooler to report a deleted job, hands every finished job to its log
// store once, forgets it, and pauses before waiting again.
//
// It keeps the printer's mark (job_mark.h) up to date with every job it
// logs. When it starts, after registering for changes, it first logs the
// jobs that ended since the mark, from the spooler's history, so that no
// job is lost while no watcher ran (engine stopped or crashed, catalogue
// reloaded, monitoring switched off and on).
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
  void setMonitoringSince(time_point since) { monitoringSince_ = since; }

  // Stops the watcher because its printer is no longer monitored from
  // `since` on: the mark remembers it, so the jobs that end until
  // monitoring begins again are never logged.
  void suspend(time_point since);

  // Written only by the control thread while the watcher is stopped.
  void configure(std::string printerName, std::string costText) {
    printerName_ = std::move(printerName);
    costText_ = std::move(costText);
  }
  const std::string& printerName() const { return printerName_; }
  const std::string& costText() const { return costText_; }

 protected:
  std::uint32_t run(std::int32_t parameter, std::stop_token stop) override;

 private:
  std::unique_ptr<PrinterConnection> connect();
  void catchUp(PrinterConnection& connection);
  void logFinishedJobs(PrinterConnection& connection);
  void logJob(const PrintJob& job, const std::string& printerName);

  platform::Spooler* spooler_;
  std::unique_ptr<JobLogStore> store_;
  Timing timing_;
  std::shared_ptr<JobMarkStore> marks_;
  std::optional<time_point> monitoringSince_;
  // The mark as last saved by the running body; empty until its catch-up.
  std::optional<JobMark> mark_;
  std::string printerName_;
  std::string costText_;
};

}  // namespace engine
