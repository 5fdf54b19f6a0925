#pragma once

#include <chrono>
#include <cstdint>

// The engine's control loop stores the time of its last pass in the
// registry value "Heartbeat" (seconds since 1970, UTC), one pass every 20
// seconds. Three passes without a beat mean the engine is not running.
inline constexpr std::chrono::seconds kHeartbeatLimit{60};

// True when monitoring is on (exactly 1) but the last beat (0: none) is
// older than the limit at `now`.
bool EngineLooksStopped(std::uint32_t monitoring, std::uint32_t heartbeat,
                        std::chrono::system_clock::time_point now);

// The same, read from the registry and the process's clock.
bool EngineLooksStopped();
