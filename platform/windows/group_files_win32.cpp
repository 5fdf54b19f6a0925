#include "platform/windows/win32.h"  // first: before any other system header

#include <random>
#include <string>
#include <utility>

#include "platform/group_files.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/whole_file_lock.h"

// Who may use the files is left to the folder's inherited access list:
// Windows has no group mode bits to set per file.

namespace platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

Status MakeGroupFolder(const std::filesystem::path& folder) {
  if (::CreateDirectoryW(folder.c_str(), nullptr)) return Status::Ok();
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return Status::LastError("create folder " + folder.string());
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Status::LastError("attributes of " + folder.string());
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return Status(StatusCode::kAlreadyExists, folder.string() + " is not a folder");
  return Status::Ok();
}

Result<std::string> ReadGroupFile(const std::filesystem::path& file, std::size_t limit) {
  // Shared for deletion too, so that a writer can rename over the file
  // while it is read, as on POSIX.
  const windows::UniqueHandle handle = windows::MakeUniqueFileHandle(::CreateFileW(
      file.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return Status::LastError("open " + file.string());
  std::string out;
  char buffer[8192];
  while (out.size() < limit) {
    DWORD n = 0;
    if (!::ReadFile(handle.get(), buffer, sizeof buffer, &n, nullptr) || n == 0) break;
    out.append(buffer, n);
  }
  return out;
}

Status ReplaceGroupFile(const std::filesystem::path& file, std::string_view content) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  const std::filesystem::path tmp =
      file.parent_path() / (".tmp." + std::to_string(::GetCurrentProcessId()) + "." + std::to_string(rng()));
  Status status;
  {
    const windows::UniqueHandle handle = windows::MakeUniqueFileHandle(
        ::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return Status::LastError("create " + tmp.string());
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
      const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
      DWORD n = 0;
      if (!::WriteFile(handle.get(), p, chunk, &n, nullptr) || n == 0) {
        status = Status::LastError("write " + tmp.string());
        break;
      }
      p += n;
      left -= n;
    }
  }  // closed before the rename
  if (status && !::MoveFileExW(tmp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING))
    status = Status::LastError("replace " + file.string());
  if (!status) ::DeleteFileW(tmp.c_str());
  return status;
}

Status RemoveGroupFile(const std::filesystem::path& file) {
  if (!::DeleteFileW(file.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
    return Status::LastError("remove " + file.string());
  return Status::Ok();
}

GroupFileLock::GroupFileLock(const std::filesystem::path& file, Kind kind) {
  windows::UniqueHandle handle =
      windows::MakeUniqueFileHandle(::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) {
    status_ = Status::LastError("open lock file " + file.string());
    return;
  }
  if (platform::Status locked = windows::LockWholeFile(handle.get(), kind == Kind::kExclusive, file.string());
      !locked) {
    status_ = std::move(locked);
    return;
  }
  handle_ = reinterpret_cast<NativeHandle>(handle.release());
}

GroupFileLock::~GroupFileLock() {
  if (handle_ == kNoHandle) return;
  windows::UnlockWholeFileAndClose(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace platform
