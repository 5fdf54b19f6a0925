#pragma once

// Folder descriptors for the POSIX file layer: the walk from the data
// folder (platform/anchored_folder.h) that the file functions use for
// paths below it.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace platform::posix {

// One open descriptor, closed with the object.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset();
  // Closes now; false when the close reported an error.
  bool Close();

 private:
  int fd_ = -1;
};

// Writes every byte, going on after short writes; false on an error.
bool WriteAll(int fd, std::string_view bytes);

// Reads to the end of the file; what failed otherwise, naming `path`.
// `sizeHint` is room reserved beforehand.
Result<std::string> ReadAll(int fd, const std::string& path, std::size_t sizeHint = 0);

// One write call, so that appends of several writers never interleave;
// then the file is closed. True when every byte went out.
bool WriteOnceAndClose(UniqueFd& fd, std::string_view bytes);

// Whether `name` ends with `suffix`, ASCII letters compared without case.
bool EndsWithNoCase(std::string_view name, std::string_view suffix);

// The folder that holds a path's last name, opened by the walk.
struct AnchoredParent {
  UniqueFd folder;
  std::string leaf;  // one name, never "." or ".."
  Status why;        // when the walk was refused: which folder and why
};

enum class Walk {
  kOutside,  // not below the data folder: handle the path as it stands
  kRefused,  // below it, but a check failed or a folder is missing
  kOpened,
};

// For `path` below the data folder, opens the folder holding its last name.
// With `createFolders`, missing folders on the way are made (0750).
Walk OpenAnchoredParent(const std::string& path, bool createFolders, AnchoredParent& out);

// Opens the folder `path` itself (the data folder or a folder below it);
// `why` (may be null) receives the reason of a refusal.
Walk OpenAnchoredFolder(const std::string& path, UniqueFd& out, Status* why = nullptr);

// Opens the name `leaf` in `folder` without following a link, with the
// O_* `flags` (O_NOFOLLOW, O_NONBLOCK and O_CLOEXEC are added) and, when
// creating, `mode`. The result is a regular file with one link (any number
// with `anyLinkCount`), or invalid (errno set: ELOOP for a link, EINVAL for
// another kind of file, EMLINK for a hard-linked file).
UniqueFd OpenPlainFile(int folder, const std::string& leaf, int flags, mode_t mode = 0,
                       bool anyLinkCount = false);

// The mode for a new file in `folder`: 0640, plus group write when the
// folder's group may write to it. `lock` drops the group's read too when
// the group may not write, so that only the owner can open the lock.
mode_t NewFileMode(int folder, bool lock = false);

// Makes the folder `leaf` in `parent` with mode 0750 (the set-group-ID bit
// is inherited); false when it exists or cannot be made.
bool MakeFolderAt(int parent, const std::string& leaf);

// Gives the file open as `fd` the owner, group and mode of the file `leaf`
// in `folder` as far as this process may (without root, the owner stays
// this process's user); a new file keeps its mode. Nothing below the data
// folder is opened to others.
void TakeOwnershipOf(int fd, int folder, const std::string& leaf);

// Every file below the open `folder` whose name ends with `suffix`,
// calling `visit(folderFd, name, path)` for each; `path` is `base`/name.
// Links are not followed, and folders that fail the checks are skipped.
void ForEachFileBelow(
    int folder, const std::string& base, std::string_view suffix,
    const std::function<void(int folder, const std::string& name, const std::string& path)>& visit);

}  // namespace platform::posix

namespace platform::posix {

// True when `path` is the data folder or lies below it; the file functions
// then use the Anchored* versions below, which follow no link.
bool IsBelowDataFolder(const std::string& path);

Result<std::string> AnchoredReadFileBytes(const std::string& path);
Status AnchoredWriteFileBytes(const std::string& path, std::string_view bytes);
// `prefixWhenNew` is written ahead of the bytes when this call creates the
// file (nothing: plain append).
Status AnchoredAppendFileBytes(const std::string& path, std::string_view bytes,
                               std::optional<std::string_view> prefixWhenNew);
Status AnchoredReplaceFileBytes(const std::string& path, std::string_view bytes, bool flush = true);
bool AnchoredFileExists(const std::string& path);
Status AnchoredCreateFolder(const std::string& path);
std::vector<std::string> AnchoredListFilesBelow(const std::string& folder, std::string_view suffix);
Status AnchoredForceRemoveFile(const std::string& path);
// The lock file's descriptor, opened (created 0600, or 0660 in a folder its
// group may write to).
Result<int> AnchoredOpenLockFile(const std::string& path);

}  // namespace platform::posix
