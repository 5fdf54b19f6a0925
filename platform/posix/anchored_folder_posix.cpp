// The walk from the data folder: every folder below it is opened relative
// to the one above with O_DIRECTORY|O_NOFOLLOW and checked, every file with
// O_NOFOLLOW and checked, so that nobody who can write somewhere in the
// tree can point this process at a file elsewhere.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <random>

#include "platform/anchored_folder.h"
#include "platform/file_system.h"
#include "platform/log.h"
#include "platform/posix/anchored_walk.h"

namespace platform {
namespace posix {

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
  return std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<long>(suffix.size()),
                    [&](char a, char b) { return lower(a) == lower(b); });
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

Result<std::string> ReadAll(int fd, const std::string& path, std::size_t sizeHint) {
  std::string bytes;
  bytes.reserve(sizeHint);
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::LastError("read " + path);
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  return bytes;
}

bool WriteOnceAndClose(UniqueFd& fd, std::string_view bytes) {
  ssize_t n;
  do {
    n = ::write(fd.Get(), bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  bool ok = n == static_cast<ssize_t>(bytes.size());
  return fd.Close() && ok;
}

void UniqueFd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool UniqueFd::Close() {
  int fd = Release();
  return fd < 0 || ::close(fd) == 0;
}

namespace {

constexpr mode_t kFolderMode = 0750;
constexpr int kMaxDepth = 64;

std::mutex& DataFolderMutex() {
  static std::mutex m;
  return m;
}
std::string& DataFolderText() {
  static std::string folder;
  return folder;
}

std::string WithoutTrailingSlashes(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// The names of a path; false when one of them is "." or "..".
bool SplitNames(std::string_view path, std::vector<std::string>& names) {
  names.clear();
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view name = path.substr(start, end - start);
    if (name == "." || name == "..") return false;
    if (!name.empty()) names.emplace_back(name);
    start = end + 1;
  }
  return true;
}

// The data folder: owned by root or by us, not writable by everyone. Its
// group may write to it (the console's users replace the catalogue there).
bool RootAcceptable(const struct stat& st) {
  return S_ISDIR(st.st_mode) && (st.st_uid == 0 || st.st_uid == ::geteuid()) && (st.st_mode & S_IWOTH) == 0;
}

// A folder below it: only its owner may add, rename or remove names in it.
bool FolderAcceptable(const struct stat& st) {
  return S_ISDIR(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// `why` (may be null) receives the reason when the folder is refused.
UniqueFd OpenRoot(const std::string& root, Status* why = nullptr) {
  UniqueFd fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat st {};
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) {
    if (why) *why = Status::LastError("open data folder " + root);
    return UniqueFd();
  }
  if (!RootAcceptable(st)) {
    if (why) {
      *why = Status(
          StatusCode::kAccessDenied,
          "data folder " + root + " refused: not owned by root or this account, or writable by everyone");
    }
    return UniqueFd();
  }
  return fd;
}

// Opens the folder `name` in `parent` (making it when asked) and checks it.
// `path` is the folder's whole path, for the reason given in `why`.
UniqueFd OpenSubfolder(int parent, const std::string& name, bool create, Status* why = nullptr,
                       const std::string& path = {}) {
  UniqueFd fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.Valid() && errno == ENOENT && create) {
    if (!MakeFolderAt(parent, name) && errno != EEXIST) {
      if (why) *why = Status::LastError("create folder " + path);
      return UniqueFd();
    }
    fd = UniqueFd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  struct stat st {};
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) {
    if (why)
      *why =
          Status::LastError(errno == ELOOP || errno == ENOTDIR ? "folder " + path + " is a link or no folder"
                                                               : "open folder " + path);
    return UniqueFd();
  }
  if (!FolderAcceptable(st)) {
    if (why)
      *why =
          Status(StatusCode::kAccessDenied, "folder " + path + " refused: writable by its group or others");
    return UniqueFd();
  }
  return fd;
}

// Walks `names` from `folder` (which is `base`); the open folder at the
// end, or invalid with the reason in `why`.
UniqueFd WalkFolders(UniqueFd folder, const std::vector<std::string>& names, std::size_t count, bool create,
                     Status* why = nullptr, std::string base = {}) {
  for (std::size_t i = 0; i < count && folder.Valid(); ++i) {
    base += "/" + names[i];
    folder = OpenSubfolder(folder.Get(), names[i], create, why, base);
  }
  return folder;
}

// The names of `path` below the data folder, or false when it is not below.
bool NamesBelowDataFolder(const std::string& path, std::string& root, std::vector<std::string>& names,
                          bool& refused) {
  root = DataFolder();
  refused = false;
  if (root.empty() || path.compare(0, root.size(), root) != 0) return false;
  if (path.size() > root.size() && path[root.size()] != '/' && root != "/") return false;
  if (!SplitNames(std::string_view(path).substr(root.size()), names)) refused = true;
  return true;
}

void ForEachFileIn(int folder, const std::string& base, std::string_view suffix, bool checked,
                   const std::function<void(int, const std::string&, const std::string&)>& visit, int depth) {
  if (depth > kMaxDepth) return;
  int listed = ::dup(folder);
  if (listed < 0) return;
  DIR* dir = ::fdopendir(listed);
  if (!dir) {
    ::close(listed);
    return;
  }
  std::vector<std::string> files, subfolders;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode))
      subfolders.push_back(std::move(name));
    else if (S_ISREG(st.st_mode) && EndsWithNoCase(name, suffix))
      files.push_back(std::move(name));
  }
  ::closedir(dir);
  for (const auto& name : files) visit(folder, name, base + "/" + name);
  for (const auto& name : subfolders) {
    UniqueFd sub(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!sub.Valid() || ::fstat(sub.Get(), &st) != 0) continue;
    if (checked && !FolderAcceptable(st)) continue;
    ForEachFileIn(sub.Get(), base + "/" + name, suffix, checked, visit, depth + 1);
  }
}

}  // namespace

Walk OpenAnchoredParent(const std::string& path, bool createFolders, AnchoredParent& out) {
  std::string root;
  std::vector<std::string> names;
  bool refused = false;
  if (!NamesBelowDataFolder(path, root, names, refused)) return Walk::kOutside;
  if (refused || names.empty()) {
    out.why = Status(StatusCode::kInvalidArgument, path + ": a name \".\" or \"..\" below the data folder");
    return Walk::kRefused;
  }
  out.folder = WalkFolders(OpenRoot(root, &out.why), names, names.size() - 1, createFolders, &out.why,
                           WithoutTrailingSlashes(root));
  out.leaf = names.back();
  return out.folder.Valid() ? Walk::kOpened : Walk::kRefused;
}

Walk OpenAnchoredFolder(const std::string& path, UniqueFd& out, Status* why) {
  std::string root;
  std::vector<std::string> names;
  bool refused = false;
  if (!NamesBelowDataFolder(path, root, names, refused)) return Walk::kOutside;
  if (refused) {
    if (why)
      *why = Status(StatusCode::kInvalidArgument, path + ": a name \".\" or \"..\" below the data folder");
    return Walk::kRefused;
  }
  out = WalkFolders(OpenRoot(root, why), names, names.size(), false, why, WithoutTrailingSlashes(root));
  return out.Valid() ? Walk::kOpened : Walk::kRefused;
}

UniqueFd OpenPlainFile(int folder, const std::string& leaf, int flags, mode_t mode, bool anyLinkCount) {
  UniqueFd fd(::openat(folder, leaf.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
  if (!fd.Valid()) return fd;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return UniqueFd();
  if (!S_ISREG(st.st_mode) || (st.st_nlink != 1 && !anyLinkCount)) {
    fd.Reset();
    errno = S_ISREG(st.st_mode) ? EMLINK : EINVAL;
  }
  return fd;
}

mode_t NewFileMode(int folder, bool lock) {
  struct stat st {};
  const bool groupWrites = ::fstat(folder, &st) == 0 && (st.st_mode & S_IWGRP) != 0;
  if (groupWrites) return 0660;
  return lock ? 0600 : 0640;
}

bool MakeFolderAt(int parent, const std::string& leaf) {
  if (::mkdirat(parent, leaf.c_str(), kFolderMode) != 0) return false;
  // The umask may have cut the group's bits; the set-group-ID bit comes
  // from the parent and stays, so the group sticks down the tree.
  UniqueFd made(::openat(parent, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (made.Valid() && ::fstat(made.Get(), &st) == 0)
    (void)::fchmod(made.Get(), kFolderMode | (st.st_mode & S_ISGID));
  return true;
}

void TakeOwnershipOf(int fd, int folder, const std::string& leaf) {
  struct stat st {};
  if (::fstatat(folder, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return;
  // Only root may give a file away; everyone else keeps the group, which
  // is what lets the other programs' users go on writing it.
  if (::fchown(fd, st.st_uid, st.st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
  (void)::fchmod(fd, st.st_mode & 0770);  // after chown, which may clear bits
}

void ForEachFileBelow(
    int folder, const std::string& base, std::string_view suffix,
    const std::function<void(int folder, const std::string& name, const std::string& path)>& visit) {
  ForEachFileIn(folder, base, suffix, true, visit, 0);
}

bool IsBelowDataFolder(const std::string& path) {
  std::string root;
  std::vector<std::string> names;
  bool refused = false;
  return NamesBelowDataFolder(path, root, names, refused);
}

namespace {

// Why OpenPlainFile gave nothing, with errno as it left it.
Status PlainFileFailure(const char* doing, const std::string& path) {
  const int error = errno;
  if (error == ELOOP)
    return Status(StatusCode::kAccessDenied, path + " is a symbolic link; not followed", error);
  if (error == EMLINK)
    return Status(StatusCode::kAccessDenied, path + " has more than one link; skipped", error);
  if (error == EINVAL)
    return Status(StatusCode::kAccessDenied, path + " is not a regular file; skipped", error);
  return Status::FromSystem(error, std::string(doing) + " " + path);
}

}  // namespace

Result<std::string> AnchoredReadFileBytes(const std::string& path) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, false, at) != Walk::kOpened) return at.why;
  // A second name for a file is no way in: the kernel lets nobody link a
  // file they could not read and write themselves. Refusing it here would
  // only make the catalogue look empty to the edit that rewrites it.
  UniqueFd fd = OpenPlainFile(at.folder.Get(), at.leaf, O_RDONLY, 0, true);
  if (!fd.Valid()) return PlainFileFailure("open", path);
  return ReadAll(fd.Get(), path);
}

Status AnchoredWriteFileBytes(const std::string& path, std::string_view bytes) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, false, at) != Walk::kOpened) return at.why;
  // Truncated only once it is known to be a plain file of its own.
  UniqueFd fd = OpenPlainFile(at.folder.Get(), at.leaf, O_WRONLY | O_CREAT, NewFileMode(at.folder.Get()));
  if (!fd.Valid()) return PlainFileFailure("open", path);
  if (::ftruncate(fd.Get(), 0) != 0) return Status::LastError("truncate " + path);
  if (!WriteAll(fd.Get(), bytes)) return Status::LastError("write " + path);
  if (!fd.Close()) return Status::LastError("close " + path);
  return Status::Ok();
}

Status AnchoredAppendFileBytes(const std::string& path, std::string_view bytes,
                               std::optional<std::string_view> prefixWhenNew) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, false, at) != Walk::kOpened) return at.why;
  const mode_t mode = NewFileMode(at.folder.Get());
  if (!prefixWhenNew) {
    UniqueFd fd = OpenPlainFile(at.folder.Get(), at.leaf, O_WRONLY | O_CREAT | O_APPEND, mode);
    if (!fd.Valid()) return PlainFileFailure("open", path);
    if (!WriteOnceAndClose(fd, bytes)) return Status::LastError("append to " + path);
    return Status::Ok();
  }
  for (int attempt = 0; attempt < 8; ++attempt) {
    UniqueFd fd = OpenPlainFile(at.folder.Get(), at.leaf, O_WRONLY | O_APPEND);
    if (fd.Valid()) {
      if (!WriteOnceAndClose(fd, bytes)) return Status::LastError("append to " + path);
      return Status::Ok();
    }
    if (errno != ENOENT) return PlainFileFailure("open", path);  // a link or another kind of file: skipped
    UniqueFd fresh = OpenPlainFile(at.folder.Get(), at.leaf, O_WRONLY | O_CREAT | O_EXCL | O_APPEND, mode);
    if (fresh.Valid()) {
      std::string all;
      all.reserve(prefixWhenNew->size() + bytes.size());
      all.append(*prefixWhenNew).append(bytes);
      if (!WriteOnceAndClose(fresh, all)) return Status::LastError("write " + path);
      return Status::Ok();
    }
    if (errno != EEXIST) return PlainFileFailure("create", path);  // someone else created it: append
  }
  return Status(StatusCode::kIoError, "append to " + path + ": created and removed again by others");
}

Status AnchoredReplaceFileBytes(const std::string& path, std::string_view bytes, bool flush) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, false, at) != Walk::kOpened) return at.why;
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  const std::string tmp = at.leaf + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(rng());
  UniqueFd fd =
      OpenPlainFile(at.folder.Get(), tmp, O_WRONLY | O_CREAT | O_EXCL, NewFileMode(at.folder.Get()));
  if (!fd.Valid()) return PlainFileFailure("create a temporary file beside", path);
  TakeOwnershipOf(fd.Get(), at.folder.Get(), at.leaf);
  Status status;
  if (!WriteAll(fd.Get(), bytes)) status = Status::LastError("write a temporary file beside " + path);
  if (status && flush && ::fsync(fd.Get()) != 0)
    status = Status::LastError("flush a temporary file beside " + path);
  if (!fd.Close() && status) status = Status::LastError("close a temporary file beside " + path);
  // renameat replaces the name itself: a link there is replaced, not followed.
  if (status && ::renameat(at.folder.Get(), tmp.c_str(), at.folder.Get(), at.leaf.c_str()) != 0)
    status = Status::LastError("replace " + path);
  if (!status) ::unlinkat(at.folder.Get(), tmp.c_str(), 0);
  return status;
}

bool AnchoredFileExists(const std::string& path) {
  UniqueFd folder;
  if (OpenAnchoredFolder(path, folder) == Walk::kOpened) return true;
  AnchoredParent at;
  if (OpenAnchoredParent(path, false, at) != Walk::kOpened) return false;
  struct stat st {};
  return ::fstatat(at.folder.Get(), at.leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode);
}

Status AnchoredCreateFolder(const std::string& path) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, false, at) != Walk::kOpened) return at.why;
  if (!MakeFolderAt(at.folder.Get(), at.leaf)) return Status::LastError("create folder " + path);
  return Status::Ok();
}

std::vector<std::string> AnchoredListFilesBelow(const std::string& folder, std::string_view suffix) {
  std::vector<std::string> out;
  UniqueFd fd;
  if (OpenAnchoredFolder(folder, fd) != Walk::kOpened) return out;
  ForEachFileBelow(fd.Get(), WithoutTrailingSlashes(folder), suffix,
                   [&](int, const std::string&, const std::string& path) { out.push_back(path); });
  return out;
}

Status AnchoredForceRemoveFile(const std::string& path) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, false, at) != Walk::kOpened) return at.why;
  // Removing a name needs no right on the file; a link is removed itself.
  if (::unlinkat(at.folder.Get(), at.leaf.c_str(), 0) != 0) return Status::LastError("remove " + path);
  return Status::Ok();
}

Result<int> AnchoredOpenLockFile(const std::string& path) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, false, at) != Walk::kOpened) return at.why;
  const mode_t mode = NewFileMode(at.folder.Get(), true);
  UniqueFd fd = OpenPlainFile(at.folder.Get(), at.leaf, O_RDWR | O_CREAT, mode);
  // A lock made by another account may be read-only to us; flock works on
  // a descriptor opened for reading too.
  if (!fd.Valid() && errno == EACCES) fd = OpenPlainFile(at.folder.Get(), at.leaf, O_RDONLY);
  if (!fd.Valid()) return PlainFileFailure("open lock file", path);
  // Whoever may open a lock may hold it for ever: keep ours to those who
  // may write beside it.
  struct stat st {};
  if (::fstat(fd.Get(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 0777) != mode)
    (void)::fchmod(fd.Get(), mode);
  return fd.Release();
}

}  // namespace posix

void SetDataFolder(const std::string& folder) {
  std::lock_guard lock(posix::DataFolderMutex());
  posix::DataFolderText() =
      folder.empty() ? std::string() : posix::WithoutTrailingSlashes(NativePath(folder));
}

std::string DataFolder() {
  std::lock_guard lock(posix::DataFolderMutex());
  return posix::DataFolderText();
}

std::size_t RemoveFilesBelow(const std::string& folder, std::string_view suffix,
                             const std::function<bool(const std::string& path)>& shouldRemove) {
  posix::UniqueFd fd;
  bool checked = true;
  Status why;
  switch (posix::OpenAnchoredFolder(folder, fd, &why)) {
    case posix::Walk::kRefused:
      if (!why.IsNotFound()) LogWarning("old log files not removed", why);
      return 0;
    case posix::Walk::kOutside:
      fd = posix::UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!fd.Valid() && errno != ENOENT)
        LogWarning("old log files not removed", Status::LastError("open folder " + folder));
      checked = false;
      break;
    case posix::Walk::kOpened: break;
  }
  if (!fd.Valid()) return 0;
  std::size_t removed = 0;
  posix::ForEachFileIn(
      fd.Get(), posix::WithoutTrailingSlashes(folder), suffix, checked,
      [&](int in, const std::string& name, const std::string& path) {
        if (!shouldRemove(path)) return;
        if (::unlinkat(in, name.c_str(), 0) == 0) {
          ++removed;
        } else {
          LogWarning("old log file not removed", Status::LastError("remove " + path));
        }
      },
      0);
  return removed;
}

Result<std::vector<std::string>> EnterFolderHolding(const std::string& root, std::string_view folder,
                                                    const std::vector<std::string>& paths) {
  std::vector<std::string> rootNames, folderNames, names;
  if (root.empty() || !posix::SplitNames(root, rootNames) || !posix::SplitNames(folder, folderNames))
    return Status(StatusCode::kInvalidArgument, "folder " + std::string(folder) + " in " + root);
  Status why;
  posix::UniqueFd held = posix::WalkFolders(posix::OpenRoot(root, &why), folderNames, folderNames.size(),
                                            false, &why, posix::WithoutTrailingSlashes(root));
  if (!held.Valid()) return why;
  std::vector<std::string> prefix = rootNames;
  prefix.insert(prefix.end(), folderNames.begin(), folderNames.end());

  std::vector<std::string> relative;
  for (const std::string& path : paths) {
    const Status outside(StatusCode::kAccessDenied,
                         path + " is not in the folder " + root + "/" + std::string(folder));
    if (path.empty() || (path[0] == '/') != (root[0] == '/')) return outside;
    if (!posix::SplitNames(path, names) || names.size() <= prefix.size() ||
        !std::equal(prefix.begin(), prefix.end(), names.begin()))
      return outside;
    posix::UniqueFd at(::dup(held.Get()));
    std::string walked = root + "/" + std::string(folder);
    for (std::size_t i = prefix.size(); i + 1 < names.size() && at.Valid(); ++i) {
      walked += "/" + names[i];
      at = posix::OpenSubfolder(at.Get(), names[i], false, &why, walked);
    }
    if (!at.Valid()) return why;
    if (!posix::OpenPlainFile(at.Get(), names.back(), O_RDONLY).Valid())
      return posix::PlainFileFailure("open", path);
    std::string rest;
    for (std::size_t i = prefix.size(); i < names.size(); ++i) rest += (rest.empty() ? "" : "/") + names[i];
    relative.push_back(std::move(rest));
  }
  if (::fchdir(held.Get()) != 0) return Status::LastError("enter folder " + root + "/" + std::string(folder));
  return relative;
}

}  // namespace platform
