#pragma once

// Wakes a waiting thread when a file in one folder is created, replaced
// (renamed over), written or removed, without looking at the folder while
// nothing happens.

#include <chrono>
#include <memory>
#include <stop_token>
#include <string>

#include "platform/export.h"

namespace platform {

class QM_PLATFORM_API FolderWatch {
 public:
  enum class Result {
    kChanged,  // something changed since the watch began or the last Wait
    kTimedOut,
    kStopped,  // the stop token was requested
  };

  virtual ~FolderWatch();

  // Waits for a change to the file named `name` in the folder (or to the
  // folder itself: removed or moved away). A negative timeout waits for
  // ever (so does milliseconds::max()). Changes made after the watch was opened and before the call are
  // reported at once.
  virtual Result Wait(std::chrono::milliseconds timeout, std::stop_token stop) = 0;

  // The folder was removed or moved away: this watch sees nothing more
  // (and Wait returns Changed at once); open a new one.
  virtual bool Lost() const = 0;

  // Watches `file` (a path) inside its folder. Nothing when the system
  // cannot watch it (no such folder, out of watches); callers then look
  // for themselves.
  static std::unique_ptr<FolderWatch> ForFile(const std::string& file);
};

}  // namespace platform
