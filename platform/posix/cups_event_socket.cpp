#include "platform/posix/cups_event_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <random>

#include "platform/log.h"
#include "platform/posix/cups_event_relay.h"

namespace platform::cups {

std::unique_ptr<EventSocket> EventSocket::Open() {
  static std::atomic<unsigned> counter{0};
  // Without it the watcher asks CUPS for events twice a second instead.
  const char* what = "no socket for CUPS notifier events, asking twice a second instead";
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    LogFailureOnce("CUPS event socket", what, Status::LastError("socket"));
    return nullptr;
  }
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string name = "quillmark-cups-" + std::to_string(::getpid()) + "-" +
                             std::to_string(++counter) + "-" +
                             std::to_string(std::random_device{}() % 1000000);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
      return std::unique_ptr<EventSocket>(new EventSocket(fd, std::string(kRelayScheme) + ":" + name));
    }
    if (errno != EADDRINUSE) break;
  }
  LogFailureOnce("CUPS event socket", what, Status::LastError("bind"));
  ::close(fd);
  return nullptr;
}

EventSocket::EventSocket(int fd, std::string recipient) : fd_(fd), recipient_(std::move(recipient)) {}

EventSocket::~EventSocket() { ::close(fd_); }

void EventSocket::Drain() {
  char buffer[64];
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;
  }
}

EventSocket::Result EventSocket::Wait(std::chrono::milliseconds timeout, std::stop_token stop) {
  switch (wait_.Wait(fd_, timeout, stop)) {
    case posix::ReadableWait::Result::kReadable: return Result::kSignalled;
    case posix::ReadableWait::Result::kTimedOut: return Result::kTimedOut;
    case posix::ReadableWait::Result::kStopped: return Result::kStopped;
  }
  return Result::kTimedOut;
}

}  // namespace platform::cups
