#pragma once

// A spooler that exists only in software, with the notification behaviour
// of the Windows spooler: change words with one bit per kind of change,
// records for every registered field that changed (including those of jobs
// that have left the queue since the last fetch), a "discarded" flag when
// more changes piled up than are kept, and a complete refresh on request.
// Submitted times are UTC, in records and in enumerations.
//
// Kept in memory for one process (tests), or in a spool folder that every
// process opening it shares (the host and the quillmark-sim tool).
//
// Like a CUPS server, and unlike the Windows spooler, it keeps a history
// of the jobs that have left each queue (EndedJobs).
//
// Besides the spooler interface it lets a caller play the print server:
// add printers, submit jobs, print their pages, complete or cancel them, and
// make chosen spooler calls fail.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/export.h"
#include "platform/sim/sim_queue.h"
#include "platform/spooler.h"

namespace platform::sim {

class Store;

// The spooler calls that can be made to fail.
enum class SimCall { kOpenPrinter, kJobCount, kEnumJobs, kFindFirst, kFindNext, kEnumPrinters, kEndedJobs };

struct SimFaults;

class QM_PLATFORM_API SimSpooler final : public Spooler {
 public:
  // In this process only.
  SimSpooler();
  // In a spool folder, created when missing.
  explicit SimSpooler(std::filesystem::path folder);
  ~SimSpooler() override;

  // The spooler.
  std::unique_ptr<SpoolPrinter> OpenPrinter(std::string_view name) override;
  std::vector<InstalledPrinter> EnumPrinters() override;
  std::optional<std::string> DefaultPrinterName() override;

  // The print server.
  void AddPrinter(std::string_view name, std::string_view portName = {}, bool connection = false);
  bool RemovePrinter(std::string_view name);
  void SetDefaultPrinter(std::string_view name);  // empty: no default

  // Runs several edits on one queue at once: a registration fetches them
  // together or not at all. Unknown printers throw kErrorInvalidPrinterName.
  void Edit(std::string_view printer, const std::function<void(SimQueue&)>& edit);

  std::uint32_t Submit(std::string_view printer, const SimJobSpec& job);
  void SetStatus(std::string_view printer, std::uint32_t jobId, std::uint32_t status);
  void SetTotalPages(std::string_view printer, std::uint32_t jobId, std::uint32_t pages);
  void AdvancePages(std::string_view printer, std::uint32_t jobId, std::uint32_t pages);
  void Complete(std::string_view printer, std::uint32_t jobId);
  void Cancel(std::string_view printer, std::uint32_t jobId);
  std::vector<SpoolJob> Jobs(std::string_view printer);

  // Makes the next `times` calls of `call` through this spooler (and the
  // printers it opened) fail with `code`.
  void FailNext(SimCall call, std::int32_t code, int times = 1);
  // How often `call` was made through this spooler; a call counts once it
  // has returned or failed.
  std::size_t Calls(SimCall call);
  // More pending records than this make a fetch without refresh report
  // kNotifyInfoDiscarded.
  void SetPendingLimit(std::size_t records);

 private:
  std::shared_ptr<Store> store_;
  std::shared_ptr<SimFaults> faults_;
};

}  // namespace platform::sim
