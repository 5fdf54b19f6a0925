// Programs started with CreateProcessW. The program is given its own path
// as its whole command line (no arguments), inherits the environment and
// the caller's console, and its standard error goes to a pipe when the
// caller captures it. A wait on the process also ends at a stop request.

#include "platform/windows/win32.h"  // first: before any other system header

#include <algorithm>
#include <span>
#include <stop_token>
#include <utility>

#include "platform/log.h"
#include "platform/process.h"
#include "platform/windows/stoppable_wait.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

namespace platform {
namespace {

using windows::UniqueHandle;

HANDLE AsHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }
NativeHandle FromHandle(HANDLE handle) { return reinterpret_cast<NativeHandle>(handle); }

// The exit code Terminate() gives: what a POSIX program ended by SIGTERM
// reports (128 + 15), so callers read one value on both systems.
constexpr UINT kTerminatedExitCode = 143;

// How often a wait that captures standard error empties the pipe, so that
// a program writing more than the pipe holds never blocks on it.
constexpr DWORD kPipeDrainMs = 50;

Status StartFailed(const std::string& path) { return Status::LastError("start " + path); }

}  // namespace

Result<Process> Process::Start(const std::string& path) { return Start(path, Options{}); }

Result<Process> Process::Start(const std::string& path, Options options) {
  const std::wstring widePath = windows::WideFromLatin1(path);
  const DWORD attributes = ::GetFileAttributesW(widePath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return StartFailed(path);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return Status(StatusCode::kInvalidArgument, "start " + path + ": a folder", ERROR_DIRECTORY);

  UniqueHandle readEnd;
  UniqueHandle writeEnd;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (options.captureErrorOutput) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!::CreatePipe(&read, &write, &inheritable, 64 * 1024)) return StartFailed(path);
    readEnd.reset(read);
    writeEnd.reset(write);
    // Only the write end goes to the program.
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = write;
  }

  std::wstring commandLine = L"\"" + widePath + L"\"";
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(widePath.c_str(), commandLine.data(), nullptr, nullptr,
                        options.captureErrorOutput ? TRUE : FALSE, 0, nullptr, nullptr, &startup, &info))
    return StartFailed(path);
  ::CloseHandle(info.hThread);
  // The program holds its own copy of the write end now: closing ours lets
  // the pipe report its end once the program (and its children) are gone.
  writeEnd.reset();
  return Process(FromHandle(info.hProcess), readEnd ? FromHandle(readEnd.release()) : kNoHandle);
}

Process::Process(Process&& other) noexcept
    : id_(std::exchange(other.id_, kNoHandle)),
      errorOutput_(std::exchange(other.errorOutput_, kNoHandle)),
      errors_(std::move(other.errors_)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Release();
    id_ = std::exchange(other.id_, kNoHandle);
    errorOutput_ = std::exchange(other.errorOutput_, kNoHandle);
    errors_ = std::move(other.errors_);
  }
  return *this;
}

Process::~Process() { Release(); }

void Process::Release() {
  // A program still running goes on without us; Windows keeps no zombie.
  CloseErrorOutput();
  if (id_ != kNoHandle) ::CloseHandle(AsHandle(id_));
  id_ = kNoHandle;
}

void Process::CloseErrorOutput() {
  if (errorOutput_ != kNoHandle) ::CloseHandle(AsHandle(errorOutput_));
  errorOutput_ = kNoHandle;
}

void Process::CollectErrorOutput() {
  if (errorOutput_ == kNoHandle) return;
  char buffer[4096];
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(AsHandle(errorOutput_), nullptr, 0, nullptr, &available, nullptr)) {
      CloseErrorOutput();  // ERROR_BROKEN_PIPE: every writer has gone
      return;
    }
    if (available == 0) return;
    DWORD got = 0;
    if (!::ReadFile(AsHandle(errorOutput_), buffer, std::min<DWORD>(available, sizeof buffer), &got,
                    nullptr) ||
        got == 0) {
      CloseErrorOutput();
      return;
    }
    const std::size_t room = kErrorOutputLimit - std::min(errors_.size(), kErrorOutputLimit);
    errors_.append(buffer, std::min<std::size_t>(got, room));
  }
}

std::optional<int> Process::Wait(std::chrono::milliseconds timeout, std::stop_token stop) {
  if (id_ == kNoHandle) return std::nullopt;
  const HANDLE process = AsHandle(id_);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    CollectErrorOutput();
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    std::chrono::milliseconds slice = std::max(left, std::chrono::milliseconds::zero());
    if (errorOutput_ != kNoHandle) slice = std::min(slice, std::chrono::milliseconds(kPipeDrainMs));
    const windows::StoppableWait woke =
        windows::WaitForAnyOrStop(std::span<const HANDLE>(&process, 1), slice, stop);
    if (woke.kind == windows::StoppableWait::kSignalled) {
      DWORD exitCode = 0;
      const bool known = ::GetExitCodeProcess(AsHandle(id_), &exitCode) != 0;
      if (!known) LogWarning("program ended, exit status unknown", Status::LastError("GetExitCodeProcess"));
      // What the program wrote is in the pipe now; a child it left behind
      // may hold the pipe open, so nothing more is waited for.
      CollectErrorOutput();
      CloseErrorOutput();
      ::CloseHandle(AsHandle(id_));
      id_ = kNoHandle;
      return known ? static_cast<int>(exitCode) : 255;
    }
    if (woke.kind == windows::StoppableWait::kFailed) {
      LogWarning("cannot wait for program", Status::LastError("WaitForMultipleObjects"));
      return std::nullopt;
    }
    if (woke.kind == windows::StoppableWait::kStopped) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
  }
}

void Process::Terminate() {
  if (id_ == kNoHandle) return;
  if (!::TerminateProcess(AsHandle(id_), kTerminatedExitCode) && ::GetLastError() != ERROR_ACCESS_DENIED) {
    // ACCESS_DENIED is what an already ended program gives.
    LogWarning("program not ended", Status::LastError("TerminateProcess"));
  }
}

std::string ExecutableName(const std::string& program) { return program + ".exe"; }

}  // namespace platform
