#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "platform/socket.h"

namespace platform {

namespace {

[[noreturn]] void ThrowErrno(const char* what, int code = errno) {
  throw StatusError(Status::FromSystem(code, what));
}

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

// The first IPv4 address of `host`: a dotted quad as it stands, else the
// resolver's answer.
in_addr ResolveIPv4(std::string_view host) {
  const std::string name(host);
  in_addr address{};
  if (!name.empty() && inet_pton(AF_INET, name.c_str(), &address) == 1) return address;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = name.empty() ? EAI_NONAME : getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    if (found) freeaddrinfo(found);
    if (rc == EAI_SYSTEM) ThrowErrno("resolve");
    ThrowErrno("resolve", HostNotFoundError());
  }
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return address;
}

sockaddr_in MakeAddress(in_addr address, std::uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(port);
  result.sin_addr = address;
  return result;
}

// Waits for `events` on `fd`; false on time-out. A negative timeout waits
// without limit.
bool PollFor(int fd, short events, int timeoutMs) {
  pollfd entry{fd, events, 0};
  for (;;) {
    const int rc = poll(&entry, 1, timeoutMs);
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) ThrowErrno("poll");
  }
}

int ClampMs(std::chrono::milliseconds timeout) {
  if (timeout.count() < 0) return 0;
  if (timeout.count() > INT_MAX) return INT_MAX;
  return static_cast<int>(timeout.count());
}

}  // namespace

int HostNotFoundError() { return ENXIO; }

std::string LocalHostName() {
  char name[260] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

void TcpSocket::Create() {
  Close();
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) ThrowErrno("socket");
  handle_ = fd;
}

void TcpSocket::Bind(std::string_view address) {
  if (!IsOpen()) ThrowErrno("bind", EBADF);
  const sockaddr_in local = MakeAddress(ResolveIPv4(address), 0);
  if (bind(Fd(handle_), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) ThrowErrno("bind");
}

void TcpSocket::Connect(std::string_view host, std::uint16_t port, std::chrono::milliseconds timeout) {
  const sockaddr_in remote = MakeAddress(ResolveIPv4(host), port);
  if (!IsOpen()) Create();
  const int fd = Fd(handle_);
  const auto* address = reinterpret_cast<const sockaddr*>(&remote);
  if (timeout.count() <= 0) {
    if (connect(fd, address, sizeof remote) != 0) {
      if (errno != EINTR) ThrowErrno("connect");
      // An interrupted connect goes on in the background; wait for it.
      PollFor(fd, POLLOUT, -1);
    }
  } else {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) ThrowErrno("fcntl");
    if (connect(fd, address, sizeof remote) != 0) {
      if (errno != EINPROGRESS && errno != EINTR) ThrowErrno("connect");
      if (!PollFor(fd, POLLOUT, ClampMs(timeout))) ThrowErrno("connect", ETIMEDOUT);
    }
    if (fcntl(fd, F_SETFL, flags) != 0) ThrowErrno("fcntl");
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) ThrowErrno("getsockopt");
  if (error != 0) ThrowErrno("connect", error);
}

void TcpSocket::SendAll(std::string_view bytes) {
  if (!IsOpen()) ThrowErrno("send", EBADF);
  while (!bytes.empty()) {
    const ssize_t sent = send(Fd(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("send");
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
}

bool TcpSocket::WaitReadable(std::chrono::milliseconds timeout) {
  if (!IsOpen()) ThrowErrno("poll", EBADF);
  return PollFor(Fd(handle_), POLLIN, ClampMs(timeout));
}

std::size_t TcpSocket::Receive(char* buffer, std::size_t length) {
  if (!IsOpen()) ThrowErrno("recv", EBADF);
  for (;;) {
    const ssize_t got = recv(Fd(handle_), buffer, length, 0);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) ThrowErrno("recv");
  }
}

void TcpSocket::ShutdownSend() {
  if (IsOpen() && shutdown(Fd(handle_), SHUT_WR) != 0) ThrowErrno("shutdown");
}

std::string TcpSocket::PeerAddress() const {
  if (!IsOpen()) return {};
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  if (getpeername(Fd(handle_), reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
      peer.sin_family != AF_INET)
    return {};
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) == nullptr) return {};
  return text;
}

void TcpSocket::Close() noexcept {
  if (IsOpen()) {
    ::close(Fd(handle_));
    handle_ = kInvalid;
  }
}

TcpListener::TcpListener(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) ThrowErrno("socket");
  handle_ = fd;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  in_addr loopback{};
  loopback.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in local = MakeAddress(loopback, port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || listen(fd, 8) != 0) {
    const int error = errno;
    Close();
    ThrowErrno("listen", error);
  }
  socklen_t length = sizeof local;
  getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
  port_ = ntohs(local.sin_port);
}

TcpSocket TcpListener::Accept(std::chrono::milliseconds timeout) {
  if (handle_ == TcpSocket::kInvalid) ThrowErrno("accept", EBADF);
  if (!PollFor(Fd(handle_), POLLIN, ClampMs(timeout))) return TcpSocket();
  for (;;) {
    const int fd = accept4(Fd(handle_), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return TcpSocket(fd);
    if (errno != EINTR) ThrowErrno("accept");
  }
}

void TcpListener::Close() noexcept {
  if (handle_ != TcpSocket::kInvalid) {
    ::close(Fd(handle_));
    handle_ = TcpSocket::kInvalid;
  }
}

}  // namespace platform
