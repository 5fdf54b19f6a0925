#pragma once

// Files in a folder that several accounts of one group share, such as the
// simulated spooler's store: every process of the group reads and replaces
// them, and nobody outside the group may. Folders are made shared with the
// group (on POSIX set-group-id, mode 2770) and files readable and writable
// by the group only (0660). Paths are the system's own names, unchanged.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/export.h"
#include "platform/native_handle.h"
#include "platform/status.h"

namespace platform {

// Makes the folder (its parent must exist). OK when it was made or is a
// folder already.
QM_PLATFORM_API Status MakeGroupFolder(const std::filesystem::path& folder);

// At most `limit` bytes from the start of the file (more may come, up to
// one read's worth); an error (kNotFound for a missing file) when it cannot
// be opened.
QM_PLATFORM_API Result<std::string> ReadGroupFile(const std::filesystem::path& file,
                                                  std::size_t limit = SIZE_MAX);

// Writes a temporary file beside `file` and renames it over `file`, without
// a flush to disk: readers see the old or the new content whole. On a
// failure the temporary file is removed.
QM_PLATFORM_API Status ReplaceGroupFile(const std::filesystem::path& file, std::string_view content);

// Removes the file; a missing file is no failure.
QM_PLATFORM_API Status RemoveGroupFile(const std::filesystem::path& file);

// A lock on a lock file (created when missing), shared between readers or
// exclusive for one writer, held for the object's lifetime. It excludes
// other processes and other threads of this process alike. Held() is
// false when the lock file could not be opened or locked, and Status()
// tells why.
class QM_PLATFORM_API GroupFileLock {
 public:
  enum class Kind { kShared, kExclusive };
  GroupFileLock(const std::filesystem::path& file, Kind kind);
  ~GroupFileLock();
  GroupFileLock(const GroupFileLock&) = delete;
  GroupFileLock& operator=(const GroupFileLock&) = delete;

  bool Held() const { return handle_ != kNoHandle; }
  const platform::Status& Status() const { return status_; }

 private:
  NativeHandle handle_ = kNoHandle;
  platform::Status status_;
};

}  // namespace platform
