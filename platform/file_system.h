#pragma once

// Files and folders as the programs need them: whole-file reads and
// writes, appends in one call, atomic replacement, folder creation, a
// recursive listing, forced removal and an exclusive lock shared between
// processes and threads. Paths are native paths.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/export.h"

namespace platform {

// The file's bytes, or nothing when it is missing, not a regular file or
// unreadable.
QM_PLATFORM_API std::optional<std::string> ReadFileBytes(const std::string& path);

// Creates or truncates the file and writes the bytes.
QM_PLATFORM_API bool WriteFileBytes(const std::string& path, std::string_view bytes);

// Opens the file for appending (created when missing) and writes the bytes
// with one write call, so that concurrent appenders never interleave.
QM_PLATFORM_API bool AppendFileBytes(const std::string& path, std::string_view bytes);

// Like AppendFileBytes, but a file that this call creates receives
// `prefixWhenNew` followed by the bytes, in the same single write. Whether
// the file is new is decided by the creation itself, so a file removed
// between a check and the write still gets its prefix.
QM_PLATFORM_API bool AppendFileBytes(const std::string& path, std::string_view bytes,
                                     std::string_view prefixWhenNew);

// Writes a temporary file beside `path`, flushes it to disk and renames it
// over `path`: readers and crashes see the old or the new file, never a
// part of one. The old file's permissions are kept. Without `flush` the
// data is left to the system to write back: still whole for readers and
// for a process that is killed, and much quicker, but not proof against a
// power cut.
QM_PLATFORM_API bool ReplaceFileBytes(const std::string& path, std::string_view bytes, bool flush = true);

QM_PLATFORM_API bool FileExists(const std::string& path);

// Creates one folder. False when it exists already or cannot be made.
QM_PLATFORM_API bool CreateFolder(const std::string& path);

// Every regular file below `folder`, at any depth, whose name ends with
// `suffix` (case-insensitively). A missing folder yields an empty list.
// Symbolic links are not followed.
QM_PLATFORM_API std::vector<std::string> ListFilesBelow(const std::string& folder,
                                                        std::string_view suffix);

// Makes the file writable (ignoring failures) and removes it.
QM_PLATFORM_API bool ForceRemoveFile(const std::string& path);

// An exclusive lock on the file at `path` (created when missing), held for
// the object's lifetime. It excludes other processes and other threads of
// this process alike. When the lock file cannot be opened the object holds
// nothing and locked() is false; callers then go on without the lock.
class QM_PLATFORM_API FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool locked() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace platform
