#pragma once

// Where the simulated spooler keeps its printers and queues: in the
// process's memory, or in a spool folder that several processes share.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/sim_queue.h"
#include "platform/spooler.h"

namespace platform::sim {

struct PrinterEntry {
  std::string name;
  std::string portName;
  bool connection = false;
};

class Store {
 public:
  virtual ~Store() = default;

  virtual std::vector<PrinterEntry> Printers() = 0;
  // Adds a printer with an empty queue; an existing one keeps its queue and
  // takes the new port and connection flag.
  virtual void AddPrinter(const PrinterEntry& printer) = 0;
  virtual bool RemovePrinter(std::string_view name) = 0;
  virtual std::optional<std::string> DefaultPrinter() = 0;
  virtual void SetDefaultPrinter(std::string_view name) = 0;

  // The printer as it was added (its name as spelled then), found without
  // regard to case.
  virtual std::optional<PrinterEntry> FindPrinter(std::string_view name) = 0;

  // Runs `edit` on the queue under an exclusive lock, then stores the queue
  // and wakes the waiters, even when `edit` throws (what it did so far
  // stands). False when there is no such printer.
  virtual bool Update(std::string_view printer, const std::function<void(QueueState&)>& edit) = 0;

  // A copy of the queue; nothing when there is no such printer.
  virtual std::optional<QueueState> Read(std::string_view printer) = 0;

  // Waits until `ready` holds for the queue, `timeout` passed or `stop` was
  // requested. A printer that is removed counts as ready.
  virtual WaitResult WaitFor(std::string_view printer, const std::function<bool(const QueueState&)>& ready,
                             std::chrono::milliseconds timeout, std::stop_token stop) = 0;
};

std::shared_ptr<Store> MakeMemoryStore();
// A folder store is woken by a watch on the printer's folder when another
// process changes a queue; where the system gives no watch it looks this
// often instead.
inline constexpr std::chrono::milliseconds kFolderPollInterval{10};
std::shared_ptr<Store> MakeFolderStore(std::filesystem::path folder);

// Printer names compare without regard to case (ASCII and Latin-1 letters).
bool SamePrinterName(std::string_view a, std::string_view b);

}  // namespace platform::sim
