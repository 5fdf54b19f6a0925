#pragma once

#include <cstdint>
#include <stop_token>

namespace engine {

// Waits until the thread is asked to stop; the body of a worker that has
// nothing to do yet.
std::uint32_t IdleUntilStopped(std::stop_token stop);

}  // namespace engine
