#pragma once

// The cross-process lock files are locked whole: every byte the file
// could ever hold, so that the file can stay empty. Byte-range locks
// belong to the handle, so each lock object opens its own handle and
// excludes other threads of this process as well as other processes.

#include <string>

#include "platform/status.h"
#include "platform/windows/win32.h"

namespace platform::windows {

// Waits until `file` is locked; what failed otherwise, naming `path`.
inline Status LockWholeFile(HANDLE file, bool exclusive, const std::string& path) {
  OVERLAPPED at{};
  if (!::LockFileEx(file, exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, MAXDWORD, MAXDWORD, &at)) {
    return Status::LastError("lock " + path);
  }
  return Status::Ok();
}

// Releases the lock at once, rather than whenever the system gets to the
// closed handle, so that a waiting lock goes on without delay; then closes.
inline void UnlockWholeFileAndClose(HANDLE file) {
  OVERLAPPED at{};
  ::UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &at);
  ::CloseHandle(file);
}

}  // namespace platform::windows
