// The thread message queue is the system's own: a thread's queue exists
// once it called PeekMessage or GetMessage, posting goes through
// PostThreadMessageW, and kQuitMessage is WM_QUIT.

#include "platform/windows/win32.h"  // first: before any other system header

#include <string>

#include "platform/log.h"
#include "platform/message_queue.h"

namespace platform {

static_assert(kQuitMessage == WM_QUIT);

ThreadId CurrentThreadId() { return static_cast<ThreadId>(::GetCurrentThreadId()); }

void EnsureMessageQueue() {
  // The first PeekMessage of a thread makes its queue.
  MSG msg;
  ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

bool GetMessage(Message& out) {
  MSG msg{};
  const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
  if (got == -1) {
    // Only a bad window handle or message pointer fails, neither of which
    // happens here; ending the loop is the safe answer.
    LogWarning("GetMessageW failed, ending the message loop", Status::LastError("GetMessageW"));
    out = Message{kQuitMessage, 0, 0};
    return false;
  }
  out.message = msg.message;
  out.wparam = static_cast<std::uintptr_t>(msg.wParam);
  out.lparam = static_cast<std::intptr_t>(msg.lParam);
  return got != 0;
}

bool PostThreadMessage(ThreadId thread, const Message& message) {
  if (!::PostThreadMessageW(static_cast<DWORD>(thread), message.message, static_cast<WPARAM>(message.wparam),
                            static_cast<LPARAM>(message.lparam))) {
    // ERROR_INVALID_THREAD_ID: the thread has ended or has no queue yet.
    LogDebug(Status::LastError("PostThreadMessageW to thread " + std::to_string(thread)).ToString());
    return false;
  }
  return true;
}

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

}  // namespace platform
