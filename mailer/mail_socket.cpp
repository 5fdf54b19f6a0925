#include "mailer/mail_socket.h"

#include <cctype>
#include <system_error>

#include "mailer/smtp_exception.h"

namespace mail {

namespace {

// Runs a socket call, turning the platform's error into the mailer's.
template <typename Fn>
auto Guarded(Fn&& fn) -> decltype(fn()) {
  try {
    return fn();
  } catch (const platform::TlsError& error) {  // first: it is a system_error too
    throw CSMTPException::Protocol(kErrTlsHandshake, error.what());
  } catch (const std::system_error& error) {
    throw CSMTPException::System(error.code().value());
  }
}

// The last line of a reply: the code followed by a space, or the code alone.
bool IsLastLine(std::string_view line) {
  if (line.size() == 3) {
    return std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) &&
           std::isdigit(static_cast<unsigned char>(line[2]));
  }
  return line.size() > 3 && line[3] == ' ';
}

// A reply code is three digits, the first 1 to 5; anything else is no code.
int ParseCode(std::string_view line) {
  if (line.empty() || line[0] < '1' || line[0] > '5') return 0;
  int code = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (i >= line.size() || !std::isdigit(static_cast<unsigned char>(line[i]))) return 0;
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

}  // namespace

CMailSocket::~CMailSocket() { Close(); }

void CMailSocket::Create() {
  tls_.reset();
  pending_.clear();
  Guarded([&] { socket_.Create(); });
}

void CMailSocket::Connect(std::string_view host, std::uint16_t port, std::string_view bindAddress,
                          std::chrono::milliseconds timeout) {
  Guarded([&] {
    if (!socket_.IsOpen()) socket_.Create();
    if (!bindAddress.empty()) socket_.Bind(bindAddress);
    socket_.Connect(host, port, timeout);
  });
}

void CMailSocket::Send(std::string_view bytes) {
  Guarded([&] {
    if (tls_) {
      tls_->SendAll(bytes);
    } else {
      socket_.SendAll(bytes);
    }
  });
}

std::size_t CMailSocket::Receive(char* buffer, std::size_t length) {
  return Guarded([&] { return tls_ ? tls_->Receive(buffer, length) : socket_.Receive(buffer, length); });
}

bool CMailSocket::WaitReadable(std::chrono::milliseconds timeout) {
  return Guarded([&] { return tls_ ? tls_->WaitReadable(timeout) : socket_.WaitReadable(timeout); });
}

void CMailSocket::Close() {
  if (tls_) tls_->Shutdown();
  tls_.reset();
  socket_.Close();
  pending_.clear();
}

void CMailSocket::StartTls(std::string_view host, std::chrono::milliseconds timeout) {
  // Anything the server sent ahead of the handshake came unprotected and
  // must not be taken as part of the encrypted conversation.
  pending_.clear();
  Guarded([&] { tls_ = platform::StartTlsClient(socket_, host, timeout); });
}

std::string CMailSocket::TlsVersion() const { return tls_ ? tls_->Version() : std::string(); }

SmtpReply CMailSocket::ReadReply(std::chrono::milliseconds timeout) {
  SmtpReply reply;
  std::string text = std::move(pending_);
  pending_.clear();
  text.reserve(256);
  std::size_t lineStart = 0;
  char chunk[4096];
  for (;;) {
    for (std::size_t end; (end = text.find("\r\n", lineStart)) != std::string::npos; lineStart = end + 2) {
      const std::string_view line(text.data() + lineStart, end - lineStart);
      if (IsLastLine(line)) {
        reply.complete = true;
        reply.code = ParseCode(line);
        pending_ = text.substr(end + 2);
        text.resize(end);
        reply.text = std::move(text);
        return reply;
      }
    }
    if (text.size() > kMaxReplySize) break;
    if (!WaitReadable(timeout)) {
      reply.timedOut = true;
      break;
    }
    const std::size_t got = Receive(chunk, sizeof chunk);
    if (got == 0) break;
    // The unfinished line is scanned again from its start, so a CR LF
    // split between two receives is still found.
    text.append(chunk, got);
  }
  reply.text = std::move(text);
  return reply;
}

}  // namespace mail
