#pragma once

#include <cstdint>

#include "platform/export.h"

namespace platform {

using ThreadId = std::uint64_t;

struct Message {
  std::uint32_t message = 0;
  std::uintptr_t wparam = 0;
  std::intptr_t lparam = 0;
};

inline constexpr std::uint32_t kQuitMessage = 0x0012;

// The calling thread's id, as used to post to it.
QM_PLATFORM_API ThreadId CurrentThreadId();

// Gives the calling thread a message queue if it has none yet. A thread
// that has never called this nor GetMessage cannot be posted to.
QM_PLATFORM_API void EnsureMessageQueue();

// Waits for the next message of the calling thread's queue. Returns false
// when that message is the quit message, true otherwise.
QM_PLATFORM_API bool GetMessage(Message& out);

// Posts to another thread's queue; false when that thread has no queue.
QM_PLATFORM_API bool PostThreadMessage(ThreadId thread, const Message& message);

// Posts the quit message to the calling thread's own queue.
QM_PLATFORM_API void PostQuitMessage(int exitCode);

}  // namespace platform
