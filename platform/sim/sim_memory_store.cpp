// The simulated spooler's store for one process: everything in memory,
// waits woken by a condition variable.

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "platform/sim/sim_store.h"

namespace platform::sim {

namespace {

unsigned char Fold(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  return c;
}

struct MemoryPrinter {
  PrinterEntry entry;
  QueueState queue;
};

class MemoryStore final : public Store {
 public:
  std::vector<PrinterEntry> Printers() override {
    std::lock_guard lock(mutex_);
    std::vector<PrinterEntry> out;
    for (const auto& printer : printers_) out.push_back(printer.entry);
    return out;
  }

  void AddPrinter(const PrinterEntry& printer) override {
    std::lock_guard lock(mutex_);
    if (MemoryPrinter* existing = Locate(printer.name)) {
      existing->entry.portName = printer.portName;
      existing->entry.connection = printer.connection;
      return;
    }
    printers_.push_back(MemoryPrinter{printer, QueueState{}});
  }

  bool RemovePrinter(std::string_view name) override {
    {
      std::lock_guard lock(mutex_);
      auto it = std::find_if(printers_.begin(), printers_.end(),
                             [&](const MemoryPrinter& p) { return SamePrinterName(p.entry.name, name); });
      if (it == printers_.end()) return false;
      printers_.erase(it);
    }
    changed_.notify_all();
    return true;
  }

  std::optional<std::string> DefaultPrinter() override {
    std::lock_guard lock(mutex_);
    return defaultPrinter_;
  }

  void SetDefaultPrinter(std::string_view name) override {
    std::lock_guard lock(mutex_);
    if (name.empty()) {
      defaultPrinter_.reset();
    } else {
      defaultPrinter_ = std::string(name);
    }
  }

  std::optional<PrinterEntry> FindPrinter(std::string_view name) override {
    std::lock_guard lock(mutex_);
    if (MemoryPrinter* printer = Locate(name)) return printer->entry;
    return std::nullopt;
  }

  bool Update(std::string_view name, const std::function<void(QueueState&)>& edit) override {
    struct Wake {
      std::condition_variable_any& cv;
      ~Wake() { cv.notify_all(); }
    };
    std::unique_lock lock(mutex_);
    MemoryPrinter* printer = Locate(name);
    if (!printer) return false;
    Wake wake{changed_};
    edit(printer->queue);
    return true;
  }

  std::optional<QueueState> Read(std::string_view name) override {
    std::lock_guard lock(mutex_);
    if (MemoryPrinter* printer = Locate(name)) return printer->queue;
    return std::nullopt;
  }

  WaitResult WaitFor(std::string_view name, const std::function<bool(const QueueState&)>& ready,
                     std::chrono::milliseconds timeout, std::stop_token stop) override {
    std::unique_lock lock(mutex_);
    auto check = [&] {
      MemoryPrinter* printer = Locate(name);
      return !printer || ready(printer->queue);
    };
    bool done;
    if (timeout == kInfinite) {
      done = changed_.wait(lock, stop, check);
    } else {
      done = changed_.wait_for(lock, stop, timeout, check);
    }
    if (done) return WaitResult::kSignalled;
    return stop.stop_requested() ? WaitResult::kStopped : WaitResult::kTimedOut;
  }

 private:
  MemoryPrinter* Locate(std::string_view name) {
    for (auto& printer : printers_) {
      if (SamePrinterName(printer.entry.name, name)) return &printer;
    }
    return nullptr;
  }

  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::vector<MemoryPrinter> printers_;
  std::optional<std::string> defaultPrinter_;
};

}  // namespace

bool SamePrinterName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::shared_ptr<Store> MakeMemoryStore() { return std::make_shared<MemoryStore>(); }

}  // namespace platform::sim
