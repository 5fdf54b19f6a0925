#pragma once

// Waits on kernel objects that a stop request also ends.
//
// The stop token is looked at between short waits instead of through a
// std::stop_callback: each module of a Windows build carries its own copy
// of the C++ library, and the callback's destructor, when the stop request
// runs at that moment in another module (the program or the engine DLL),
// waits for a wake-up that never reaches this one.

#include <chrono>
#include <span>
#include <stop_token>

#include "platform/windows/win32.h"

namespace platform::windows {

struct StoppableWait {
  enum Kind { kSignalled, kTimedOut, kStopped, kFailed };
  Kind kind;
  DWORD index = 0;  // which handle, for kSignalled
};

// Waits until one of `handles` is signalled, `timeout` has passed (a
// negative timeout waits without end) or `stop` is requested. kFailed
// leaves GetLastError() as the wait left it.
StoppableWait WaitForAnyOrStop(std::span<const HANDLE> handles, std::chrono::milliseconds timeout,
                               std::stop_token stop);

}  // namespace platform::windows
