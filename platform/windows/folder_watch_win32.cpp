// FolderWatch on ReadDirectoryChangesW: the folder is opened for
// overlapped reads of its changes, one read is always pending from the
// moment the watch is made (the system records changes only while one is),
// and a wait is for its event or for a stop event that the stop token
// sets.

#include "platform/windows/win32.h"  // first: before any other system header

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

#include "platform/folder_watch.h"
#include "platform/log.h"
#include "platform/windows/anchored_walk_win32.h"
#include "platform/windows/stoppable_wait.h"
#include "platform/windows/wide_text.h"

namespace platform {

FolderWatch::~FolderWatch() = default;

namespace {

using windows::UniqueHandle;

constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                          FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

wchar_t FoldCase(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<wchar_t>(c + 32);
  return c;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

// One folder's changes read with ReadDirectoryChangesW: one read always
// pending, its event set when it finished.
class ChangeReader {
 public:
  ChangeReader(UniqueHandle folder, UniqueHandle event, std::wstring name, DWORD filter)
      : folder_(std::move(folder)), event_(std::move(event)), name_(std::move(name)), filter_(filter) {}
  ~ChangeReader() {
    if (pending_) {
      // The system writes into buffer_ until the read is cancelled.
      ::CancelIoEx(folder_.get(), &overlapped_);
      DWORD ignored = 0;
      ::GetOverlappedResult(folder_.get(), &overlapped_, &ignored, TRUE);
    }
  }
  ChangeReader(const ChangeReader&) = delete;
  ChangeReader& operator=(const ChangeReader&) = delete;

  HANDLE Event() const { return event_.get(); }
  HANDLE Folder() const { return folder_.get(); }

  // Starts the next read of changes.
  Status Issue() {
    ::ResetEvent(event_.get());
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.get();
    if (!::ReadDirectoryChangesW(folder_.get(), buffer_, sizeof buffer_, FALSE, filter_, nullptr,
                                 &overlapped_, nullptr)) {
      pending_ = false;
      return Status::LastError("watch for changes");
    }
    pending_ = true;
    return Status::Ok();
  }

  enum class Outcome { kNothing, kOther, kNamed, kFailed };

  // Takes the finished read, if there is one, and starts the next: what it
  // saw. Failed when the folder cannot be read any more.
  Outcome Collect() {
    if (!pending_) return Outcome::kFailed;
    if (::WaitForSingleObject(event_.get(), 0) != WAIT_OBJECT_0) return Outcome::kNothing;
    DWORD bytes = 0;
    const bool done = ::GetOverlappedResult(folder_.get(), &overlapped_, &bytes, FALSE) != 0;
    const DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
    if (!done && error == ERROR_IO_INCOMPLETE) return Outcome::kNothing;
    pending_ = false;
    Outcome outcome = Outcome::kNamed;  // too many changes to tell: maybe ours
    if (!done && error != ERROR_NOTIFY_ENUM_DIR) return Outcome::kFailed;
    if (done && bytes > 0) outcome = Concerns(bytes) ? Outcome::kNamed : Outcome::kOther;
    if (Status next = Issue(); !next) {
      LogDebug(next.ToString());
      return Outcome::kFailed;
    }
    return outcome;
  }

 private:
  bool Concerns(DWORD bytes) const {
    bool concerns = false;
    for (DWORD at = 0; at + offsetof(FILE_NOTIFY_INFORMATION, FileName) <= bytes;) {
      FILE_NOTIFY_INFORMATION record;
      std::memcpy(&record, buffer_ + at, offsetof(FILE_NOTIFY_INFORMATION, FileName));
      std::wstring name(record.FileNameLength / sizeof(wchar_t), L'\0');
      std::memcpy(name.data(), buffer_ + at + offsetof(FILE_NOTIFY_INFORMATION, FileName),
                  record.FileNameLength);
      if (SameName(name, name_)) concerns = true;
      if (record.NextEntryOffset == 0) break;
      at += record.NextEntryOffset;
    }
    return concerns;
  }

  UniqueHandle folder_;
  UniqueHandle event_;  // manual-reset: the read finished
  std::wstring name_;
  DWORD filter_;
  OVERLAPPED overlapped_{};
  alignas(DWORD) char buffer_[16384];
  bool pending_ = false;
};

Result<std::unique_ptr<ChangeReader>> OpenReader(const std::wstring& folder, std::wstring name,
                                                 DWORD filter) {
  // Shared with everything, so that the folder can still be removed or
  // moved while it is watched.
  UniqueHandle handle = windows::MakeUniqueFileHandle(
      ::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, windows::kShareAll, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
  if (!handle) return Status::LastError("open the folder to watch");
  UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) return Status::LastError("event to watch");
  auto reader = std::make_unique<ChangeReader>(std::move(handle), std::move(event), std::move(name), filter);
  if (Status started = reader->Issue(); !started) return started;
  return reader;
}

// How often a long wait looks whether the folder itself is still there:
// a folder that is removed while it is watched stays "delete pending" until
// the watch lets go of it, so neither it nor (on some systems) its parent
// reports the removal.
constexpr std::chrono::milliseconds kLookAtFolder(1000);

// Watches the file's folder for the file, and the folder above it for the
// folder itself: the system tells nobody that a watched folder was removed
// or moved away, but its parent sees the name go.
class ChangesWatch final : public FolderWatch {
 public:
  ChangesWatch(std::unique_ptr<ChangeReader> files, std::unique_ptr<ChangeReader> parent, std::wstring path)
      : files_(std::move(files)), parent_(std::move(parent)), path_(std::move(path)) {
    if (!::GetFileInformationByHandle(files_->Folder(), &identity_)) identity_ = {};
  }

  Result Wait(std::chrono::milliseconds timeout, std::stop_token stop) override {
    if (stop.stop_requested()) return Result::kStopped;
    if (lost_ || Collect()) return Result::kChanged;
    const bool forever = timeout.count() < 0 || timeout == std::chrono::milliseconds::max();
    const auto deadline =
        forever ? std::chrono::steady_clock::time_point::max() : std::chrono::steady_clock::now() + timeout;
    for (;;) {
      std::chrono::milliseconds slice(kLookAtFolder);
      if (!forever) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) return Result::kTimedOut;
        slice = std::min(slice, left);
      }
      HANDLE events[2] = {files_->Event(), nullptr};
      std::size_t count = 1;
      if (parent_) events[count++] = parent_->Event();
      const windows::StoppableWait woken =
          windows::WaitForAnyOrStop(std::span<const HANDLE>(events, count), slice, stop);
      if (woken.kind == windows::StoppableWait::kStopped) return Result::kStopped;
      if (woken.kind == windows::StoppableWait::kTimedOut) {
        if (!forever && std::chrono::steady_clock::now() >= deadline) return Result::kTimedOut;
        if (FolderGone()) {
          lost_ = true;
          return Result::kChanged;
        }
        continue;
      }
      if (woken.kind == windows::StoppableWait::kFailed) {
        LogWarning("folder watch given up", Status::LastError("wait for changes"));
        lost_ = true;
        return Result::kChanged;
      }
      if (Collect()) return Result::kChanged;
      // changes of other files
    }
  }

  bool Lost() const override { return lost_; }

 private:
  // Takes what the readers saw; true when it concerned the file or the
  // folder itself.
  bool Collect() {
    bool changed = false;
    switch (files_->Collect()) {
      case ChangeReader::Outcome::kFailed: lost_ = true; return true;
      case ChangeReader::Outcome::kNamed: changed = true; break;
      default: break;
    }
    if (parent_) {
      switch (parent_->Collect()) {
        case ChangeReader::Outcome::kNothing:
        case ChangeReader::Outcome::kOther: break;
        case ChangeReader::Outcome::kFailed:
          parent_.reset();  // the folder itself is still watched
          [[fallthrough]];
        case ChangeReader::Outcome::kNamed:
          if (FolderGone()) {
            lost_ = true;
            return true;
          }
          break;
      }
    }
    return changed;
  }

  // Whether the folder's path no longer names the watched folder.
  bool FolderGone() const {
    const UniqueHandle now = windows::MakeUniqueFileHandle(
        ::CreateFileW(path_.c_str(), FILE_READ_ATTRIBUTES, windows::kShareAll, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!now || !::GetFileInformationByHandle(now.get(), &info)) return true;
    // A folder that is being removed still opens until the last handle
    // (this watch's own) goes.
    FILE_STANDARD_INFO standard{};
    if (::GetFileInformationByHandleEx(now.get(), FileStandardInfo, &standard, sizeof standard) &&
        standard.DeletePending)
      return true;
    return info.dwVolumeSerialNumber != identity_.dwVolumeSerialNumber ||
           info.nFileIndexHigh != identity_.nFileIndexHigh || info.nFileIndexLow != identity_.nFileIndexLow;
  }

  std::unique_ptr<ChangeReader> files_;
  std::unique_ptr<ChangeReader> parent_;
  std::wstring path_;
  BY_HANDLE_FILE_INFORMATION identity_{};
  bool lost_ = false;
};

}  // namespace

std::unique_ptr<FolderWatch> FolderWatch::ForFile(const std::string& file) {
  const auto slash = file.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash == 0 ? 1 : slash);
  const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  const std::wstring path = windows::WideFromLatin1(folder);
  platform::Result<std::unique_ptr<ChangeReader>> files =
      OpenReader(path, windows::WideFromLatin1(name), kFilter);
  if (!files) {
    LogDebug("watch " + folder + ": " + files.Status().ToString());
    return nullptr;
  }
  // The folder above, for the folder's own name (none above a drive's root).
  std::unique_ptr<ChangeReader> parent;
  wchar_t full[MAX_PATH * 4];
  wchar_t* leaf = nullptr;
  const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, &leaf);
  if (length > 0 && length < MAX_PATH * 4 && leaf != nullptr && leaf > full) {
    const std::wstring leafName = leaf;
    std::wstring above(full, static_cast<std::size_t>(leaf - full));
    if (platform::Result<std::unique_ptr<ChangeReader>> reader =
            OpenReader(above, leafName, FILE_NOTIFY_CHANGE_DIR_NAME)) {
      parent = std::move(*reader);
    } else {
      LogDebug("watch above " + folder + ": " + reader.Status().ToString());
    }
  }
  return std::make_unique<ChangesWatch>(std::move(*files), std::move(parent), path);
}

}  // namespace platform
