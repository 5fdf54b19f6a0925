#pragma once

// Starting another program of the system. The program is run directly
// (never through a shell) with no arguments, inherits the environment, and
// runs on its own; the caller waits for it only when it asks to.

#include <chrono>
#include <cstddef>
#include <optional>
#include <stop_token>
#include <string>

#include "platform/export.h"
#include "platform/native_handle.h"
#include "platform/status.h"

namespace platform {

class QM_PLATFORM_API Process {
 public:
  struct Options {
    // Keep what the program writes to its standard error (see ErrorOutput);
    // otherwise it shares the caller's.
    bool captureErrorOutput = false;
  };

  // Starts the executable at `path`; an error saying why when it cannot be
  // started (missing, not executable).
  static Result<Process> Start(const std::string& path);
  static Result<Process> Start(const std::string& path, Options options);

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
  std::optional<int> Wait(std::chrono::milliseconds timeout, std::stop_token stop = {});

  // Asks the program to end (SIGTERM on POSIX).
  void Terminate();

  // With Options::captureErrorOutput: what the program wrote to its
  // standard error, as collected by Wait() (all of it once Wait() returned
  // a status); at most kErrorOutputLimit bytes are kept.
  const std::string& ErrorOutput() const { return errors_; }
  static constexpr std::size_t kErrorOutputLimit = 64 * 1024;

 private:
  Process(NativeHandle id, NativeHandle errorOutput) : id_(id), errorOutput_(errorOutput) {}
  void CollectErrorOutput();
  void Release();  // drops the program (see the destructor)
  void CloseErrorOutput();

  // The program (its process id on POSIX, its process handle on Windows);
  // kNoHandle once it was reaped or the object moved from.
  NativeHandle id_ = kNoHandle;
  // The read end of the program's standard error, or kNoHandle.
  NativeHandle errorOutput_ = kNoHandle;
  std::string errors_;
};

// The executable name of a program of the system on this platform:
// "Postrider" gives "Postrider.exe" on Windows and "Postrider" elsewhere.
QM_PLATFORM_API std::string ExecutableName(const std::string& program);

}  // namespace platform
