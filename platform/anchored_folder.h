#pragma once

// The data folder: files below it are reached without following any link.
//
// Once a folder is made the data folder, every call of file_system.h whose
// path lies below it opens the data folder itself and walks down one name
// at a time relative to the folder it opened, never through a symbolic
// link:
//
// * the data folder must be a folder owned by root or by this process's
//   user and not writable by everyone;
// * every folder on the way must be a real folder (not a link) that only
//   its owner can write to;
// * the file at the end must be a regular file with one link: a link, a
//   FIFO, a device or a hard-linked file is left alone, as if missing.
//
// New folders are made 0750 and new files 0640 (0660 in a folder its group
// may write to); nothing below the data folder is ever opened to others.
// Paths outside the data folder are handled as before.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/export.h"
#include "platform/status.h"

namespace platform {

// Makes `folder` the data folder of this process; the empty text forgets
// it. Later calls replace the folder.
QM_PLATFORM_API void SetDataFolder(const std::string& folder);
QM_PLATFORM_API std::string DataFolder();

// Walks every folder below `folder`, at any depth, and removes each regular
// file whose name ends with `suffix` (case-insensitively) and for which
// `shouldRemove(path)` is true, with unlinkat relative to the folder it was
// listed from. Links are neither followed nor removed. Returns the number
// of files removed; files that cannot be removed are passed over (each
// logged as a warning).
QM_PLATFORM_API std::size_t RemoveFilesBelow(
    const std::string& folder, std::string_view suffix,
    const std::function<bool(const std::string& path)>& shouldRemove);

// For a program that reads the files it is told to: checks that every path
// in `paths` names a regular, singly linked file below `root`/`folder`,
// reached with the checks above from `root` (which may not be writable by
// everyone, owned by root or this user) without following any link. When
// all pass, that folder becomes the working folder and the paths come back
// relative to it, so no folder on the way can be swapped before the files
// are read. When any fails, the working folder is unchanged and the status
// names the path or folder refused and why.
QM_PLATFORM_API Result<std::vector<std::string>> EnterFolderHolding(const std::string& root,
                                                                    std::string_view folder,
                                                                    const std::vector<std::string>& paths);

}  // namespace platform
