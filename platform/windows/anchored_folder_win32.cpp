// The walk from the data folder on Windows (see anchored_walk_win32.h), the
// handle helpers the file layer shares with it, and the functions of
// platform/anchored_folder.h.
//
// Who may write in the data folder is left to the access lists the folder
// hands down: the walk refuses what links elsewhere (symbolic links,
// junctions, hard-linked files, devices), not what others may write.

#include "platform/windows/win32.h"  // first: before any other system header

#include <algorithm>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "platform/anchored_folder.h"
#include "platform/file_system.h"
#include "platform/log.h"
#include "platform/windows/anchored_walk_win32.h"
#include "platform/windows/wide_text.h"

namespace platform {
namespace windows {

namespace {

constexpr int kMaxDepth = 64;
// Held folders are shared with readers and writers of their names, but
// nobody may rename or remove them while they are held.
constexpr DWORD kShareHeld = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::mutex& DataFolderMutex() {
  static std::mutex m;
  return m;
}
std::string& DataFolderText() {
  static std::string folder;
  return folder;
}

char FoldCase(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 'A' && u <= 'Z') return static_cast<char>(u + 32);
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char>(u + 32);
  return c;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

std::string WithoutTrailingSeparators(std::string folder) {
  while (folder.size() > 1 && IsSeparator(folder.back())) {
    if (folder.size() == 3 && folder[1] == ':') break;  // "C:\" stays a drive's root
    folder.pop_back();
  }
  return folder;
}

// The names of a path; false when one of them is "." or "..".
bool SplitNames(std::string_view path, std::vector<std::string>& names) {
  names.clear();
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::string_view name = path.substr(start, end - start);
    if (name == "." || name == "..") return false;
    if (!name.empty()) names.emplace_back(name);
    start = end + 1;
  }
  return true;
}

// The names of `path` below the data folder, or false when it is not below.
bool NamesBelowDataFolder(const std::string& path, std::string& root, std::vector<std::string>& names,
                          bool& refused) {
  root = DataFolder();
  refused = false;
  if (root.empty() || path.size() < root.size() ||
      !SameName(std::string_view(path).substr(0, root.size()), root))
    return false;
  if (path.size() > root.size() && !IsSeparator(path[root.size()]) && !IsSeparator(root.back())) return false;
  if (!SplitNames(std::string_view(path).substr(root.size()), names)) refused = true;
  return true;
}

DWORD AttributesOf(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
    return INVALID_FILE_ATTRIBUTES;
  return tag.FileAttributes;
}

// Opens a folder on the way down and checks it: a real folder, no reparse
// point. The root is opened as its path names it.
Result<UniqueHandle> OpenHeldFolder(const std::wstring& path, bool isRoot, const std::string& what) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (isRoot ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  Result<UniqueHandle> folder = OpenFile(path, FILE_READ_ATTRIBUTES, kShareHeld, OPEN_EXISTING, flags, what);
  if (!folder) return folder;
  const DWORD attributes = AttributesOf(folder->get());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Status::LastError("attributes of " + what);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return Status(StatusCode::kAccessDenied, what + ": a link or no folder");
  return folder;
}

bool WalkFolders(const std::string& root, const std::vector<std::string>& names, std::size_t count,
                 AnchoredParent& out) {
  out.held.clear();
  out.folder = WideFromLatin1(root);
  Result<UniqueHandle> folder = OpenHeldFolder(out.folder, true, root);
  if (!folder) {
    LogDebug(folder.Status().ToString());
    return false;
  }
  out.held.push_back(std::move(*folder));
  std::string text = root;
  for (std::size_t i = 0; i < count; ++i) {
    text += "\\" + names[i];
    out.folder += L"\\" + WideFromLatin1(names[i]);
    Result<UniqueHandle> sub = OpenHeldFolder(out.folder, false, text);
    if (!sub) {
      LogDebug(sub.Status().ToString());
      return false;
    }
    out.held.push_back(std::move(*sub));
  }
  return true;
}

void ForEachFileIn(const std::wstring& folder, const std::string& base, std::string_view suffix, bool hold,
                   const std::function<void(const std::wstring&, const std::string&)>& visit, int depth) {
  if (depth > kMaxDepth) return;
  WIN32_FIND_DATAW entry{};
  std::vector<std::pair<std::wstring, std::string>> files, subfolders;
  {
    const UniqueFind find(::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry,
                                             FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find.Valid()) return;
    do {
      const std::wstring_view name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      // Symbolic links and junctions are neither followed nor listed.
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
      const std::optional<std::string> text = Latin1NameFromWide(name);
      if (!text) continue;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        subfolders.emplace_back(std::wstring(name), *text);
      else if (EndsWithNoCase(*text, suffix))
        files.emplace_back(std::wstring(name), *text);
    } while (::FindNextFileW(find.Get(), &entry));
  }
  for (const auto& [name, text] : files) visit(folder + L"\\" + name, base + "\\" + text);
  for (const auto& [name, text] : subfolders) {
    const std::wstring sub = folder + L"\\" + name;
    Result<UniqueHandle> held = UniqueHandle();
    if (hold) {
      held = OpenHeldFolder(sub, false, base + "\\" + text);
      if (!held) continue;
    }
    ForEachFileIn(sub, base + "\\" + text, suffix, hold, visit, depth + 1);
  }
}

Status RenameOver(const std::wstring& from, const std::wstring& to, const std::string& what) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return Status::Ok();
    const DWORD error = ::GetLastError();
    // A reader holding the old file open without sharing its removal:
    // readers are quick, so wait for it to let go.
    const bool busy = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!busy || std::chrono::steady_clock::now() >= deadline)
      return Status::FromSystem(static_cast<int>(error), "replace " + what);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::wstring TemporaryName(const std::wstring& leaf) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  return leaf + L".tmp." + std::to_wstring(::GetCurrentProcessId()) + L"." + std::to_wstring(rng());
}

// FileRenameInfoEx of FILE_INFO_BY_HANDLE_CLASS (Windows 10 1709 and
// later; the compiler's headers name it only for newer targets).
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// Renames the open file over `target` the POSIX way: the old file goes even
// while others hold it open. False where the system cannot (then the
// rename by name follows).
bool RenameWithPosixSemantics(HANDLE file, const std::wstring& path) {
  // The call takes the system's own form of a whole path.
  const DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return false;
  std::wstring full(length, L'\0');
  full.resize(::GetFullPathNameW(path.c_str(), length, full.data(), nullptr));
  const std::wstring target =
      full.rfind(L"\\\\", 0) == 0 ? L"\\??\\UNC\\" + full.substr(2) : L"\\??\\" + full;
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  if (info == nullptr) return false;
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::copy(target.begin(), target.end(), info->FileName);
  if (::SetFileInformationByHandle(file, kFileRenameInfoEx, info, static_cast<DWORD>(buffer.size())))
    return true;
  LogDebug(Status::LastError("rename with POSIX semantics").ToString());
  return false;
}

}  // namespace

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::optional<std::string> Latin1NameFromWide(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (const wchar_t c : wide) {
    if (static_cast<unsigned>(c) > 0xFF) return std::nullopt;
    out.push_back(static_cast<char>(c));
  }
  return out;
}

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
  return std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<long>(suffix.size()),
                    [&](char a, char b) { return lower(a) == lower(b); });
}

Status WriteAll(HANDLE file, std::string_view bytes, const std::string& what) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) return Status::LastError("write " + what);
    if (written == 0) return Status(StatusCode::kIoError, "write " + what + ": nothing written");
    bytes.remove_prefix(written);
  }
  return Status::Ok();
}

Status AppendLocked(HANDLE file, std::string_view bytes, const std::string& what) {
  if (bytes.size() > MAXDWORD)
    return Status(StatusCode::kInvalidArgument, "append to " + what + ": too long");
  OVERLAPPED appendLock{};
  appendLock.Offset = 0xFFFFFFF0;
  appendLock.OffsetHigh = 0x7FFFFFFF;
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &appendLock))
    return Status::LastError("lock " + what + " to append");
  DWORD written = 0;
  Status status;
  if (!::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
    status = Status::LastError("append to " + what);
  else if (written != bytes.size())
    status = Status(StatusCode::kIoError, "append to " + what + ": short write");
  if (!::UnlockFileEx(file, 0, 1, 0, &appendLock))
    LogWarning("append lock left to the close", Status::LastError("unlock " + what));
  return status;
}

Status ReadAll(HANDLE file, std::string& out, const std::string& what) {
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file, &size)) out.reserve(static_cast<std::size_t>(size.QuadPart));
  char buffer[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file, buffer, sizeof buffer, &n, nullptr)) return Status::LastError("read " + what);
    if (n == 0) return Status::Ok();
    out.append(buffer, n);
  }
}

Status CheckPlainFile(HANDLE file, bool anyLinkCount, const std::string& what) {
  if (::GetFileType(file) != FILE_TYPE_DISK)
    return Status(StatusCode::kAccessDenied, what + ": not a file on disk", ERROR_BAD_FILE_TYPE);
  const DWORD attributes = AttributesOf(file);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Status::LastError("attributes of " + what);
  if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
    return Status(StatusCode::kAccessDenied, what + ": a link or no plain file", ERROR_CANT_ACCESS_FILE);
  if (!anyLinkCount) {
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard))
      return Status::LastError("links of " + what);
    if (standard.NumberOfLinks != 1)
      return Status(StatusCode::kAccessDenied, what + ": a file with other names", ERROR_TOO_MANY_LINKS);
  }
  return Status::Ok();
}

Result<UniqueHandle> OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                              DWORD flags, const std::string& what) {
  UniqueHandle handle =
      MakeUniqueFileHandle(::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
  if (!handle) return Status::LastError("open " + what);
  return handle;
}

void KeepAttributesOf(const std::wstring& old, HANDLE file) {
  const DWORD attributes = ::GetFileAttributesW(old.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;  // a new file: nothing to keep
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (attributes & kKept) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = (attributes & kKept) | FILE_ATTRIBUTE_ARCHIVE;
    if (!::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic))
      LogWarning("attributes not kept on the replacement", Status::LastError("set attributes"));
  }
  // The access list: the replacement inherits the folder's like every new
  // file there. Only a list set on the old file itself, cut off from the
  // folder's (protected), is copied over.
  const UniqueHandle source = MakeUniqueFileHandle(::CreateFileW(
      old.c_str(), READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!source) {
    LogWarning("access list not kept on the replacement", Status::LastError("open the old file"));
    return;
  }
  DWORD needed = 0;
  ::GetKernelObjectSecurity(source.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  std::vector<char> descriptor(needed);
  if (needed == 0 || !::GetKernelObjectSecurity(source.get(), DACL_SECURITY_INFORMATION, descriptor.data(),
                                                needed, &needed)) {
    LogWarning("access list not kept on the replacement", Status::LastError("read it"));
    return;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  const bool isProtected = ::GetSecurityDescriptorControl(descriptor.data(), &control, &revision) &&
                           (control & SE_DACL_PROTECTED) != 0;
  // The descriptor says it is protected, so it stays cut off on the new file.
  if (isProtected && !::SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, descriptor.data()))
    LogWarning("access list not kept on the replacement", Status::LastError("set it"));
}

Status ReplaceByRename(const std::wstring& target, std::initializer_list<std::string_view> pieces, bool flush,
                       const std::string& what) {
  const std::wstring tmp = TemporaryName(target);
  Result<UniqueHandle> file = OpenFile(tmp, GENERIC_WRITE | WRITE_DAC | DELETE, 0, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, what + " (temporary)");
  if (!file) return file.Status();
  KeepAttributesOf(target, file->get());
  Status status;
  for (std::string_view piece : pieces) {
    if (status) status = WriteAll(file->get(), piece, what);
  }
  if (status && flush && !::FlushFileBuffers(file->get())) status = Status::LastError("flush " + what);
  if (status && RenameWithPosixSemantics(file->get(), target)) return Status::Ok();
  file->reset();  // closed before the rename by name
  if (status) status = RenameOver(tmp, target, what);
  if (!status) ::DeleteFileW(tmp.c_str());
  return status;
}

Status AppendOrCreate(const std::function<Result<UniqueHandle>(DWORD disposition, DWORD share)>& open,
                      std::string_view bytes, std::string_view prefixWhenNew, const std::string& what) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    Result<UniqueHandle> file = open(OPEN_EXISTING, kShareAll);
    if (file) return AppendLocked(file->get(), bytes, what);
    if (file.Status().SystemError() == ERROR_SHARING_VIOLATION) {
      // Its creator is writing the first record.
      if (std::chrono::steady_clock::now() >= deadline) return file.Status();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (!file.Status().IsNotFound()) return file.Status();  // a link or another kind of file
    // Other writers are kept out until the prefix and the first record are
    // in; readers are not.
    Result<UniqueHandle> fresh = open(CREATE_NEW, FILE_SHARE_READ | FILE_SHARE_DELETE);
    if (fresh) {
      std::string all;
      all.reserve(prefixWhenNew.size() + bytes.size());
      all.append(prefixWhenNew).append(bytes);
      return AppendLocked(fresh->get(), all, what);
    }
    if (fresh.Status().Code() != StatusCode::kAlreadyExists) return fresh.Status();  // else: append
  }
}

bool IsBelowDataFolder(const std::string& path) {
  std::string root;
  std::vector<std::string> names;
  bool refused = false;
  return NamesBelowDataFolder(path, root, names, refused);
}

Walk OpenAnchoredParent(const std::string& path, AnchoredParent& out) {
  std::string root;
  std::vector<std::string> names;
  bool refused = false;
  if (!NamesBelowDataFolder(path, root, names, refused)) return Walk::kOutside;
  if (refused || names.empty()) return Walk::kRefused;
  if (!WalkFolders(root, names, names.size() - 1, out)) return Walk::kRefused;
  out.leaf = WideFromLatin1(names.back());
  return Walk::kOpened;
}

Walk OpenAnchoredFolder(const std::string& path, AnchoredParent& out) {
  std::string root;
  std::vector<std::string> names;
  bool refused = false;
  if (!NamesBelowDataFolder(path, root, names, refused)) return Walk::kOutside;
  if (refused) return Walk::kRefused;
  out.leaf.clear();
  return WalkFolders(root, names, names.size(), out) ? Walk::kOpened : Walk::kRefused;
}

Result<UniqueHandle> OpenPlainFile(const AnchoredParent& at, DWORD access, DWORD disposition,
                                   bool anyLinkCount, DWORD share) {
  const std::string what = Latin1NameFromWide(at.Path()).value_or("?");
  Result<UniqueHandle> file = OpenFile(at.Path(), access | FILE_READ_ATTRIBUTES, share, disposition,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, what);
  if (!file) return file;
  if (Status plain = CheckPlainFile(file->get(), anyLinkCount, what); !plain) return plain;
  return file;
}

void ForEachFileBelow(const std::wstring& folder, const std::string& base, std::string_view suffix, bool hold,
                      const std::function<void(const std::wstring& path, const std::string& text)>& visit) {
  ForEachFileIn(folder, base, suffix, hold, visit, 0);
}

Result<std::string> AnchoredReadFileBytes(const std::string& path) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, at) != Walk::kOpened) {
    // A folder on the way that does not exist is a missing file, not a refusal.
    if (::GetFileAttributesW(WideFromLatin1(path).c_str()) == INVALID_FILE_ATTRIBUTES &&
        (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND))
      return Status::LastError("read " + path);
    return Status(StatusCode::kAccessDenied, "walk to " + path);
  }
  // A second name for a file is no way in (making one needs the right to
  // write the file): read like any other.
  Result<UniqueHandle> file = OpenPlainFile(at, GENERIC_READ, OPEN_EXISTING, true);
  if (!file) return file.Status();
  std::string bytes;
  if (Status read = ReadAll(file->get(), bytes, path); !read) return read;
  return bytes;
}

Status AnchoredWriteFileBytes(const std::string& path, std::string_view bytes) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, at) != Walk::kOpened)
    return Status(StatusCode::kAccessDenied, "walk to " + path);
  // Truncated only once it is known to be a plain file of its own.
  Result<UniqueHandle> file = OpenPlainFile(at, GENERIC_WRITE, OPEN_ALWAYS);
  if (!file) return file.Status();
  if (!::SetEndOfFile(file->get())) return Status::LastError("truncate " + path);
  return WriteAll(file->get(), bytes, path);
}

Status AnchoredAppendFileBytes(const std::string& path, std::string_view bytes,
                               std::optional<std::string_view> prefixWhenNew) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, at) != Walk::kOpened)
    return Status(StatusCode::kAccessDenied, "walk to " + path);
  return AppendOrCreate(
      [&](DWORD disposition, DWORD share) { return OpenPlainFile(at, kAppend, disposition, false, share); },
      bytes, prefixWhenNew.value_or(std::string_view()), path);
}

Status AnchoredReplaceFileBytes(const std::string& path, std::initializer_list<std::string_view> pieces,
                                bool flush) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, at) != Walk::kOpened)
    return Status(StatusCode::kAccessDenied, "walk to " + path);
  // A rename replaces the name itself: a link there is replaced, not
  // followed. The temporary file is new (CREATE_NEW), so no link either.
  return ReplaceByRename(at.Path(), pieces, flush, path);
}

bool AnchoredFileExists(const std::string& path) {
  AnchoredParent at;
  if (OpenAnchoredFolder(path, at) == Walk::kOpened) return true;
  if (OpenAnchoredParent(path, at) != Walk::kOpened) return false;
  const DWORD attributes = ::GetFileAttributesW(at.Path().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

Status AnchoredCreateFolder(const std::string& path) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, at) != Walk::kOpened)
    return Status(StatusCode::kAccessDenied, "walk to " + path);
  if (!::CreateDirectoryW(at.Path().c_str(), nullptr)) return Status::LastError("create folder " + path);
  return Status::Ok();
}

std::vector<std::string> AnchoredListFilesBelow(const std::string& folder, std::string_view suffix) {
  std::vector<std::string> out;
  AnchoredParent at;
  if (OpenAnchoredFolder(folder, at) != Walk::kOpened) return out;
  ForEachFileBelow(at.folder, WithoutTrailingSeparators(folder), suffix, true,
                   [&](const std::wstring&, const std::string& text) { out.push_back(text); });
  return out;
}

namespace {

// Removes one file, read-only or not (DeleteFileW refuses a read-only
// file). DeleteFileW removes a link itself, never what it points to, and a
// link's attributes are left alone.
Status DeleteEvenReadOnly(const std::wstring& leaf, const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(leaf.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
      !::SetFileAttributesW(leaf.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}))
    LogWarning("read-only file left read-only", Status::LastError("make " + path + " writable"));
  if (!::DeleteFileW(leaf.c_str())) return Status::LastError("remove " + path);
  return Status::Ok();
}

}  // namespace

Status AnchoredForceRemoveFile(const std::string& path) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, at) != Walk::kOpened)
    return Status(StatusCode::kAccessDenied, "walk to " + path);
  return DeleteEvenReadOnly(at.Path(), path);
}

Result<UniqueHandle> AnchoredOpenLockFile(const std::string& path) {
  AnchoredParent at;
  if (OpenAnchoredParent(path, at) != Walk::kOpened)
    return Status(StatusCode::kAccessDenied, "walk to " + path);
  Result<UniqueHandle> file = OpenPlainFile(at, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  // A lock made by another account may be read-only to us; LockFileEx
  // works on a handle opened for reading too.
  if (!file && file.Status().Code() == StatusCode::kAccessDenied)
    file = OpenPlainFile(at, GENERIC_READ, OPEN_EXISTING);
  return file;
}

}  // namespace windows

void SetDataFolder(const std::string& folder) {
  std::lock_guard lock(windows::DataFolderMutex());
  windows::DataFolderText() =
      folder.empty() ? std::string() : windows::WithoutTrailingSeparators(NativePath(folder));
}

std::string DataFolder() {
  std::lock_guard lock(windows::DataFolderMutex());
  return windows::DataFolderText();
}

std::size_t RemoveFilesBelow(const std::string& folder, std::string_view suffix,
                             const std::function<bool(const std::string& path)>& shouldRemove) {
  windows::AnchoredParent at;
  bool checked = true;
  switch (windows::OpenAnchoredFolder(NativePath(folder), at)) {
    case windows::Walk::kRefused:
      LogWarning("files below " + folder + " not removed: the walk to the folder is refused");
      return 0;
    case windows::Walk::kOutside:
      at.folder = windows::WideFromLatin1(windows::WithoutTrailingSeparators(NativePath(folder)));
      checked = false;
      break;
    case windows::Walk::kOpened: break;
  }
  std::size_t removed = 0;
  windows::ForEachFileBelow(at.folder, windows::WithoutTrailingSeparators(folder), suffix, checked,
                            [&](const std::wstring& path, const std::string& text) {
                              if (!shouldRemove(text)) return;
                              if (const Status status = windows::DeleteEvenReadOnly(path, text))
                                ++removed;
                              else
                                LogWarning("file kept", status);
                            });
  return removed;
}

Result<std::vector<std::string>> EnterFolderHolding(const std::string& root, std::string_view folder,
                                                    const std::vector<std::string>& paths) {
  std::vector<std::string> rootNames, folderNames, names;
  if (root.empty() || !windows::SplitNames(root, rootNames) || !windows::SplitNames(folder, folderNames))
    return Status(StatusCode::kInvalidArgument, "enter " + root + ": not a folder path");
  const std::string rootText = windows::WithoutTrailingSeparators(NativePath(root));
  windows::AnchoredParent held;
  if (!windows::WalkFolders(rootText, folderNames, folderNames.size(), held))
    return Status(StatusCode::kAccessDenied, "enter " + rootText + ": a folder on the way is refused");
  std::vector<std::string> prefix = rootNames;
  prefix.insert(prefix.end(), folderNames.begin(), folderNames.end());

  std::vector<std::string> relative;
  for (const std::string& path : paths) {
    if (!windows::SplitNames(NativePath(path), names) || names.size() <= prefix.size() ||
        !std::equal(prefix.begin(), prefix.end(), names.begin(),
                    [](const std::string& a, const std::string& b) { return windows::SameName(a, b); }))
      return Status(StatusCode::kInvalidArgument, path + " is not below " + rootText);
    // The folders below the held one, walked and held like it.
    windows::AnchoredParent at;
    at.folder = held.folder;
    std::string text;
    for (std::size_t i = prefix.size(); i + 1 < names.size(); ++i) {
      at.folder += L"\\" + windows::WideFromLatin1(names[i]);
      Result<windows::UniqueHandle> sub = windows::OpenHeldFolder(at.folder, false, path);
      if (!sub) return sub.Status();
      at.held.push_back(std::move(*sub));
    }
    at.leaf = windows::WideFromLatin1(names.back());
    if (Result<windows::UniqueHandle> file = windows::OpenPlainFile(at, GENERIC_READ, OPEN_EXISTING); !file)
      return file.Status();
    std::string rest;
    for (std::size_t i = prefix.size(); i < names.size(); ++i) rest += (rest.empty() ? "" : "\\") + names[i];
    relative.push_back(std::move(rest));
  }
  // The working folder is held open by the system, shared with readers and
  // writers but not with a rename or a removal, as the walk held it.
  if (!::SetCurrentDirectoryW(held.folder.c_str())) return Status::LastError("enter " + rootText);
  return relative;
}

}  // namespace platform
