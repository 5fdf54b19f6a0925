#include "engine/worker_thread.h"

#include "platform/log.h"

namespace engine {

WorkerThread::~WorkerThread() {
  // Derived parts are gone by now; their bodies must have been stopped by
  // the derived destructor. This only catches a thread left running.
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
}

void WorkerThread::Start() {
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
  running_ = true;
  parameter_ = 0;
  finished_ = false;
  exitCode_ = kNoExitCode;
  try {
    thread_ = std::jthread([this](std::stop_token stop) {
      BeforeRun();
      std::uint32_t code = Run(parameter_, stop);
      AfterRun();
      exitCode_ = code;
      finished_ = true;
    });
  } catch (const std::system_error& error) {
    // A thread that cannot be created leaves the running flag set, so the
    // control loop does not retry it until it has been stopped.
    platform::LogWarning(std::string("thread not started: ") + error.what());
  }
}

std::uint32_t WorkerThread::Stop(bool /*force*/) {
  running_ = false;
  if (!thread_.joinable()) return exitCode_;
  bool wasActive = !finished_;
  thread_.request_stop();
  thread_.join();
  return wasActive ? kStillActive : exitCode_.load();
}

std::uint32_t WorkerThread::Run(std::int32_t, std::stop_token) { return exitCode_; }

}  // namespace engine
