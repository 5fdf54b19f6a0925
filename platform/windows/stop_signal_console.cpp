#include "platform/windows/win32.h"  // first: before any other system header

#include "platform/stop_signal.h"
#include "platform/windows/unique_handle.h"

namespace platform {

namespace {

// Set once a stop request came; manual reset, so it stays set.
HANDLE StopEvent() {
  static const windows::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return event.get();
}

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: ::SetEvent(StopEvent()); return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The system ends the process as soon as this returns: hold on until
      // the program has stopped and exits by itself (the system allows a
      // few seconds).
      ::SetEvent(StopEvent());
      ::Sleep(INFINITE);
      return TRUE;
    default: return FALSE;
  }
}

}  // namespace

void HoldStopSignals() {
  (void)StopEvent();
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void WaitForStopSignal() {
  const HANDLE event = StopEvent();
  if (event) ::WaitForSingleObject(event, INFINITE);
}

}  // namespace platform
