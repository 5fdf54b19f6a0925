#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "engine/job_list.h"
#include "platform/spooler.h"

namespace engine {

// One watcher's link to its printer in the spooler: the open printer, the
// registration for change notifications, and the job list kept from them.
// Used by one thread only.
class PrinterConnection {
 public:
  // Opens the printer. Raises EPrinter ("Couldn't open printer").
  PrinterConnection(platform::Spooler& spooler, std::string_view printerName);
  PrinterConnection(const PrinterConnection&) = delete;
  PrinterConnection& operator=(const PrinterConnection&) = delete;

  // Registers for the changes of `filter`. Raises EPrinter ("Couldn't
  // create a change notification object.").
  void RegisterChanges(std::uint32_t filter);
  bool Registered() const { return notification_ != nullptr; }

  // Waits for changes and applies them to the job list until a fetch has
  // reported every change bit of `mask`; then returns 1, with the list just
  // refreshed when the mask holds the deleted-job bit. Returns 0 when the
  // wait timed out or `stop` was requested. Raises EPrinter.
  int Wait(std::uint32_t mask, std::chrono::milliseconds timeout, std::stop_token stop);

  // Takes in every job now in the queue and marks those that left it.
  std::size_t RefreshJobs();

  // The spooler's history of jobs that have left the queue (empty for a
  // spooler that keeps none). Raises EPrinter.
  std::vector<platform::SpoolJob> EndedJobs();
  bool Retired(std::uint32_t jobId) const { return jobs_.Retired(jobId); }

  std::size_t JobCount() const { return jobs_.Count(); }
  PrintJob& Job(std::size_t index) { return jobs_.At(index); }
  void RemoveJob(std::uint32_t jobId) { jobs_.Remove(jobId); }
  void RetireJob(std::uint32_t jobId) { jobs_.Retire(jobId); }
  const std::string& Name() const { return name_; }

  // The options registered and passed on every fetch.
  const platform::NotifyOptions& NotifyOptions() const { return options_; }

 private:
  // Destroyed in reverse order: the job list, then the notification, then
  // the printer.
  std::string name_;
  std::unique_ptr<platform::SpoolPrinter> printer_;
  std::unique_ptr<platform::ChangeNotification> notification_;
  platform::NotifyOptions options_;
  JobList jobs_;
};

}  // namespace engine
