#pragma once

#include <atomic>
#include <cstdint>
#include <stop_token>
#include <thread>

namespace engine {

// Base of every engine thread. A thread is stopped cooperatively: Stop()
// asks it to stop, which wakes any wait made through its stop token, and
// returns once the body has reached a safe point and ended. A body that
// returns by itself keeps the running flag set until Stop() is called.
class WorkerThread {
 public:
  static constexpr std::uint32_t kStillActive = 259;
  // The exit code of a body that has not returned one (yet), and of a body
  // that ended because it was asked to stop.
  static constexpr std::uint32_t kNoExitCode = 0xFFFFFFFFu;

  WorkerThread() = default;
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  void Start();
  // Clears the running flag, stops the thread and waits for it. Returns the
  // body's exit code, or kStillActive when the body was still running and
  // had to be stopped.
  std::uint32_t Stop(bool force = true);

  bool Running() const { return running_; }
  bool Finished() const { return finished_; }

 protected:
  // The body. The base version returns the stored exit code.
  virtual std::uint32_t Run(std::int32_t parameter, std::stop_token stop);
  virtual void BeforeRun() {}
  virtual void AfterRun() {}

 private:
  std::jthread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> finished_{false};
  std::atomic<std::uint32_t> exitCode_{0};
  std::int32_t parameter_ = 0;
};

}  // namespace engine
