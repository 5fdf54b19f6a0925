#include "platform/windows/win32.h"  // first: before any other system header

#include <algorithm>
#include <random>
#include <string>
#include <utility>

#include "platform/replacement_file.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

// CopyFileEx copies by name into a file it makes itself; here the
// temporary file is open already (and is edited after the copy), so the
// copy is a read and write loop in large pieces. The replaced file is
// removed by MoveFileEx itself.

namespace platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring TemporaryName(const std::wstring& path) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  return path + L".tmp." + std::to_wstring(::GetCurrentProcessId()) + L"." + std::to_wstring(rng());
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

bool WriteAllAt(HANDLE file, std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    OVERLAPPED o = At(offset);
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, &o) || written == 0) return false;
    bytes.remove_prefix(written);
    offset += written;
  }
  return true;
}

}  // namespace

struct ReplacementFile::State {
  std::string path;  // as given, for messages
  std::wstring target;
  std::wstring temporary;
  windows::UniqueHandle file;
  std::uint64_t size = 0;
  bool placed = false;

  ~State() {
    file.reset();
    if (!placed && !temporary.empty()) ::DeleteFileW(temporary.c_str());
  }

  Status Failure(const std::string& what) const { return Status::LastError(what + " " + path); }
};

Result<ReplacementFile> ReplacementFile::Create(const std::string& path) {
  auto state = std::make_unique<State>();
  state->path = path;
  state->target = windows::WideFromLatin1(path);
  const std::wstring temporary = TemporaryName(state->target);
  state->file =
      windows::MakeUniqueFileHandle(::CreateFileW(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!state->file) return state->Failure("create a temporary file for");
  state->temporary = temporary;
  return ReplacementFile(std::move(state));
}

ReplacementFile::ReplacementFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
ReplacementFile::~ReplacementFile() = default;
ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept = default;
ReplacementFile& ReplacementFile::operator=(ReplacementFile&& other) noexcept = default;

std::uint64_t ReplacementFile::Size() const { return state_ ? state_->size : 0; }

Result<std::uint64_t> ReplacementFile::CopyFrom(const std::string& source) {
  if (!state_ || !state_->file) return Status(StatusCode::kInvalidArgument, "copy into a placed file");
  // Shared for writing and deletion: the engine goes on appending to a log
  // while it is copied, and may rename over it.
  const windows::UniqueHandle in = windows::MakeUniqueFileHandle(
      ::CreateFileW(windows::WideFromLatin1(source).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!in) return Status::LastError("open " + source);
  std::string buffer(std::size_t{1} << 20, '\0');
  std::uint64_t copied = 0;
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr))
      return Status::LastError("read " + source);
    if (n == 0) break;
    if (!WriteAllAt(state_->file.get(), std::string_view(buffer.data(), n), state_->size + copied))
      return state_->Failure("write the temporary file for");
    copied += n;
  }
  state_->size += copied;
  return copied;
}

Status ReplacementFile::Append(std::string_view bytes) { return WriteAt(Size(), bytes); }

Result<std::string> ReplacementFile::ReadAt(std::uint64_t offset, std::size_t length) const {
  if (!state_ || !state_->file) return Status(StatusCode::kInvalidArgument, "read a placed file");
  std::string bytes(length, '\0');
  std::size_t got = 0;
  while (got < length) {
    OVERLAPPED o = At(offset + got);
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - got, 1u << 30));
    if (!::ReadFile(state_->file.get(), bytes.data() + got, chunk, &n, &o)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return state_->Failure("read the temporary file for");
    }
    if (n == 0) break;
    got += n;
  }
  bytes.resize(got);
  return bytes;
}

Status ReplacementFile::WriteAt(std::uint64_t offset, std::string_view bytes) {
  if (!state_ || !state_->file) return Status(StatusCode::kInvalidArgument, "write a placed file");
  if (!WriteAllAt(state_->file.get(), bytes, offset)) return state_->Failure("write the temporary file for");
  state_->size = std::max<std::uint64_t>(state_->size, offset + bytes.size());
  return Status();
}

Status ReplacementFile::Flush() {
  if (!state_ || !state_->file) return Status(StatusCode::kInvalidArgument, "flush a placed file");
  if (!::FlushFileBuffers(state_->file.get())) return state_->Failure("flush the temporary file for");
  return Status();
}

Status ReplacementFile::Commit(OldFile) {
  if (!state_ || !state_->file) return Status(StatusCode::kInvalidArgument, "commit a placed file");
  state_->file.reset();
  // The old file goes with the move; readers that opened it with sharing
  // for deletion keep reading it.
  if (!::MoveFileExW(state_->temporary.c_str(), state_->target.c_str(), MOVEFILE_REPLACE_EXISTING))
    return state_->Failure("rename over");
  state_->placed = true;
  return Status();
}

}  // namespace platform
