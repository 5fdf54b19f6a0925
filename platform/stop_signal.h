#pragma once

// The requests to stop that the system sends a service process: SIGTERM
// and SIGINT on POSIX; Ctrl+C, Ctrl+Break and closing the console on
// Windows.

#include "platform/export.h"

namespace platform {

// Keeps the stop requests from interrupting or ending the process, so that
// WaitForStopSignal alone receives them. Call on the main thread before
// any other thread starts, so that every thread inherits the setting.
QM_PLATFORM_API void HoldStopSignals();

// Waits until a stop request arrives (after HoldStopSignals).
QM_PLATFORM_API void WaitForStopSignal();

}  // namespace platform
