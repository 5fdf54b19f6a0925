#include "engine/idle_body.h"

#include "engine/worker_thread.h"
#include "platform/clock.h"

namespace engine {

std::uint32_t IdleUntilStopped(std::stop_token stop) {
  while (platform::InterruptibleSleep(std::chrono::hours(1), stop)) {
  }
  return WorkerThread::kNoExitCode;
}

}  // namespace engine
