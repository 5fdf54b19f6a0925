#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/export.h"
#include "platform/status.h"

namespace platform {

// Error code of a host name that does not resolve (the system's own
// numbering, as std::system_category() reads it).
QM_PLATFORM_API int HostNotFoundError();

// The local host's name ("localhost" if the system has none).
QM_PLATFORM_API std::string LocalHostName();

// A TCP client socket over IPv4, closed on destruction. Failing calls throw
// StatusError, a std::system_error with the system's error code
// (std::system_category()) and the call in its context.
class QM_PLATFORM_API TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket() { Close(); }
  TcpSocket(TcpSocket&& other) noexcept : handle_(std::exchange(other.handle_, kInvalid)) {}
  TcpSocket& operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, kInvalid);
    }
    return *this;
  }
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Makes a fresh stream socket (closing any open one).
  void Create();
  // Binds to `address` (dotted quad or host name), port 0. Needs Create().
  void Bind(std::string_view address);
  // Connects to `host` (dotted quad or host name) at `port`; creates the
  // socket if there is none. A zero `timeout` waits as long as the system
  // does.
  void Connect(std::string_view host, std::uint16_t port,
               std::chrono::milliseconds timeout = std::chrono::milliseconds::zero());
  // Writes every byte (retrying short writes).
  void SendAll(std::string_view bytes);
  // True when a receive will not block (data or the peer's close), false
  // when `timeout` passed first.
  bool WaitReadable(std::chrono::milliseconds timeout);
  // One receive of at most `length` bytes; 0 when the peer closed.
  std::size_t Receive(char* buffer, std::size_t length);
  // Stops sending (the peer reads end of data); the socket stays open for
  // reading.
  void ShutdownSend();
  void Close() noexcept;
  bool IsOpen() const { return handle_ != kInvalid; }
  // The connected peer's IPv4 address as a dotted quad (empty when not
  // connected).
  std::string PeerAddress() const;
  // The system's handle, for backends that drive the socket themselves
  // (TLS); the socket keeps owning it.
  std::intptr_t NativeHandle() const { return handle_; }

 private:
  friend class TcpListener;
  static constexpr std::intptr_t kInvalid = -1;
  explicit TcpSocket(std::intptr_t handle) : handle_(handle) {}

  std::intptr_t handle_ = kInvalid;
};

// A listening socket on the loopback address, for local servers (tests).
class QM_PLATFORM_API TcpListener {
 public:
  // Listens on 127.0.0.1 at `port` (0: a free port chosen by the system).
  explicit TcpListener(std::uint16_t port = 0);
  ~TcpListener() { Close(); }
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  std::uint16_t Port() const { return port_; }
  // The next connection, or a closed socket when `timeout` passed first.
  TcpSocket Accept(std::chrono::milliseconds timeout);
  void Close() noexcept;

 private:
  std::intptr_t handle_ = TcpSocket::kInvalid;
  std::uint16_t port_ = 0;
};

}  // namespace platform
