#pragma once

#include "engine/worker_thread.h"

namespace engine {

// Deletes log files of periods that are over.
class RetentionThread : public WorkerThread {
 public:
  ~RetentionThread() override { stop(); }

 protected:
  std::uint32_t run(std::int32_t parameter, std::stop_token stop) override;
};

}  // namespace engine
