#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "engine/job_log_store.h"
#include "engine/worker_thread.h"

namespace platform {
class Spooler;
}

namespace engine {

class PrinterConnection;

struct WatcherTiming {
  // The pause after every wait; changes meanwhile come with the next fetch.
  std::chrono::milliseconds afterBatch{1000};
  // The pause before trying again when the printer cannot be opened.
  std::chrono::milliseconds retry{30000};
};

// Watches one printer and logs the jobs that leave its queue: waits for
// the spooler to report a deleted job, hands every finished job to its log
// store once, forgets it, and pauses before waiting again.
class PrinterWatcher : public WorkerThread {
 public:
  using Timing = WatcherTiming;

  // A null spooler stands for the process's spooler (platform::Spooler::
  // Default()), looked up when the watcher starts; a null store for the
  // engine's log store.
  explicit PrinterWatcher(platform::Spooler* spooler = nullptr, std::unique_ptr<JobLogStore> store = nullptr,
                          Timing timing = WatcherTiming{});
  ~PrinterWatcher() override;

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
  void logFinishedJobs(PrinterConnection& connection);

  platform::Spooler* spooler_;
  std::unique_ptr<JobLogStore> store_;
  Timing timing_;
  std::string printerName_;
  std::string costText_;
};

}  // namespace engine
