// TLS client sessions with OpenSSL. The socket is switched to non-blocking
// mode for the session so that every wait is a poll with a limit.
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "platform/tls.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

struct CtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using CtxPtr = std::unique_ptr<SSL_CTX, CtxFree>;
using SslPtr = std::unique_ptr<SSL, SslFree>;

// The library's queued error texts, oldest first, cleared.
std::string ErrorQueueText() {
  std::string text;
  while (unsigned long code = ERR_get_error()) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    if (!text.empty()) text += "; ";
    text += buffer;
  }
  return text;
}

bool IsAddress(std::string_view host) {
  const std::string text(host);
  in_addr v4{};
  in6_addr v6{};
  return inet_pton(AF_INET, text.c_str(), &v4) == 1 || inet_pton(AF_INET6, text.c_str(), &v6) == 1;
}

// Milliseconds left until `deadline` (at least 0), or -1 for no deadline.
int MsLeft(const std::optional<Clock::time_point>& deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Waits until the socket is ready for what OpenSSL asked for; false when
// the deadline passed first.
bool WaitFor(int fd, int sslError, const std::optional<Clock::time_point>& deadline) {
  pollfd entry{fd, static_cast<short>(sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
  for (;;) {
    const int rc = poll(&entry, 1, MsLeft(deadline));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) throw StatusError(Status::FromSystem(errno, "poll"));
  }
}

class OpenSslStream final : public TlsStream {
 public:
  OpenSslStream(SslPtr ssl, int fd, std::chrono::milliseconds sendTimeout)
      : ssl_(std::move(ssl)), fd_(fd), sendTimeout_(sendTimeout) {}
  ~OpenSslStream() override = default;

  void SendAll(std::string_view bytes) override {
    const std::optional<Clock::time_point> deadline = Clock::now() + sendTimeout_;
    while (!bytes.empty()) {
      const int chunk = bytes.size() > INT_MAX ? INT_MAX : static_cast<int>(bytes.size());
      ERR_clear_error();
      const int n = SSL_write(ssl_.get(), bytes.data(), chunk);
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      const int error = SSL_get_error(ssl_.get(), n);
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        if (!WaitFor(fd_, error, deadline)) throw StatusError(Status::FromSystem(ETIMEDOUT, "send"));
        continue;
      }
      Fail(error, "send");
    }
  }

  bool WaitReadable(std::chrono::milliseconds timeout) override {
    if (offset_ < buffer_.size() || ended_) return true;
    const std::optional<Clock::time_point> deadline =
        timeout.count() < 0 ? std::nullopt : std::optional(Clock::now() + timeout);
    return Fill(deadline);
  }

  std::size_t Receive(char* out, std::size_t length) override {
    if (offset_ >= buffer_.size() && !ended_) Fill(std::nullopt);
    const std::size_t n = std::min(length, buffer_.size() - offset_);
    buffer_.copy(out, n, offset_);
    offset_ += n;
    return n;
  }

  void Shutdown() noexcept override {
    // One attempt: the alert goes out if the socket takes it at once.
    ERR_clear_error();
    (void)SSL_shutdown(ssl_.get());
    ERR_clear_error();
  }

  std::string Version() const override { return SSL_get_version(ssl_.get()); }

 private:
  // Reads one record's worth of data into the buffer; false when the
  // deadline passed first.
  bool Fill(const std::optional<Clock::time_point>& deadline) {
    buffer_.resize(16384);
    offset_ = 0;
    for (;;) {
      ERR_clear_error();
      const int n = SSL_read(ssl_.get(), buffer_.data(), static_cast<int>(buffer_.size()));
      if (n > 0) {
        buffer_.resize(static_cast<std::size_t>(n));
        return true;
      }
      const int error = SSL_get_error(ssl_.get(), n);
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        if (!WaitFor(fd_, error, deadline)) {
          buffer_.clear();
          return false;
        }
        continue;
      }
      buffer_.clear();
      if (error == SSL_ERROR_ZERO_RETURN) {
        ended_ = true;
        return true;
      }
      Fail(error, "receive");
    }
  }

  [[noreturn]] void Fail(int error, const char* what) {
    if (error == SSL_ERROR_SYSCALL && errno != 0) throw StatusError(Status::FromSystem(errno, what));
    const std::string text = ErrorQueueText();
    throw TlsError(text.empty() ? std::string("TLS ") + what + " failed" : text);
  }

  SslPtr ssl_;
  int fd_;
  std::chrono::milliseconds sendTimeout_;
  std::string buffer_;
  std::size_t offset_ = 0;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<TlsStream> StartTlsClient(TcpSocket& socket, std::string_view host,
                                          std::chrono::milliseconds timeout) {
  if (!socket.IsOpen()) throw StatusError(Status::FromSystem(EBADF, "tls"));
  const int fd = static_cast<int>(socket.NativeHandle());
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    throw StatusError(Status::FromSystem(errno, "fcntl"));
  }

  ERR_clear_error();
  CtxPtr ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx) throw TlsError("TLS unavailable: " + ErrorQueueText());
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
  if (SSL_CTX_set_default_verify_paths(ctx.get()) != 1) {
    throw TlsError("the system's trust store cannot be read: " + ErrorQueueText());
  }

  SslPtr ssl(SSL_new(ctx.get()));
  if (!ssl || SSL_set_fd(ssl.get(), fd) != 1) throw TlsError("TLS unavailable: " + ErrorQueueText());
  const std::string name(host);
  if (IsAddress(name)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), name.c_str());
  } else {
    SSL_set_hostflags(ssl.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (SSL_set1_host(ssl.get(), name.c_str()) != 1) throw TlsError("the host name cannot be checked");
    SSL_set_tlsext_host_name(ssl.get(), name.c_str());
  }

  const std::optional<Clock::time_point> deadline =
      timeout.count() > 0 ? std::optional(Clock::now() + timeout) : std::nullopt;
  for (;;) {
    ERR_clear_error();
    const int rc = SSL_connect(ssl.get());
    if (rc == 1) break;
    const int error = SSL_get_error(ssl.get(), rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      if (!WaitFor(fd, error, deadline)) throw TlsError("TLS handshake timed out");
      continue;
    }
    const long verify = SSL_get_verify_result(ssl.get());
    if (verify != X509_V_OK) {
      throw TlsError(std::string("certificate verify failed: ") + X509_verify_cert_error_string(verify));
    }
    std::string text = ErrorQueueText();
    if (text.empty()) {
      text = error == SSL_ERROR_SYSCALL && errno != 0 ? std::system_category().message(errno)
                                                      : "the connection closed during the handshake";
    }
    throw TlsError("TLS handshake failed: " + text);
  }
  return std::make_unique<OpenSslStream>(std::move(ssl), fd,
                                         timeout.count() > 0 ? timeout : std::chrono::hours(24));
}

}  // namespace platform
