#include "engine/report_thread.h"

#include "engine/idle_body.h"

namespace engine {

std::uint32_t ReportThread::run(std::int32_t, std::stop_token stop) {
  return IdleUntilStopped(stop);
}

}  // namespace engine
