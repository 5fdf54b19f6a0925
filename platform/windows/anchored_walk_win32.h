#pragma once

// Handles and helpers of the Windows file layer, and the walk from the data
// folder (platform/anchored_folder.h) that the file functions use for paths
// below it.
//
// Windows has no openat: a name is opened by its whole path. The walk
// therefore opens the data folder and every folder below it in turn and
// keeps them open without FILE_SHARE_DELETE, so that none of them can be
// renamed, removed or replaced by a junction while the walk holds them;
// each is opened with FILE_FLAG_OPEN_REPARSE_POINT and refused when it is
// a reparse point (a symbolic link or a junction) or no folder. The file at
// the end is opened the same way and must be a plain disk file with one
// link. The whole path built from the held folders therefore names exactly
// what was checked.

#include "platform/windows/win32.h"  // first: before any other system header

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "platform/windows/unique_handle.h"

namespace platform::windows {

// Every right to share: readers, writers and a rename over the file.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A FindFirstFileExW search, closed with the object.
class UniqueFind {
 public:
  UniqueFind() = default;
  explicit UniqueFind(HANDLE find) : find_(find) {}
  ~UniqueFind() {
    if (Valid()) ::FindClose(find_);
  }
  UniqueFind(const UniqueFind&) = delete;
  UniqueFind& operator=(const UniqueFind&) = delete;
  bool Valid() const { return find_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return find_; }

 private:
  HANDLE find_ = INVALID_HANDLE_VALUE;
};

// The Latin-1 text of a wide name; nothing when it holds a character
// beyond Latin-1.
std::optional<std::string> Latin1NameFromWide(std::wstring_view wide);

// Whether `name` ends with `suffix`, ASCII letters compared without case.
bool EndsWithNoCase(std::string_view name, std::string_view suffix);
bool IsSeparator(char c);

// Every byte, in as many WriteFile calls as it takes.
Status WriteAll(HANDLE file, std::string_view bytes, const std::string& what);
Status ReadAll(HANDLE file, std::string& out, const std::string& what);

// OK when `file` is a plain disk file (no folder, no reparse point, no
// device or pipe) with one link, or any number with `anyLinkCount`.
Status CheckPlainFile(HANDLE file, bool anyLinkCount, const std::string& what);

// Opens `path` with CreateFileW; an error Status names `path`.
Result<UniqueHandle> OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                              DWORD flags, const std::string& what);

// Writes `pieces` to a temporary file beside `target`, flushes it to disk
// when asked and renames it over `target`: readers see the old or the new
// file whole. The rename takes POSIX semantics where the system has them
// (a reader holding the old file open keeps reading it); elsewhere a
// reader holding it makes the system refuse the rename for a moment, and
// it is tried again for up to two seconds. The new file gets the old one's
// attributes (KeepAttributesOf).
Status ReplaceByRename(const std::wstring& target, std::initializer_list<std::string_view> pieces, bool flush,
                       const std::string& what);

// Appends `bytes` with one WriteFile call on `file` (opened with
// FILE_APPEND_DATA only), holding the file's append lock meanwhile: a byte
// far beyond any end the file reaches, locked by every appender of these
// programs, so that appends never overwrite one another even where the
// system's own append is not atomic (a network share, an emulation).
Status AppendLocked(HANDLE file, std::string_view bytes, const std::string& what);

// Appends handles with FILE_APPEND_DATA only.
inline constexpr DWORD kAppend = FILE_APPEND_DATA | SYNCHRONIZE;

// Appends `bytes` to the file that `open(disposition, share)` opens, or
// creates it with `prefixWhenNew` ahead of them when it is missing. Whether
// it is new is decided by the creation (CREATE_NEW); the creator keeps
// other writers out until its first write is in, so the prefix always
// comes first.
Status AppendOrCreate(const std::function<Result<UniqueHandle>(DWORD disposition, DWORD share)>& open,
                      std::string_view bytes, std::string_view prefixWhenNew, const std::string& what);

// Gives the new file open as `file` the hidden and system attributes of the
// file at `old`, and its access list when that was set on the file itself
// (protected from the folder's); otherwise the new file inherits the
// folder's like any other. Failures are logged.
void KeepAttributesOf(const std::wstring& old, HANDLE file);

// The folder holding a path's last name, opened by the walk: the handles
// of the data folder and every folder on the way down, held open until
// the object goes, and the whole path built from them.
struct AnchoredParent {
  std::vector<UniqueHandle> held;
  std::wstring folder;  // the path of the last held folder
  std::wstring leaf;    // one name, never "." or ".."
  std::wstring Path() const { return folder + L"\\" + leaf; }
};

enum class Walk {
  kOutside,  // not below the data folder: handle the path as it stands
  kRefused,  // below it, but a check failed or a folder is missing
  kOpened,
};

// True when `path` (Latin-1 text) is the data folder or lies below it.
bool IsBelowDataFolder(const std::string& path);

// For `path` below the data folder, opens every folder down to the one
// holding its last name.
Walk OpenAnchoredParent(const std::string& path, AnchoredParent& out);
// The same down to the folder `path` itself (`out.leaf` stays empty).
Walk OpenAnchoredFolder(const std::string& path, AnchoredParent& out);

// Opens the name `leaf` in the walked folder without following a reparse
// point and checks it with CheckPlainFile.
Result<UniqueHandle> OpenPlainFile(const AnchoredParent& at, DWORD access, DWORD disposition,
                                   bool anyLinkCount = false, DWORD share = kShareAll);

// Every plain file below the folder `folder` (a held path) whose name ends
// with `suffix`, calling `visit(systemPath, text)` for each: the file's
// whole path and the Latin-1 text `base`\name...; reparse points are
// neither followed nor listed. With `hold`, each subfolder is opened and
// checked like the walk's before it is listed.
void ForEachFileBelow(const std::wstring& folder, const std::string& base, std::string_view suffix, bool hold,
                      const std::function<void(const std::wstring& path, const std::string& text)>& visit);

Result<std::string> AnchoredReadFileBytes(const std::string& path);
Status AnchoredWriteFileBytes(const std::string& path, std::string_view bytes);
Status AnchoredAppendFileBytes(const std::string& path, std::string_view bytes,
                               std::optional<std::string_view> prefixWhenNew);
Status AnchoredReplaceFileBytes(const std::string& path, std::initializer_list<std::string_view> pieces,
                                bool flush);
bool AnchoredFileExists(const std::string& path);
Status AnchoredCreateFolder(const std::string& path);
std::vector<std::string> AnchoredListFilesBelow(const std::string& folder, std::string_view suffix);
Status AnchoredForceRemoveFile(const std::string& path);
Result<UniqueHandle> AnchoredOpenLockFile(const std::string& path);

}  // namespace platform::windows
