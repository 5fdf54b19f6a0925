#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "engine/printer_watcher.h"
#include "engine/worker_thread.h"

namespace engine {

// Steers the engine: every pass reads the registry switches, reloads the
// catalogue when asked to, and starts or stops the watchers, the retention
// thread and the report thread to match.
class ControlThread : public WorkerThread {
 public:
  static constexpr std::size_t kCapacity = 999;

  struct Options {
    std::chrono::milliseconds interval{std::chrono::seconds(20)};
    std::function<std::unique_ptr<PrinterWatcher>()> makeWatcher;
    std::function<std::unique_ptr<WorkerThread>()> makeRetention;
    std::function<std::unique_ptr<WorkerThread>()> makeReport;
    // Called at the end of every pass with the pass number (from 1).
    std::function<void(int)> afterPass;
  };

  ControlThread();
  explicit ControlThread(Options options);
  ~ControlThread() override { Stop(); }

 protected:
  std::uint32_t Run(std::int32_t parameter, std::stop_token stop) override;

 private:
  Options options_;
};

}  // namespace engine
