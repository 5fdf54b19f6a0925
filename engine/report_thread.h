#pragma once

#include "engine/worker_thread.h"

namespace engine {

// Mails the previous day's log shortly after every local midnight.
class ReportThread : public WorkerThread {
 public:
  ~ReportThread() override { stop(); }

 protected:
  std::uint32_t run(std::int32_t parameter, std::stop_token stop) override;
};

}  // namespace engine
