// Files and folders on the Win32 file API. Paths are Latin-1 text; each
// byte is the UTF-16 code unit of the same value, so the system's name of a
// path is the path itself, widened (wide_text.h). Files are opened in
// binary only: the bytes given are the bytes on disk.
//
// Every function that can fail builds its Status in one place and hands it
// to the caller, which decides whether the failure is worth a log line.

#include "platform/windows/win32.h"  // first: before any other system header

#include <system_error>
#include <utility>

#include "platform/file_system.h"
#include "platform/log.h"
#include "platform/windows/anchored_walk_win32.h"
#include "platform/windows/whole_file_lock.h"
#include "platform/windows/wide_text.h"

namespace platform {
namespace {

using windows::kShareAll;
using windows::OpenFile;
using windows::UniqueHandle;

// Appends with a handle that may only append: every WriteFile lands at the
// end of the file as it is then, whoever else appends.
using windows::kAppend;

std::wstring Wide(const std::string& native) { return windows::WideFromLatin1(native); }

// Whether the folder that holds a path's last name lies below the data
// folder: the file functions then take the walk.
bool Anchored(const std::string& native) { return windows::IsBelowDataFolder(native); }

std::int64_t Nanoseconds(std::int64_t hundreds) {
  // FILETIME counts 100 ns from 1601; the stamps count from 1970 like POSIX.
  constexpr std::int64_t kFrom1601To1970 = 116444736000000000LL;
  return (hundreds - kFrom1601To1970) * 100;
}

Result<std::string> Read(const std::string& path) {
  // Shared for deletion too, so that a writer can rename over the file
  // while it is read, as on POSIX.
  Result<UniqueHandle> file = OpenFile(Wide(path), GENERIC_READ, kShareAll, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, path);
  if (!file) return file.Status();
  if (::GetFileType(file->get()) != FILE_TYPE_DISK)
    return Status(StatusCode::kInvalidArgument, "read " + path + ": not a file", ERROR_BAD_FILE_TYPE);
  std::string bytes;
  if (Status read = windows::ReadAll(file->get(), bytes, path); !read) return read;
  return bytes;
}

Status Write(const std::string& path, std::string_view bytes) {
  Result<UniqueHandle> file = OpenFile(Wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, path);
  if (!file) return file.Status();
  return windows::WriteAll(file->get(), bytes, path);
}

Status AppendWithPrefix(const std::string& path, std::string_view bytes, std::string_view prefixWhenNew) {
  const std::wstring wide = Wide(path);
  return windows::AppendOrCreate(
      [&](DWORD disposition, DWORD share) {
        return OpenFile(wide, kAppend, share, disposition, FILE_ATTRIBUTE_NORMAL, path);
      },
      bytes, prefixWhenNew, path);
}

// A plain append is one whose new file gets no prefix: it waits for a
// creator's first record like the others.
Status Append(const std::string& path, std::string_view bytes) { return AppendWithPrefix(path, bytes, {}); }

Status WriteAndRename(const std::string& path, std::initializer_list<std::string_view> pieces, bool flush) {
  return windows::ReplaceByRename(Wide(path), pieces, flush, path);
}

Status MakeFolder(const std::string& path) {
  if (!::CreateDirectoryW(Wide(path).c_str(), nullptr)) return Status::LastError("create folder " + path);
  return Status::Ok();
}

Status ForceRemove(const std::string& path) {
  const std::wstring wide = Wide(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      !::SetFileAttributesW(wide.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}))
    LogWarning("read-only file left read-only", Status::LastError("make " + path + " writable"));
  if (!::DeleteFileW(wide.c_str())) return Status::LastError("remove " + path);
  return Status::Ok();
}

}  // namespace

std::string NativePath(std::string_view path) { return std::string(path); }

std::optional<std::string> NameFromNative(std::string_view name) { return std::string(name); }

Result<std::string> ReadFileBytes(const std::string& text) {
  const std::string path = NativePath(text);
  if (Anchored(path)) return windows::AnchoredReadFileBytes(path);
  return Read(path);
}

Status WriteFileBytes(const std::string& text, std::string_view bytes) {
  const std::string path = NativePath(text);
  return Anchored(path) ? windows::AnchoredWriteFileBytes(path, bytes) : Write(path, bytes);
}

Status AppendFileBytes(const std::string& text, std::string_view bytes) {
  const std::string path = NativePath(text);
  return Anchored(path) ? windows::AnchoredAppendFileBytes(path, bytes, std::nullopt) : Append(path, bytes);
}

Status AppendFileBytes(const std::string& text, std::string_view bytes, std::string_view prefixWhenNew) {
  const std::string path = NativePath(text);
  return Anchored(path) ? windows::AnchoredAppendFileBytes(path, bytes, prefixWhenNew)
                        : AppendWithPrefix(path, bytes, prefixWhenNew);
}

Status ReplaceFileBytes(const std::string& text, std::string_view bytes, bool flush) {
  const std::string path = NativePath(text);
  return Anchored(path) ? windows::AnchoredReplaceFileBytes(path, {bytes}, flush)
                        : WriteAndRename(path, {bytes}, flush);
}

Status PublishFileBytes(const std::string& text, std::initializer_list<std::string_view> pieces) {
  const std::string path = NativePath(text);
  return Anchored(path) ? windows::AnchoredReplaceFileBytes(path, pieces, false)
                        : WriteAndRename(path, pieces, false);
}

bool FileExists(const std::string& text) {
  const std::string path = NativePath(text);
  if (Anchored(path)) return windows::AnchoredFileExists(path);
  return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

FileStamp StampOf(const std::string& text) {
  const std::string path = NativePath(text);
  FileStamp stamp;
  // Opened for its attributes only, shared with everything, links followed.
  Result<UniqueHandle> file =
      OpenFile(Wide(path), FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, path);
  if (!file) return stamp;
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandle(file->get(), &info) ||
      !::GetFileInformationByHandleEx(file->get(), FileBasicInfo, &basic, sizeof basic)) {
    LogDebug(Status::LastError("stamp of " + path).ToString());
    return stamp;
  }
  stamp.exists = true;
  stamp.device = info.dwVolumeSerialNumber;
  stamp.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  stamp.modifiedNs = Nanoseconds(basic.LastWriteTime.QuadPart);
  stamp.changedNs = Nanoseconds(basic.ChangeTime.QuadPart);
  return stamp;
}

Status CreateFolder(const std::string& text) {
  const std::string path = NativePath(text);
  return Anchored(path) ? windows::AnchoredCreateFolder(path) : MakeFolder(path);
}

std::vector<std::string> ListFilesBelow(const std::string& folder, std::string_view suffix) {
  const std::string native = NativePath(folder);
  if (Anchored(native)) return windows::AnchoredListFilesBelow(native, suffix);
  std::string base = folder;
  while (base.size() > 1 && windows::IsSeparator(base.back()) && !(base.size() == 3 && base[1] == ':'))
    base.pop_back();
  std::vector<std::string> out;
  windows::ForEachFileBelow(Wide(NativePath(base)), base, suffix, false,
                            [&](const std::wstring&, const std::string& path) { out.push_back(path); });
  return out;
}

Status ForceRemoveFile(const std::string& text) {
  const std::string path = NativePath(text);
  return Anchored(path) ? windows::AnchoredForceRemoveFile(path) : ForceRemove(path);
}

InputFile::InputFile(const std::string& text) {
  const std::string path = NativePath(text);
  const std::wstring wide = Wide(path);
  // A folder cannot be opened as a file at all; say so as POSIX does.
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    throw StatusError(Status(StatusCode::kInvalidArgument, "open " + path + ": a folder", ERROR_DIRECTORY));
  Result<UniqueHandle> file = OpenFile(wide, GENERIC_READ, kShareAll, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, path);
  if (!file) throw StatusError(file.Status());
  if (::GetFileType(file->get()) != FILE_TYPE_DISK)
    throw StatusError(
        Status(StatusCode::kInvalidArgument, "open " + path + ": not a file", ERROR_BAD_FILE_TYPE));
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file->get(), &size)) throw StatusError(Status::LastError("size of " + path));
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  handle_ = reinterpret_cast<NativeHandle>(file->release());
}

InputFile::~InputFile() {
  if (handle_ != kNoHandle) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

InputFile::InputFile(InputFile&& other) noexcept : handle_(other.handle_), size_(other.size_) {
  other.handle_ = kNoHandle;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (handle_ != kNoHandle) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = other.handle_;
    size_ = other.size_;
    other.handle_ = kNoHandle;
  }
  return *this;
}

std::size_t InputFile::Read(char* buffer, std::size_t length) {
  if (handle_ == kNoHandle)
    throw StatusError(Status(StatusCode::kInvalidArgument, "read: no file", ERROR_INVALID_HANDLE));
  std::size_t total = 0;
  while (total < length) {
    const std::size_t left = length - total;
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD n = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer + total, chunk, &n, nullptr))
      throw StatusError(Status::LastError("read"));
    if (n == 0) break;
    total += n;
  }
  return total;
}

FileLock::FileLock(const std::string& text) {
  const std::string path = NativePath(text);
  Result<UniqueHandle> file = platform::Status(StatusCode::kNotFound, path);
  if (Anchored(path)) {
    file = windows::AnchoredOpenLockFile(path);
  } else {
    file = OpenFile(Wide(path), GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                    path);
    // A lock file made by another account may be read-only to us;
    // LockFileEx works on a handle opened for reading too.
    if (!file && file.Status().Code() == StatusCode::kAccessDenied)
      file = OpenFile(Wide(path), GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, path);
  }
  if (!file) {
    status_ = file.Status();  // the caller goes on without the lock
    return;
  }
  // Each FileLock has a handle of its own: a second lock of this process
  // waits like another process's.
  if (platform::Status locked = windows::LockWholeFile(file->get(), true, path); !locked) {
    status_ = std::move(locked);
    return;
  }
  handle_ = reinterpret_cast<NativeHandle>(file->release());
}

FileLock::~FileLock() {
  if (handle_ == kNoHandle) return;
  windows::UnlockWholeFileAndClose(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace platform
