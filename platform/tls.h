#pragma once

// TLS on a connected TCP socket, as a client: the server's certificate is
// verified against the system's trust store and must name the host that
// was asked for. A failed verification is an error, never a fall-back to
// an unverified or plain connection.

#include <chrono>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/export.h"
#include "platform/socket.h"
#include "platform/status.h"

namespace platform {

// The handshake failed: the certificate was not trusted or did not name
// the host, the server spoke no TLS, or the connection broke. what() says
// which, in the TLS library's words.
class QM_PLATFORM_API TlsError : public StatusError {
 public:
  explicit TlsError(const std::string& what)
      : StatusError(platform::Status(StatusCode::kIoError, what), what) {}
};

// A TLS client session over a socket it borrows: the socket must outlive
// it. I/O errors after the handshake throw StatusError (as the
// socket does) or TlsError.
class QM_PLATFORM_API TlsStream {
 public:
  virtual ~TlsStream() = default;

  // Writes every byte.
  virtual void SendAll(std::string_view bytes) = 0;
  // True when decrypted data (or the end of the stream) is ready, false
  // when `timeout` passed first.
  virtual bool WaitReadable(std::chrono::milliseconds timeout) = 0;
  // At most `length` bytes of decrypted data; 0 at the end of the stream.
  // Blocks until data comes when WaitReadable was not asked first.
  virtual std::size_t Receive(char* buffer, std::size_t length) = 0;
  // Sends the closing alert (best effort, without waiting for the peer's).
  virtual void Shutdown() noexcept = 0;
  // The protocol version agreed ("TLSv1.3").
  virtual std::string Version() const = 0;
};

// Runs the client handshake on `socket` for the server `host` (a name or a
// dotted quad, checked against the certificate), giving up after
// `timeout`. Throws TlsError when the handshake or the verification fails.
// The trust store is the system's; OpenSSL's SSL_CERT_FILE and
// SSL_CERT_DIR environment variables replace it (tests use them to trust
// a CA of their own).
QM_PLATFORM_API std::unique_ptr<TlsStream> StartTlsClient(TcpSocket& socket, std::string_view host,
                                                          std::chrono::milliseconds timeout);

}  // namespace platform
