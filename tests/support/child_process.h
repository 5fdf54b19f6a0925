#pragma once

// Child processes a test forks to run its own code concurrently. A failed
// fork fails the test: no -1 ever reaches kill() or waitpid(), which would
// signal or reap every process of the user.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace testing_support {

// Runs `body` in a child process and returns its pid. The child leaves
// with _exit(0) so that nothing of the test framework runs twice. Throws
// std::system_error when no child could be made.
template <typename F>
pid_t SpawnChild(F body) {
  const pid_t pid = ::fork();
  if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  return pid;
}

// The wait status of the child `pid` once it has ended; -1 for anything
// but a child of this process.
inline int WaitChild(pid_t pid) {
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return status;
}

// Kills the child `pid` with SIGKILL and reaps it; nothing for a pid that
// is not one.
inline void KillChild(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGKILL);
  WaitChild(pid);
}

}  // namespace testing_support
