#pragma once

// A new version of a file, made in a temporary file beside it and put in
// its place in one step: readers see the old file or the new one whole,
// never a part of one. Until it is committed the temporary file is the
// object's own; an object dropped without Commit() removes it.
//
// Unlike ReplaceFileBytes, the new content need not be in memory: it can be
// copied from another file by the system (CopyFrom), then edited in place
// (ReadAt, WriteAt) and extended (Append). Paths are Latin-1 path text as
// in platform/file_system.h; below the data folder the same checks apply
// (no link is followed, the folders are walked from the data folder).
//
// Thread safety: one object belongs to one thread at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/export.h"
#include "platform/status.h"

namespace platform {

class QM_PLATFORM_API ReplacementFile {
 public:
  // What happens to the file that Commit() replaces.
  enum class OldFile {
    kRemoveNow,
    // Out of the way at once, removed by a background thread a moment
    // later: freeing a large file's blocks can cost as much as writing it.
    kRemoveLater,
  };

  // Creates the temporary file beside `path` (which need not exist yet),
  // with the permissions and owner `path` has when it exists.
  static Result<ReplacementFile> Create(const std::string& path);

  ~ReplacementFile();
  ReplacementFile(ReplacementFile&& other) noexcept;
  ReplacementFile& operator=(ReplacementFile&& other) noexcept;
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Appends the whole regular file `source` as it is while being copied
  // (by the kernel where it can, by reads and writes otherwise). The
  // number of bytes copied: a file that shrinks during the copy gives
  // fewer than its size when the copy began.
  Result<std::uint64_t> CopyFrom(const std::string& source);

  // Appends `bytes` at the end.
  Status Append(std::string_view bytes);

  // Up to `length` bytes from `offset` of what has been written so far.
  Result<std::string> ReadAt(std::uint64_t offset, std::size_t length) const;

  // Writes `bytes` at `offset`, over what is there.
  Status WriteAt(std::uint64_t offset, std::string_view bytes);

  // Waits until the content is on the disk. Without it a power cut soon
  // after Commit() may leave the file empty or partial.
  Status Flush();

  // Puts the file in place of `path`. After it, only destruction is left.
  Status Commit(OldFile old = OldFile::kRemoveNow);

  // The bytes written so far.
  std::uint64_t Size() const;

  struct State;

 private:
  explicit ReplacementFile(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace platform
