#include "engine/printer_connection.h"

#include <new>

#include "engine/eprinter.h"

namespace engine {

namespace {

platform::NotifyOptions WatcherOptions() {
  using namespace platform;
  NotifyOptions options;
  options.version = 2;
  // Fetches ask only for what changed since the previous one, which
  // includes the records of jobs that left the queue meanwhile; a complete
  // refresh is asked for only when the spooler had to drop changes.
  options.flags = 0;
  options.types.push_back({kJobNotifyType,
                           {kJobNotifyStatus, kJobNotifyStatusString, kJobNotifyDocument, kJobNotifyUserName,
                            kJobNotifyTotalPages, kJobNotifyPagesPrinted, kJobNotifySubmitted}});
  options.types.push_back({kPrinterNotifyType,
                           {kPrinterNotifyStatus, kPrinterNotifyCJobs, kPrinterNotifyPrinterName,
                            kPrinterNotifyServerName, kPrinterNotifyShareName}});
  return options;
}

}  // namespace

PrinterConnection::PrinterConnection(platform::Spooler& spooler, std::string_view printerName) {
  try {
    name_ = std::string(printerName);
    options_ = WatcherOptions();
  } catch (const std::bad_alloc&) {
    throw EPrinter(platform::kErrorNotEnoughMemory, "Couldn't create printer objects");
  }
  try {
    printer_ = spooler.OpenPrinter(name_);
  } catch (const platform::SpoolerError& e) {
    throw EPrinter(e.code(), "Couldn't open printer", e.Status());
  }
  if (!printer_) throw EPrinter(platform::kErrorInvalidHandle, "Couldn't open printer");
}

void PrinterConnection::RegisterChanges(std::uint32_t filter) {
  try {
    notification_ = printer_->FindFirstChangeNotification(filter, options_);
  } catch (const platform::SpoolerError& e) {
    throw EPrinter(e.code(), "Couldn't create a change notification object.", e.Status());
  }
  if (!notification_) {
    throw EPrinter(platform::kErrorInvalidHandle, "Couldn't create a change notification object.");
  }
}

std::size_t PrinterConnection::RefreshJobs() { return jobs_.Refresh(printer_.get(), 1); }

std::vector<platform::SpoolJob> PrinterConnection::EndedJobs() {
  try {
    return printer_->EndedJobs();
  } catch (const platform::SpoolerError& e) {
    throw EPrinter(e.code(), "Couldn't refresh the printer queue", e.Status());
  } catch (const std::bad_alloc&) {
    throw EPrinter(platform::kErrorNotEnoughMemory, "Couldn't refresh the printer queue");
  }
}

int PrinterConnection::Wait(std::uint32_t mask, std::chrono::milliseconds timeout, std::stop_token stop) {
  if (!notification_) throw EPrinter(EPrinter::kNoCode, "Must be created an change notification object.");
  for (;;) {
    if (notification_->Wait(timeout, stop) != platform::WaitResult::kSignalled) return 0;

    platform::NotifyInfo info;
    std::uint32_t changes = 0;
    bool discarded = false;
    try {
      changes = notification_->Next(&options_, &info);
      if (info.flags & platform::kNotifyInfoDiscarded) {
        // Too many changes: what was dropped is made up by a complete
        // refresh of the fields and an enumeration of the queue.
        discarded = true;
        platform::NotifyOptions refresh = options_;
        refresh.flags |= platform::kNotifyOptionsRefresh;
        changes |= notification_->Next(&refresh, &info);
      }
    } catch (const platform::SpoolerError& e) {
      throw EPrinter(e.code(), "", e.Status());
    }

    // The records go first, so that a job that came and went since the
    // previous fetch is known before the refresh finds it gone.
    for (const auto& record : info.records) jobs_.Apply(record);
    if ((changes & platform::kPrinterChangeDeleteJob) || discarded) jobs_.Refresh(printer_.get(), 1);

    if ((changes & mask) == mask) return 1;
  }
}

}  // namespace engine
