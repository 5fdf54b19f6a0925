#pragma once

#include <string>

#include "engine/worker_thread.h"

namespace engine {

// Watches one printer and logs the jobs that leave its queue.
class PrinterWatcher : public WorkerThread {
 public:
  ~PrinterWatcher() override { stop(); }

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
  std::string printerName_;
  std::string costText_;
};

}  // namespace engine
