#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {

// Programs whose Process object was dropped while they ran. They are
// reaped whenever another program starts or ends, so none stays a zombie
// for long and nobody blocks on them.
std::mutex& OrphanMutex() {
  static std::mutex m;
  return m;
}
std::vector<pid_t>& Orphans() {
  static std::vector<pid_t> v;
  return v;
}

void ReapOrphans() {
  std::lock_guard lock(OrphanMutex());
  auto& v = Orphans();
  for (auto it = v.begin(); it != v.end();) {
    pid_t r = ::waitpid(*it, nullptr, WNOHANG);
    if (r == *it || (r < 0 && errno == ECHILD))
      it = v.erase(it);
    else
      ++it;
  }
}

int StatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 255;
}

}  // namespace

Result<Process> Process::Start(const std::string& path) { return Start(path, Options{}); }

Result<Process> Process::Start(const std::string& path, Options options) {
  ReapOrphans();
  if (::access(path.c_str(), X_OK) != 0) return Status::LastError("start " + path);
  int errorPipe[2] = {-1, -1};
  if (options.captureErrorOutput && ::pipe2(errorPipe, O_CLOEXEC) != 0)
    return Status::LastError("start " + path + ": pipe");
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  // dup2 clears close-on-exec on the copy; both pipe ends themselves close.
  if (errorPipe[1] >= 0) ::posix_spawn_file_actions_adddup2(&actions, errorPipe[1], 2);
  pid_t pid = -1;
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  posix_spawnattr_t attr;
  ::posix_spawnattr_init(&attr);
  // The child starts with default signal handling and no blocked signals,
  // whatever the starting thread had (the host blocks SIGTERM).
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setsigdefault(&attr, &all);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  int rc = ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv, environ);
  ::posix_spawnattr_destroy(&attr);
  ::posix_spawn_file_actions_destroy(&actions);
  if (errorPipe[1] >= 0) ::close(errorPipe[1]);
  if (rc != 0) {
    if (errorPipe[0] >= 0) ::close(errorPipe[0]);
    return Status::FromSystem(rc, "start " + path);
  }
  if (errorPipe[0] >= 0) {
    ::fcntl(errorPipe[0], F_SETFL, ::fcntl(errorPipe[0], F_GETFL) | O_NONBLOCK);
  }
  return Process(pid, errorPipe[0]);
}

Process::Process(Process&& other) noexcept
    : id_(other.id_), errorOutput_(other.errorOutput_), errors_(std::move(other.errors_)) {
  other.id_ = -1;
  other.errorOutput_ = -1;
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Release();
    id_ = other.id_;
    errorOutput_ = other.errorOutput_;
    errors_ = std::move(other.errors_);
    other.id_ = -1;
    other.errorOutput_ = -1;
  }
  return *this;
}

void Process::CollectErrorOutput() {
  if (errorOutput_ < 0) return;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(errorOutput_), buffer, sizeof buffer);
    if (n > 0) {
      const std::size_t room = kErrorOutputLimit - std::min(errors_.size(), kErrorOutputLimit);
      errors_.append(buffer, std::min(static_cast<std::size_t>(n), room));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) CloseErrorOutput();  // every writer has gone
    return;                          // EAGAIN: nothing more for now
  }
}

void Process::CloseErrorOutput() {
  if (errorOutput_ >= 0) ::close(static_cast<int>(errorOutput_));
  errorOutput_ = -1;
}

Process::~Process() { Release(); }

void Process::Release() {
  // The program may still write; it then gets SIGPIPE, as with any reader
  // that has gone.
  CloseErrorOutput();
  if (id_ < 0) return;
  pid_t pid = static_cast<pid_t>(id_);
  id_ = -1;
  if (::waitpid(pid, nullptr, WNOHANG) == 0) {
    std::lock_guard lock(OrphanMutex());
    Orphans().push_back(pid);
  }
}

std::optional<int> Process::Wait(std::chrono::milliseconds timeout, std::stop_token stop) {
  if (id_ < 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto pause = std::chrono::milliseconds(5);
  for (;;) {
    CollectErrorOutput();
    int status = 0;
    pid_t r = ::waitpid(static_cast<pid_t>(id_), &status, WNOHANG);
    if (r == static_cast<pid_t>(id_)) {
      id_ = -1;
      // What the program wrote before it ended is all in the pipe now; a
      // child it left behind may hold the pipe open, so nothing more is
      // waited for.
      CollectErrorOutput();
      CloseErrorOutput();
      ReapOrphans();
      return StatusOf(status);
    }
    if (r < 0 && errno != EINTR) {
      id_ = -1;
      return std::nullopt;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || stop.stop_requested()) return std::nullopt;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + std::chrono::milliseconds(1);
    InterruptibleSleep(std::min(pause, left), stop);
    if (pause < std::chrono::milliseconds(100)) pause *= 2;
  }
}

void Process::Terminate() {
  if (id_ >= 0) ::kill(static_cast<pid_t>(id_), SIGTERM);
}

std::string ExecutableName(const std::string& program) { return program; }

}  // namespace platform
