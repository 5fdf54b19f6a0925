// The SMTP client: connects, greets, logs in, sends one message, quits.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "mailer/mail_socket.h"
#include "mailer/ntlm_client.h"
#include "mailer/smtp_exception.h"

namespace mail {

class CSMTPMessage;

// How the connection logs in after the greeting.
enum class AuthMethod : int {
  kNone = 0,
  kCramMd5 = 1,  // AUTH CRAM-MD5
  kLogin = 2,    // AUTH LOGIN
  kPlain = 3,    // AUTH PLAIN (RFC 4616; the old two-prompt dialogue too)
  kNtlm = 4,     // AUTH NTLM with the current user's credentials
};

// Whether the connection is encrypted.
enum class TlsMode : int {
  kNever = 0,        // plain text throughout
  kWhenOffered = 1,  // STARTTLS when the server's EHLO reply offers it
  kRequired = 2,     // STARTTLS or fail (error 523) before logging in
};

// Every operation throws CSMTPException: protocol errors carry the
// server's last reply as their message, socket errors the system's code.
class CTernSMTPConnection : public CNTLMClient {
 public:
  static constexpr std::chrono::milliseconds kDefaultReplyTimeout{60000};
  // How long QUIT waits for its reply once a reply has timed out: the
  // server is most likely gone, so the goodbye is kept short (a silent
  // server costs the reply time-out plus this, under 65 seconds).
  static constexpr std::chrono::milliseconds kQuitAfterTimeout{4000};
  // The port where TLS starts with the first byte (SMTPS).
  static constexpr std::uint16_t kImplicitTlsPort = 465;

  CTernSMTPConnection();
  // Says QUIT when still connected (ignoring its outcome) and closes.
  ~CTernSMTPConnection() override;

  // Opens the TCP connection, reads the greeting, introduces itself,
  // secures the connection as the TLS mode asks and logs in with
  // `method`. On the implicit TLS port (465) TLS starts before the
  // greeting (unless the mode is Never). With a login method or TLS the
  // greeting is EHLO (falling back to HELO only when EHLO is unknown to
  // the server); otherwise HELO. After STARTTLS the client greets again.
  // The server's certificate must be trusted and name `host`; a failed
  // handshake is error 537 and never falls back to plain text. The TCP
  // connection attempt gives up after the reply time-out. A failure after
  // the TCP connection was made says QUIT (unless the connection is
  // unusable) and closes before it throws. The host and greeting names,
  // and for AUTH PLAIN the user name and password, must not hold CR or
  // LF: such a text fails before anything is sent.
  void Connect(std::string_view host, AuthMethod method, std::string_view user, std::string_view password,
               std::uint16_t port, std::string_view bindAddress = {});

  // Sends one message. Its addresses and header texts are checked and
  // its attachment files opened first (header and body errors), so a
  // message that cannot be built fails before MAIL FROM and leaves the
  // connection ready for QUIT. The text is then produced while it is
  // sent, attachments encoded piece by piece. Should a file fail to read
  // in the middle, the connection is dropped without ending the data, so
  // the server discards the partial message (body error).
  void SendMessage(const CSMTPMessage& message);

  // The transaction itself: MAIL FROM `sender`, one RCPT TO per
  // recipient in order, DATA, `data`, end of data. `data` is the header,
  // the blank line and the body, ready for the wire (dot-stuffed), without
  // the end-of-data line. Addresses are bare (no display name, no angle
  // brackets) and must not hold CR or LF.
  void SendMail(std::string_view sender, std::span<const std::string> recipients, std::string_view data);

  // When connected and `graceful`, says QUIT and expects 221 (error 518
  // otherwise); always closes the socket. After a reply time-out QUIT
  // waits at most kQuitAfterTimeout.
  void Disconnect(bool graceful = true);

  bool IsConnected() const { return connected_; }
  const std::string& LastReply() const { return lastReply_; }
  int LastReplyCode() const { return lastReplyCode_; }

  // The limit for each wait for reply data.
  void SetReplyTimeout(std::chrono::milliseconds timeout) { replyTimeout_ = timeout; }
  std::chrono::milliseconds ReplyTimeout() const { return replyTimeout_; }

  void SetTlsMode(TlsMode mode) { tlsMode_ = mode; }
  TlsMode GetTlsMode() const { return tlsMode_; }
  // The port that means TLS from the first byte (tests use a free one).
  void SetImplicitTlsPort(std::uint16_t port) { implicitTlsPort_ = port; }
  // Whether the connection is encrypted now, and with what ("TLSv1.3").
  bool IsEncrypted() const { return socket_.IsTls(); }
  std::string TlsVersion() const { return socket_.TlsVersion(); }

  // The name sent with EHLO/HELO; "auto" means the local host name.
  void SetHeloHost(std::string_view host);
  const std::string& HeloHost() const { return heloHost_; }

 protected:
  // Reads one reply; true when its code is `expectedCode`.
  virtual bool ExpectReply(int expectedCode);

  void SendInitialToken(std::string_view token) override;
  std::int32_t ReceiveChallenge(std::string& challenge) override;
  void SendResponseToken(std::string_view token) override;

 private:
  void Greet(bool withLogin);
  void StartTls();
  void BeginTransaction(std::string_view sender, std::span<const std::string> recipients);
  void EndData();
  void AuthLogin(std::string_view user, std::string_view password);
  void AuthPlain(std::string_view user, std::string_view password);
  void AuthCramMd5(std::string_view user, std::string_view password);
  void AuthNtlm();
  void SendLine(std::string_view line);
  [[noreturn]] void Fail(SmtpError number) const;

  CMailSocket socket_;
  bool connected_ = false;
  std::string host_;
  std::string lastReply_;
  std::string heloHost_;
  std::chrono::milliseconds replyTimeout_ = kDefaultReplyTimeout;
  int lastReplyCode_ = 0;
  TlsMode tlsMode_ = TlsMode::kWhenOffered;
  std::uint16_t implicitTlsPort_ = kImplicitTlsPort;
  bool timedOut_ = false;  // a reply did not come within the time-out
  bool unusable_ = false;  // the connection cannot carry a QUIT any more
};

}  // namespace mail
