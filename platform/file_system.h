#pragma once

// Files and folders as the programs need them: whole-file reads and
// writes, appends in one call, atomic replacement, folder creation, a
// recursive listing, forced removal, reading in pieces and an exclusive
// lock shared between processes and threads.
//
// Paths are Latin-1 text like every other stored text (with the system's
// separators: see common::NativePath for the backslashes). Each call turns
// them into the system's file names with NativePath below.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/export.h"
#include "platform/native_handle.h"
#include "platform/status.h"

namespace platform {

// The system's name for the Latin-1 path text `path`: on POSIX the UTF-8
// form of every folder and file name. A name that does not exist in UTF-8
// but exists as the raw Latin-1 bytes (folders made before names were
// converted) resolves to the raw bytes, so nothing written earlier
// becomes unreachable and new files join the old folders. Plain ASCII
// paths are returned unchanged.
QM_PLATFORM_API std::string NativePath(std::string_view path);

// The Latin-1 text of a system file name: the inverse of NativePath for
// one name. Nothing when the name holds a character Latin-1 cannot hold.
QM_PLATFORM_API std::optional<std::string> NameFromNative(std::string_view name);

// Every call that can fail returns a Status (a Result when it also gives a
// value) whose context names the call and the file ("open /x/Logs/d.xml:
// Permission denied"), so that a caller going on without the file can log
// why.

// The file's bytes; kNotFound when it is missing, another error when it is
// not a regular file or unreadable.
QM_PLATFORM_API Result<std::string> ReadFileBytes(const std::string& path);

// Creates or truncates the file and writes the bytes.
QM_PLATFORM_API Status WriteFileBytes(const std::string& path, std::string_view bytes);

// Opens the file for appending (created when missing) and writes the bytes
// with one write call, so that concurrent appenders never interleave.
QM_PLATFORM_API Status AppendFileBytes(const std::string& path, std::string_view bytes);

// Like AppendFileBytes, but a file that this call creates receives
// `prefixWhenNew` followed by the bytes, in the same single write. Whether
// the file is new is decided by the creation itself, so a file removed
// between a check and the write still gets its prefix.
QM_PLATFORM_API Status AppendFileBytes(const std::string& path, std::string_view bytes,
                                       std::string_view prefixWhenNew);

// Writes a temporary file beside `path`, flushes it to disk and renames it
// over `path`: readers and crashes see the old or the new file, never a
// part of one. The old file's permissions are kept. Without `flush` the
// data is left to the system to write back: still whole for readers and
// for a process that is killed, and much quicker, but not proof against a
// power cut.
QM_PLATFORM_API Status ReplaceFileBytes(const std::string& path, std::string_view bytes, bool flush = true);

// The same without waiting for the disk, the new content given as pieces
// written one after another: readers still see the old or the new file
// whole, but a crash may lose the new one. For documents that are made
// again on demand, where the wait would cost more than the write.
QM_PLATFORM_API Status PublishFileBytes(const std::string& path,
                                        std::initializer_list<std::string_view> pieces);

QM_PLATFORM_API bool FileExists(const std::string& path);

// What identifies one version of a file: a file replaced by renaming
// another over it has a new inode, one rewritten in place a new size or
// change time. Equal stamps mean the content read with the first is still
// the content.
struct FileStamp {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;

  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of the file at `path` (symbolic links followed); a missing or
// unreadable file gives a stamp with exists == false.
QM_PLATFORM_API FileStamp StampOf(const std::string& path);

// Creates one folder. kAlreadyExists when it exists already.
QM_PLATFORM_API Status CreateFolder(const std::string& path);

// Every regular file below `folder`, at any depth, whose name ends with
// `suffix` (case-insensitively), as Latin-1 path text beginning with
// `folder`. A missing folder yields an empty list. Symbolic links are not
// followed; names Latin-1 cannot hold (never written by these programs)
// are left out.
QM_PLATFORM_API std::vector<std::string> ListFilesBelow(const std::string& folder, std::string_view suffix);

// Makes the file writable (ignoring failures) and removes it.
QM_PLATFORM_API Status ForceRemoveFile(const std::string& path);

// A regular file opened for reading in pieces; closed on destruction.
class QM_PLATFORM_API InputFile {
 public:
  // Opens an existing regular file. Throws StatusError (a
  // std::system_error: ENOENT, EACCES, ..., EISDIR for anything but a
  // regular file).
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // The size when it was opened.
  std::uint64_t Size() const { return size_; }
  // Fills `buffer` as far as the file goes: fewer than `length` bytes only
  // at its end. Throws StatusError on a read error.
  std::size_t Read(char* buffer, std::size_t length);

 private:
  NativeHandle handle_ = kNoHandle;
  std::uint64_t size_ = 0;
};

// An exclusive lock on the file at `path` (created when missing), held for
// the object's lifetime. It excludes other processes and other threads of
// this process alike. When the lock file cannot be opened the object holds
// nothing, Locked() is false and Status() tells why; callers then go on
// without the lock.
class QM_PLATFORM_API FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Locked() const { return handle_ != kNoHandle; }
  const platform::Status& Status() const { return status_; }

 private:
  NativeHandle handle_ = kNoHandle;
  platform::Status status_;
};

}  // namespace platform
