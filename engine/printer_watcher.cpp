#include "engine/printer_watcher.h"

#include "engine/idle_body.h"

namespace engine {

std::uint32_t PrinterWatcher::run(std::int32_t, std::stop_token stop) {
  return IdleUntilStopped(stop);
}

}  // namespace engine
