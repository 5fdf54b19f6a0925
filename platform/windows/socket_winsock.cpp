// TCP sockets on Winsock 2. Winsock is started once per process, on the
// first call that needs it, and cleaned up when the process ends.
#include "platform/windows/win32.h"  // first: before any other system header

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <string>

#include "platform/log.h"
#include "platform/socket.h"
#include "platform/status.h"

namespace platform {

namespace {

// Every failure of this file ends here: the call that failed and the
// Winsock error number, thrown as the platform's error (a
// std::system_error whose code() is the number).
[[noreturn]] void Throw(const char* what, int code) { throw StatusError(Status::FromSystem(code, what)); }
[[noreturn]] void ThrowLast(const char* what) { Throw(what, ::WSAGetLastError()); }

// WSAStartup for the whole process, undone by WSACleanup when the
// process's statics are destroyed.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data{};
    // WSAStartup returns its error instead of setting the last error.
    const int rc = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0) Throw("WSAStartup", rc);
  }
  ~WinsockSession() { ::WSACleanup(); }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
};

// Makes sure Winsock is started (a failed start is tried again next time).
void EnsureWinsock() { static WinsockSession session; }

SOCKET Sock(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

// A stream socket that child processes do not inherit.
SOCKET NewStreamSocket() {
  EnsureWinsock();
  const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) ThrowLast("socket");
  return s;
}

// getaddrinfo's answers that mean the name has no address.
bool IsNameNotFound(int rc) {
  return rc == WSAHOST_NOT_FOUND || rc == WSANO_DATA || rc == WSATRY_AGAIN || rc == WSANO_RECOVERY ||
         rc == WSATYPE_NOT_FOUND;
}

// The first IPv4 address of `host`: a dotted quad as it stands, else the
// resolver's answer.
in_addr ResolveIPv4(std::string_view host) {
  EnsureWinsock();
  const std::string name(host);
  in_addr address{};
  if (!name.empty() && ::inet_pton(AF_INET, name.c_str(), &address) == 1) return address;
  if (name.empty()) Throw("resolve", HostNotFoundError());
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  // getaddrinfo returns its error (a WSA number) instead of setting one.
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    if (found) ::freeaddrinfo(found);
    Throw("resolve", rc == 0 || IsNameNotFound(rc) ? HostNotFoundError() : rc);
  }
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);
  return address;
}

sockaddr_in MakeAddress(in_addr address, std::uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = ::htons(port);
  result.sin_addr = address;
  return result;
}

void SetNonBlocking(SOCKET s, bool on) {
  u_long mode = on ? 1 : 0;
  if (::ioctlsocket(s, FIONBIO, &mode) != 0) ThrowLast("ioctlsocket");
}

// Waits until `s` is readable (or, with `forWrite`, writable or failed);
// false when `timeoutMs` passed first. A negative timeout waits without
// limit.
bool SelectFor(SOCKET s, bool forWrite, int timeoutMs) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);  // a failed non-blocking connect shows here
  timeval limit{};
  if (timeoutMs >= 0) {
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = (timeoutMs % 1000) * 1000;
  }
  // The first argument is ignored by Winsock.
  const int rc = ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr,
                          forWrite ? &failed : nullptr, timeoutMs >= 0 ? &limit : nullptr);
  if (rc == SOCKET_ERROR) ThrowLast("select");
  return rc > 0;
}

int ClampMs(std::chrono::milliseconds timeout) {
  if (timeout.count() < 0) return 0;
  if (timeout.count() > INT_MAX) return INT_MAX;
  return static_cast<int>(timeout.count());
}

}  // namespace

int HostNotFoundError() { return WSAHOST_NOT_FOUND; }

std::string LocalHostName() {
  try {
    EnsureWinsock();
  } catch (const StatusError& error) {
    LogWarning("the host name is not known, using localhost", error.Status());
    return "localhost";
  }
  char name[260] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
    LogWarning("the host name is not known, using localhost",
               Status::FromSystem(::WSAGetLastError(), "gethostname"));
    return "localhost";
  }
  return name;
}

void TcpSocket::Create() {
  Close();
  handle_ = static_cast<std::intptr_t>(NewStreamSocket());
}

void TcpSocket::Bind(std::string_view address) {
  if (!IsOpen()) Throw("bind", WSAENOTSOCK);
  const sockaddr_in local = MakeAddress(ResolveIPv4(address), 0);
  if (::bind(Sock(handle_), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) ThrowLast("bind");
}

void TcpSocket::Connect(std::string_view host, std::uint16_t port, std::chrono::milliseconds timeout) {
  const sockaddr_in remote = MakeAddress(ResolveIPv4(host), port);
  if (!IsOpen()) Create();
  const SOCKET s = Sock(handle_);
  const auto* address = reinterpret_cast<const sockaddr*>(&remote);
  if (timeout.count() <= 0) {
    if (::connect(s, address, sizeof remote) != 0) ThrowLast("connect");
    return;
  }
  SetNonBlocking(s, true);
  if (::connect(s, address, sizeof remote) != 0) {
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) Throw("connect", error);
    if (!SelectFor(s, true, ClampMs(timeout))) Throw("connect", WSAETIMEDOUT);
  }
  int error = 0;
  int length = sizeof error;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
    ThrowLast("getsockopt");
  if (error != 0) Throw("connect", error);
  SetNonBlocking(s, false);
}

void TcpSocket::SendAll(std::string_view bytes) {
  if (!IsOpen()) Throw("send", WSAENOTSOCK);
  while (!bytes.empty()) {
    const int chunk = bytes.size() > INT_MAX ? INT_MAX : static_cast<int>(bytes.size());
    const int sent = ::send(Sock(handle_), bytes.data(), chunk, 0);
    if (sent == SOCKET_ERROR) ThrowLast("send");
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
}

bool TcpSocket::WaitReadable(std::chrono::milliseconds timeout) {
  if (!IsOpen()) Throw("select", WSAENOTSOCK);
  return SelectFor(Sock(handle_), false, ClampMs(timeout));
}

std::size_t TcpSocket::Receive(char* buffer, std::size_t length) {
  if (!IsOpen()) Throw("recv", WSAENOTSOCK);
  const int want = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  const int got = ::recv(Sock(handle_), buffer, want, 0);
  if (got == SOCKET_ERROR) ThrowLast("recv");
  return static_cast<std::size_t>(got);
}

void TcpSocket::ShutdownSend() {
  if (IsOpen() && ::shutdown(Sock(handle_), SD_SEND) != 0) ThrowLast("shutdown");
}

std::string TcpSocket::PeerAddress() const {
  if (!IsOpen()) return {};
  sockaddr_in peer{};
  int length = sizeof peer;
  if (::getpeername(Sock(handle_), reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
      peer.sin_family != AF_INET)
    return {};
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) == nullptr) return {};
  return text;
}

void TcpSocket::Close() noexcept {
  if (IsOpen()) {
    ::closesocket(Sock(handle_));
    handle_ = kInvalid;
  }
}

TcpListener::TcpListener(std::uint16_t port) {
  const SOCKET s = NewStreamSocket();
  handle_ = static_cast<std::intptr_t>(s);
  // No SO_REUSEADDR: on Windows it would let another socket take the port
  // over; a port in TIME_WAIT can be listened on again without it.
  in_addr loopback{};
  loopback.s_addr = ::htonl(INADDR_LOOPBACK);
  sockaddr_in local = MakeAddress(loopback, port);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || ::listen(s, 8) != 0) {
    const int error = ::WSAGetLastError();
    Close();
    Throw("listen", error);
  }
  int length = sizeof local;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    const int error = ::WSAGetLastError();
    Close();
    Throw("getsockname", error);
  }
  port_ = ::ntohs(local.sin_port);
}

TcpSocket TcpListener::Accept(std::chrono::milliseconds timeout) {
  if (handle_ == TcpSocket::kInvalid) Throw("accept", WSAENOTSOCK);
  if (!SelectFor(Sock(handle_), false, ClampMs(timeout))) return TcpSocket();
  const SOCKET s = ::accept(Sock(handle_), nullptr, nullptr);
  if (s == INVALID_SOCKET) ThrowLast("accept");
  TcpSocket accepted(static_cast<std::intptr_t>(s));
  // An accepted socket takes its inheritance from the process default;
  // child processes must not keep the connection open.
  if (!::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0)) {
    LogWarning("an accepted connection stays inheritable", Status::LastError("SetHandleInformation"));
  }
  return accepted;
}

void TcpListener::Close() noexcept {
  if (handle_ != TcpSocket::kInvalid) {
    ::closesocket(Sock(handle_));
    handle_ = TcpSocket::kInvalid;
  }
}

}  // namespace platform
