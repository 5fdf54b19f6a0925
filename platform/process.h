#pragma once

// Starting another program of the system. The program is run directly
// (never through a shell) with no arguments, inherits the environment, and
// runs on its own; the caller waits for it only when it asks to.

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>

#include "platform/export.h"

namespace platform {

class QM_PLATFORM_API Process {
 public:
  // Starts the executable at `path`. Nothing when it cannot be started
  // (missing, not executable).
  static std::optional<Process> Start(const std::string& path);

  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  // Dropping a process that still runs leaves it running; it is reaped
  // later without anyone waiting for it.
  ~Process();

  // Waits up to `timeout` for the program to end, or until `stop` is
  // requested. Returns its exit status (a program ended by a signal gives
  // 128 + the signal), or nothing when it is still running.
  std::optional<int> wait(std::chrono::milliseconds timeout, std::stop_token stop = {});

  // Asks the program to end (SIGTERM on POSIX).
  void terminate();

 private:
  explicit Process(long id) : id_(id) {}
  long id_ = -1;  // -1 once the program was reaped or the object moved from
};

// The executable name of a program of the system on this platform:
// "Postrider" gives "Postrider.exe" on Windows and "Postrider" elsewhere.
QM_PLATFORM_API std::string ExecutableName(const std::string& program);

}  // namespace platform
