#include "platform/posix/readable_wait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

namespace platform::posix {

namespace {

// Without the eventfd a stop request is seen by looking this often.
constexpr int kStopCheckMs = 100;

}  // namespace

ReadableWait::ReadableWait() : wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

ReadableWait::~ReadableWait() {
  if (wake_ >= 0) ::close(wake_);
}

ReadableWait::Result ReadableWait::Wait(int fd, std::chrono::milliseconds timeout, std::stop_token stop) {
  if (stop.stop_requested()) return Result::kStopped;
  std::stop_callback onStop(stop, [this] {
    const std::uint64_t one = 1;
    if (wake_ >= 0) [[maybe_unused]]
      ssize_t n = ::write(wake_, &one, sizeof one);
  });
  const bool forever = timeout.count() < 0 || timeout == std::chrono::milliseconds::max();
  const auto deadline =
      forever ? std::chrono::steady_clock::time_point::max() : std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (stop.stop_requested()) return Result::kStopped;
    int wait = -1;
    if (!forever) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() < 0) return Result::kTimedOut;
      wait = left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
    }
    if (wake_ < 0 && (wait < 0 || wait > kStopCheckMs)) wait = kStopCheckMs;
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_, POLLIN, 0}};
    const int n = ::poll(fds, wake_ >= 0 ? 2 : 1, wait);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Result::kReadable;  // cannot wait: let the caller look
    }
    if (wake_ >= 0 && (fds[1].revents & POLLIN)) {
      std::uint64_t count;
      [[maybe_unused]] ssize_t r = ::read(wake_, &count, sizeof count);
    }
    if (fds[0].revents) return Result::kReadable;
    if (n == 0 && !forever && std::chrono::steady_clock::now() >= deadline) return Result::kTimedOut;
    // else: woken for the stop request, or a capped wait ran out
  }
}

}  // namespace platform::posix
