#pragma once

// The real engine host (quillcore-host) run as a child process for one
// test or benchmark, and a look at what it logged. The host's registry,
// application folder and spooler are the caller's: a registry root, and a
// simulated spool folder or (when empty) the CUPS server of CUPS_SERVER.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "tests/support/logged_documents.h"
#include "tests/support/read_file.h"

namespace testing_support {

class EngineHost {
 public:
  EngineHost(std::filesystem::path hostProgram, std::filesystem::path registryRoot,
             std::filesystem::path spool)
      : program_(std::move(hostProgram)), registryRoot_(std::move(registryRoot)), spool_(std::move(spool)) {}
  ~EngineHost() { Kill(); }
  // One more variable for the host's environment, from the next start on.
  void SetEnvironment(std::string name, std::string value) {
    environment_[std::move(name)] = std::move(value);
  }
  EngineHost(const EngineHost&) = delete;
  EngineHost& operator=(const EngineHost&) = delete;

  bool Start() {
    pid_ = ::fork();
    if (pid_ == 0) {
      // A caller that dies takes the host with it.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::setenv("QUILLMARK_REGISTRY", registryRoot_.c_str(), 1);
      if (spool_.empty()) {
        ::unsetenv("QUILLMARK_SPOOLER");
      } else {
        ::setenv("QUILLMARK_SPOOLER", spool_.c_str(), 1);
      }
      for (const auto& [name, value] : environment_) ::setenv(name.c_str(), value.c_str(), 1);
      ::execl(program_.c_str(), program_.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid_ > 0;
  }

  // kill -9, as a crash would end it.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // SIGTERM; the exit status, or -1 when it did not end within 10 s.
  int Stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Kill();
    return -1;
  }

  bool Running() const { return pid_ > 0; }

 private:
  std::filesystem::path program_;
  std::filesystem::path registryRoot_;
  std::filesystem::path spool_;
  std::map<std::string, std::string> environment_;
  pid_t pid_ = -1;
};

}  // namespace testing_support
