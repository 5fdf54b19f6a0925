#pragma once

#include <chrono>
#include <cstddef>

#include "engine/worker_thread.h"

namespace platform {
class Clock;
}

namespace engine {

// Deletes log files of periods that are over: a pass at start and then one
// every twelve hours.
class RetentionThread : public WorkerThread {
 public:
  static constexpr std::chrono::milliseconds kPassInterval{43'200'000};

  RetentionThread();
  explicit RetentionThread(platform::Clock& clock);
  ~RetentionThread() override { Stop(); }

  // One walk over the Logs tree; returns the number of files removed.
  std::size_t RunPass();

 protected:
  std::uint32_t Run(std::int32_t parameter, std::stop_token stop) override;

 private:
  platform::Clock* clock_;
};

}  // namespace engine
