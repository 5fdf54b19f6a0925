#include "console/engine_heartbeat.h"

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "platform/clock.h"

bool EngineLooksStopped(std::uint32_t monitoring, std::uint32_t heartbeat,
                        std::chrono::system_clock::time_point now) {
  if (monitoring != 1) return false;
  const auto beat = std::chrono::system_clock::time_point(std::chrono::seconds(heartbeat));
  // A beat ahead of this clock (clocks of two processes drift) is fresh.
  return now - beat > kHeartbeatLimit;
}

bool EngineLooksStopped() {
  const std::uint32_t monitoring = CRegDword(common::QuillmarkValue("Monitoring")).Get();
  if (monitoring != 1) return false;
  const std::uint32_t heartbeat = CRegDword(common::QuillmarkValue("Heartbeat")).Get();
  return EngineLooksStopped(monitoring, heartbeat, platform::Clock::Default().Now());
}
