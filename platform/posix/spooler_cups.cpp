// The spooler through CUPS: printers are the scheduler's queues, jobs come
// from Get-Jobs, change notifications from a printer subscription (see
// cups_change_notification.h).
//
// A job's name and owner are private to its owner and to administrators
// (the scheduler's JobPrivateValues): a process that is neither root nor
// in the administrators' group sees them absent.

#include <cups/cups.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/latin1.h"
#include "platform/posix/cups_change_notification.h"
#include "platform/posix/cups_ipp.h"
#include "platform/posix/cups_job_tracker.h"
#include "platform/spooler.h"

namespace platform {

namespace {

using cups::Connection;
using cups::Ipp;

struct DestsDeleter {
  int count = 0;
  void operator()(cups_dest_t* dests) const noexcept { cupsFreeDests(count, dests); }
};

class CupsPrinter final : public SpoolPrinter {
 public:
  explicit CupsPrinter(std::string name) : name_(std::move(name)), uri_(cups::PrinterUri(name_)) {
    Ipp request = Connection::NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, uri_);
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "printer-name");
    connection_.Do(std::move(request), kErrorInvalidPrinterName);
  }

  const std::string& Name() const override { return name_; }

  // The queue as the scheduler lists it, followed by the jobs that have
  // ended but whose end the notification has not reported yet.
  std::uint32_t JobCount() override { return static_cast<std::uint32_t>(List().size()); }

  std::vector<SpoolJob> EnumJobs(std::uint32_t firstJob, std::uint32_t count) override {
    std::vector<SpoolJob> all = List();
    std::vector<SpoolJob> jobs;
    for (std::size_t i = firstJob; i < all.size() && jobs.size() < count; ++i) {
      jobs.push_back(std::move(all[i]));
    }
    return jobs;
  }

  // The scheduler's job history (PreserveJobHistory): the ended jobs it
  // still keeps, with their final values.
  std::vector<SpoolJob> EndedJobs() override {
    std::vector<SpoolJob> jobs;
    for (cups::CupsJob& job : cups::EndedJobs(connection_, uri_)) jobs.push_back(std::move(job.job));
    return jobs;
  }

  std::unique_ptr<ChangeNotification> FindFirstChangeNotification(std::uint32_t filter,
                                                                  const NotifyOptions& options) override {
    auto tracker = std::make_shared<cups::JobTracker>();
    auto notification = std::make_unique<cups::CupsChangeNotification>(name_, filter, options, tracker);
    tracker_ = std::move(tracker);
    return notification;
  }

 private:
  std::vector<SpoolJob> List() {
    std::vector<cups::CupsJob> queue = cups::QueuedJobs(connection_, uri_);
    std::vector<SpoolJob> jobs;
    std::set<std::uint32_t> listed;
    for (cups::CupsJob& job : queue) {
      listed.insert(job.job.jobId);
      jobs.push_back(std::move(job.job));
    }
    if (!tracker_) return jobs;
    std::lock_guard lock(tracker_->mutex);
    if (!tracker_->active) return jobs;
    for (const SpoolJob& job : jobs) tracker_->tracked[job.jobId] = job;
    const auto& due = tracker_->deletionDue;
    for (const auto& [id, job] : tracker_->tracked) {
      if (!listed.count(id) && std::find(due.begin(), due.end(), id) == due.end()) {
        jobs.push_back(job);
      }
    }
    return jobs;
  }

  Connection connection_;
  std::string name_;  // Latin-1, as opened
  std::string uri_;
  // Shared with the latest change notification registered here.
  std::shared_ptr<cups::JobTracker> tracker_;
};

class CupsSpooler final : public Spooler {
 public:
  std::unique_ptr<SpoolPrinter> OpenPrinter(std::string_view name) override {
    if (name.empty()) throw SpoolerError(kErrorInvalidPrinterName, "no printer name");
    return std::make_unique<CupsPrinter>(std::string(name));
  }

  std::vector<InstalledPrinter> EnumPrinters() override {
    Connection connection;
    cups_dest_t* raw = nullptr;
    int count = cupsGetDests2(connection.Http(), &raw);
    std::unique_ptr<cups_dest_t, DestsDeleter> dests(raw, DestsDeleter{count});
    if (count == 0 && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE &&
        cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
      throw SpoolerError(kErrorServerUnavailable, cupsLastErrorString());
    }
    std::vector<InstalledPrinter> printers;
    for (int i = 0; i < count; ++i) {
      const cups_dest_t& dest = raw[i];
      if (dest.instance) continue;  // a saved set of options, not a queue
      InstalledPrinter printer;
      printer.name = platform::Utf8ToLatin1(dest.name);
      const char* device = cupsGetOption("device-uri", dest.num_options, dest.options);
      if (!device) device = cupsGetOption("printer-uri-supported", dest.num_options, dest.options);
      if (device) printer.portName = platform::Utf8ToLatin1(device);
      const char* type = cupsGetOption("printer-type", dest.num_options, dest.options);
      printer.connection = type && (std::strtol(type, nullptr, 0) & CUPS_PRINTER_REMOTE) != 0;
      printers.push_back(std::move(printer));
    }
    return printers;
  }

  std::optional<std::string> DefaultPrinterName() override {
    Connection connection;
    // The user's default (lpoptions, LPDEST, PRINTER) before the server's.
    std::unique_ptr<cups_dest_t, DestsDeleter> dest(cupsGetNamedDest(connection.Http(), nullptr, nullptr),
                                                    DestsDeleter{1});
    if (!dest) return std::nullopt;
    return platform::Utf8ToLatin1(dest->name);
  }
};

}  // namespace

std::unique_ptr<Spooler> MakeCupsSpooler() { return std::make_unique<CupsSpooler>(); }

std::unique_ptr<Spooler> MakeSystemSpooler() { return MakeCupsSpooler(); }

}  // namespace platform
