// The connection's TCP socket and the reader of SMTP replies.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/socket.h"
#include "platform/tls.h"

namespace mail {

// One reply of the server as read from the socket.
struct SmtpReply {
  bool complete = false;  // the last line arrived; false on time-out or close
  bool timedOut = false;  // the server was silent for the whole time-out
  int code = 0;           // the last line's three-digit code (0 if none)
  std::string text;       // every line, without the final CR LF
};

// A blocking IPv4 stream socket, plain or (after StartTls) encrypted.
// Every failing socket call throws CSMTPException with the system
// facility, the system's error code and no message; TLS failures throw the
// protocol error kErrTlsHandshake with the TLS library's description.
class CMailSocket {
 public:
  // Replies longer than this are treated as never completed.
  static constexpr std::size_t kMaxReplySize = 1024 * 1024;

  CMailSocket() = default;
  virtual ~CMailSocket();
  CMailSocket(const CMailSocket&) = delete;
  CMailSocket& operator=(const CMailSocket&) = delete;

  void Create();
  // Binds to `bindAddress` first when it is not empty (dotted quad or
  // host name), then connects to `host` (dotted quad or name) at `port`,
  // giving up after `timeout` (zero: the system's own limit).
  void Connect(std::string_view host, std::uint16_t port, std::string_view bindAddress,
               std::chrono::milliseconds timeout = std::chrono::milliseconds::zero());
  // Writes all of `bytes`.
  void Send(std::string_view bytes);
  // One receive: the count, 0 when the peer closed the connection.
  std::size_t Receive(char* buffer, std::size_t length);
  // True when data (or the peer's close) can be read, false on time-out.
  bool WaitReadable(std::chrono::milliseconds timeout);
  // Sends the TLS closing alert when encrypted, then closes.
  void Close();
  bool IsOpen() const { return socket_.IsOpen(); }

  // Runs the TLS handshake on the open connection, checking that the
  // server's certificate is trusted and names `host`; from then on every
  // byte is encrypted. Bytes the server sent before the handshake that
  // were not read yet are dropped.
  void StartTls(std::string_view host, std::chrono::milliseconds timeout);
  bool IsTls() const { return tls_ != nullptr; }
  // The TLS version in use ("TLSv1.3"), empty when plain.
  std::string TlsVersion() const;

  // Reads one reply to its last line (code followed by a space, or the
  // bare code): multi-line replies are read whole, pieces of several
  // receives are joined. Each wait for data is limited to `timeout`; on a
  // time-out or a close the partial text is returned, not complete.
  SmtpReply ReadReply(std::chrono::milliseconds timeout);

 private:
  platform::TcpSocket socket_;
  std::unique_ptr<platform::TlsStream> tls_;  // borrows socket_
  std::string pending_;                       // bytes received after the end of the last reply
};

}  // namespace mail
