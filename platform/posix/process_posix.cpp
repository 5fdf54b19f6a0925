#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::optional<Process> Process::Start(const std::string& path) {
  ReapOrphans();
  if (::access(path.c_str(), X_OK) != 0) return std::nullopt;
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
  int rc = ::posix_spawn(&pid, path.c_str(), nullptr, &attr, argv, environ);
  ::posix_spawnattr_destroy(&attr);
  if (rc != 0) return std::nullopt;
  return Process(pid);
}

Process::Process(Process&& other) noexcept : id_(other.id_) { other.id_ = -1; }

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    this->~Process();
    id_ = other.id_;
    other.id_ = -1;
  }
  return *this;
}

Process::~Process() {
  if (id_ < 0) return;
  pid_t pid = static_cast<pid_t>(id_);
  id_ = -1;
  if (::waitpid(pid, nullptr, WNOHANG) == 0) {
    std::lock_guard lock(OrphanMutex());
    Orphans().push_back(pid);
  }
}

std::optional<int> Process::wait(std::chrono::milliseconds timeout, std::stop_token stop) {
  if (id_ < 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto pause = std::chrono::milliseconds(5);
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(static_cast<pid_t>(id_), &status, WNOHANG);
    if (r == static_cast<pid_t>(id_)) {
      id_ = -1;
      ReapOrphans();
      return StatusOf(status);
    }
    if (r < 0 && errno != EINTR) {
      id_ = -1;
      return std::nullopt;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || stop.stop_requested()) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                      std::chrono::milliseconds(1);
    InterruptibleSleep(std::min(pause, left), stop);
    if (pause < std::chrono::milliseconds(100)) pause *= 2;
  }
}

void Process::terminate() {
  if (id_ >= 0) ::kill(static_cast<pid_t>(id_), SIGTERM);
}

std::string ExecutableName(const std::string& program) { return program; }

}  // namespace platform
