#include "mailer/smtp_connection.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "mailer/base64_coder.h"
#include "mailer/hmac_md5.h"
#include "mailer/message_sink.h"
#include "mailer/smtp_message.h"
#include "platform/log.h"
#include "platform/socket.h"

namespace mail {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool HoldsLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// A command argument must not end the command early.
void RequireSingleLine(std::string_view text, const char* what) {
  if (HoldsLineBreak(text)) {
    throw CSMTPException::Protocol(kErrLineBreak, std::string("line break in ") + what);
  }
}

// The reply's text behind its code and separator ("334 " is four characters).
std::string_view ReplyArgument(const std::string& reply) {
  return reply.size() > 4 ? std::string_view(reply).substr(4) : std::string_view();
}

std::string Base64Of(std::string_view bytes) {
  CBase64Coder coder;
  coder.Encode(bytes);
  return coder.EncodedMessage();
}

std::string DecodeBase64(std::string_view text) {
  CBase64Coder coder;
  coder.Decode(text);
  return coder.DecodedMessage();
}

// Whether a challenge is `prompt`, as it stands or base64-encoded (any
// letter case).
bool IsPrompt(std::string_view challenge, std::string_view prompt) {
  return EqualsIgnoringCase(challenge, prompt) || EqualsIgnoringCase(DecodeBase64(challenge), prompt);
}

// Whether an EHLO reply names `keyword` as one of its extensions: the
// first line greets, every further line names one extension as its first
// word behind "250-" or "250 ".
bool OffersExtension(std::string_view reply, std::string_view keyword) {
  std::size_t end = reply.find("\r\n");
  while (end != std::string_view::npos) {
    const std::size_t start = end + 2;
    end = reply.find("\r\n", start);
    std::string_view line = reply.substr(start, end == std::string_view::npos ? end : end - start);
    if (line.size() <= 4) continue;
    line.remove_prefix(4);
    if (EqualsIgnoringCase(line.substr(0, line.find(' ')), keyword)) return true;
  }
  return false;
}

// Message data goes out in blocks of about this size.
constexpr std::size_t kSendBlock = 64 * 1024;

// Collects small pieces of message text into blocks for the socket; large
// pieces go out as they are.
class SocketSink final : public CMessageSink {
 public:
  explicit SocketSink(CMailSocket& socket) : socket_(socket) { buffer_.reserve(kSendBlock); }
  void Write(std::string_view bytes) override {
    if (buffer_.size() + bytes.size() > kSendBlock) Flush();
    if (bytes.size() >= kSendBlock) {
      socket_.Send(bytes);
    } else {
      buffer_.append(bytes);
    }
  }
  void Flush() {
    if (buffer_.empty()) return;
    socket_.Send(buffer_);
    buffer_.clear();
  }

 private:
  CMailSocket& socket_;
  std::string buffer_;
};

}  // namespace

CTernSMTPConnection::CTernSMTPConnection() { SetHeloHost("auto"); }

CTernSMTPConnection::~CTernSMTPConnection() {
  if (connected_) {
    try {
      Disconnect(true);
    } catch (const CSMTPException& error) {
      // Nobody is left to tell.
      platform::LogDebug("SMTP goodbye failed: " + std::string(error.Message()));
    }
  }
}

void CTernSMTPConnection::SetHeloHost(std::string_view host) {
  heloHost_ = host == "auto" ? platform::LocalHostName() : std::string(host);
}

void CTernSMTPConnection::Fail(SmtpError number) const { throw CSMTPException::Protocol(number, lastReply_); }

void CTernSMTPConnection::SendLine(std::string_view line) {
  std::string command(line);
  command += "\r\n";
  socket_.Send(command);
}

bool CTernSMTPConnection::ExpectReply(int expectedCode) {
  SmtpReply reply = socket_.ReadReply(replyTimeout_);
  lastReply_ = std::move(reply.text);
  lastReplyCode_ = reply.complete ? reply.code : 0;
  if (reply.timedOut) timedOut_ = true;
  return reply.complete && reply.code == expectedCode;
}

void CTernSMTPConnection::Connect(std::string_view host, AuthMethod method, std::string_view user,
                                  std::string_view password, std::uint16_t port,
                                  std::string_view bindAddress) {
  // Every text that goes into a command is checked before anything is
  // sent. LOGIN, CRAM-MD5 and RFC 4616 PLAIN send user and password
  // base64-encoded; the old PLAIN dialogue sends them as they are.
  RequireSingleLine(host, "the host name");
  RequireSingleLine(heloHost_, "the greeting name");
  if (method == AuthMethod::kPlain) {
    RequireSingleLine(user, "the user name");
    RequireSingleLine(password, "the password");
  }
  lastReply_.clear();
  lastReplyCode_ = 0;
  timedOut_ = false;
  unusable_ = false;
  host_ = host;

  socket_.Create();
  socket_.Connect(host, port, bindAddress, replyTimeout_);
  connected_ = true;

  try {
    if (tlsMode_ != TlsMode::kNever && port == implicitTlsPort_) StartTls();
    if (!ExpectReply(220)) Fail(kErrGreeting);
    Greet(method != AuthMethod::kNone);
    switch (method) {
      case AuthMethod::kNone: break;
      case AuthMethod::kCramMd5: AuthCramMd5(user, password); break;
      case AuthMethod::kLogin: AuthLogin(user, password); break;
      case AuthMethod::kPlain: AuthPlain(user, password); break;
      case AuthMethod::kNtlm: AuthNtlm(); break;
    }
  } catch (const CSMTPException&) {
    try {
      Disconnect(true);
    } catch (const CSMTPException& error) {
      // The first failure is the one that counts.
      platform::LogDebug("SMTP goodbye after a failed login failed too: " + std::string(error.Message()));
    }
    throw;
  }
}

void CTernSMTPConnection::StartTls() {
  try {
    socket_.StartTls(host_, replyTimeout_);
  } catch (const CSMTPException&) {
    // Half a handshake leaves nothing a QUIT could travel on.
    unusable_ = true;
    throw;
  }
}

void CTernSMTPConnection::Greet(bool withLogin) {
  const SmtpError refused = withLogin ? kErrHeloBeforeAuth : kErrHelo;
  if (!withLogin && tlsMode_ == TlsMode::kNever) {
    SendLine("HELO " + heloHost_);
    if (!ExpectReply(250)) Fail(refused);
    return;
  }
  // Logging in and STARTTLS are extensions of the protocol, which a
  // server offers only to a client that greets with EHLO. A server that
  // does not know EHLO at all still gets HELO, in plain text.
  SendLine("EHLO " + heloHost_);
  if (!ExpectReply(250)) {
    if (lastReplyCode_ != 500 && lastReplyCode_ != 502) Fail(refused);
    if (tlsMode_ == TlsMode::kRequired && !socket_.IsTls()) {
      throw CSMTPException::Protocol(kErrTlsUnavailable, "STARTTLS not offered: " + lastReply_);
    }
    SendLine("HELO " + heloHost_);
    if (!ExpectReply(250)) Fail(refused);
    return;
  }
  if (socket_.IsTls() || tlsMode_ == TlsMode::kNever) return;
  if (!OffersExtension(lastReply_, "STARTTLS")) {
    if (tlsMode_ == TlsMode::kRequired) {
      throw CSMTPException::Protocol(kErrTlsUnavailable, "STARTTLS not offered");
    }
    return;  // the server offers no TLS: plain text, as asked
  }
  // Offered: from here on the conversation is encrypted or it ends; a
  // refusal or a failed handshake never falls back to plain text.
  SendLine("STARTTLS");
  if (!ExpectReply(220)) Fail(kErrTlsUnavailable);
  StartTls();
  // What the server said before TLS counts no more: greet again.
  SendLine("EHLO " + heloHost_);
  if (!ExpectReply(250)) Fail(refused);
}

void CTernSMTPConnection::AuthLogin(std::string_view user, std::string_view password) {
  // The prompts of this mechanism were never standardised ("Username:",
  // "User Name", ...): the first challenge asks for the user name and the
  // second for the password, whatever they say.
  SendLine("AUTH LOGIN");
  if (!ExpectReply(334)) Fail(kErrLoginCommand);
  SendLine(Base64Of(user));
  if (!ExpectReply(334)) Fail(kErrLoginUser);
  SendLine(Base64Of(password));
  if (!ExpectReply(235)) Fail(kErrLoginPass);
}

void CTernSMTPConnection::AuthPlain(std::string_view user, std::string_view password) {
  SendLine("AUTH PLAIN");
  if (!ExpectReply(334)) Fail(kErrPlainCommand);
  if (IsPrompt(ReplyArgument(lastReply_), "username:")) {
    // A server of the old two-prompt dialogue: user name and password
    // in plain text, each after its own prompt.
    SendLine(user);
    if (!ExpectReply(334)) Fail(kErrPlainUser);
    if (!IsPrompt(ReplyArgument(lastReply_), "password:")) Fail(kErrPlainPassPrompt);
    SendLine(password);
    if (!ExpectReply(235)) Fail(kErrPlainPass);
    return;
  }
  // RFC 4616: the empty challenge is answered with one base64 text of
  // an empty authorisation identity, the user name and the password,
  // each behind a zero byte.
  std::string response;
  response.reserve(user.size() + password.size() + 2);
  response += '\0';
  response += user;
  response += '\0';
  response += password;
  SendLine(Base64Of(response));
  std::fill(response.begin(), response.end(), '\0');
  if (!ExpectReply(235)) Fail(kErrPlainPass);
}

void CTernSMTPConnection::AuthCramMd5(std::string_view user, std::string_view password) {
  SendLine("AUTH CRAM-MD5");
  if (!ExpectReply(334)) Fail(kErrCramCommand);
  std::string challenge = DecodeBase64(ReplyArgument(lastReply_));
  challenge.resize(std::min(challenge.size(), challenge.find('\0')));
  std::string response(user);
  response += ' ';
  response += ToLowerHex(HmacMd5(password, challenge));
  SendLine(Base64Of(response));
  if (!ExpectReply(235)) Fail(kErrCramResponse);
}

void CTernSMTPConnection::AuthNtlm() {
  const std::int32_t status = RunExchange(host_);
  if (status < 0) {
    std::string message = lastReply_;
    if (!SecurityError().empty()) message = SecurityError();
    throw CSMTPException(static_cast<std::uint32_t>(status), std::move(message));
  }
}

void CTernSMTPConnection::SendInitialToken(std::string_view token) {
  SendLine("AUTH NTLM " + Base64Of(token));
}

std::int32_t CTernSMTPConnection::ReceiveChallenge(std::string& challenge) {
  if (!ExpectReply(334)) Fail(kErrNtlm);
  std::string decoded = DecodeBase64(ReplyArgument(lastReply_));
  if (decoded.size() >= kTokenBufferSize) return kStatusInsufficientMemory;
  challenge = std::move(decoded);
  return kStatusOk;
}

void CTernSMTPConnection::SendResponseToken(std::string_view token) {
  SendLine(Base64Of(token));
  if (!ExpectReply(235)) Fail(kErrNtlm);
}

void CTernSMTPConnection::SendMessage(const CSMTPMessage& message) {
  // Everything that can fail before the server hears of the message is
  // checked first: addresses, header texts, attachment files.
  message.CheckTexts();
  AttachmentFiles files;
  message.OpenAttachments(files);

  std::vector<std::string> recipients;
  for (int kind : {CSMTPMessage::kTo, CSMTPMessage::kCc, CSMTPMessage::kBcc}) {
    for (int i = 0; i < message.RecipientCount(kind); ++i) {
      recipients.push_back(message.Recipient(i, kind).Address());
    }
  }
  BeginTransaction(message.Sender().Address(), recipients);
  try {
    SocketSink sink(socket_);
    message.WriteMessageText(sink, &files);
    sink.Write("\r\n.\r\n");
    sink.Flush();
  } catch (const CSMTPException&) {
    // Half a message must not be delivered: leave without ending the
    // data, and the server throws the transaction away.
    Disconnect(false);
    throw;
  }
  EndData();
}

void CTernSMTPConnection::BeginTransaction(std::string_view sender, std::span<const std::string> recipients) {
  RequireSingleLine(sender, "the sender");
  for (const std::string& recipient : recipients) RequireSingleLine(recipient, "a recipient");

  SendLine("MAIL FROM:<" + std::string(sender) + ">");
  if (!ExpectReply(250)) Fail(kErrMailFrom);
  for (const std::string& recipient : recipients) {
    SendLine("RCPT TO:<" + recipient + ">");
    if (!ExpectReply(250)) Fail(kErrRcptTo);
  }
  SendLine("DATA");
  if (!ExpectReply(354)) Fail(kErrData);
}

void CTernSMTPConnection::EndData() {
  if (!ExpectReply(250)) Fail(kErrEndOfData);
}

void CTernSMTPConnection::SendMail(std::string_view sender, std::span<const std::string> recipients,
                                   std::string_view data) {
  BeginTransaction(sender, recipients);
  std::string text(data);
  text += "\r\n.\r\n";
  socket_.Send(text);
  EndData();
}

void CTernSMTPConnection::Disconnect(bool graceful) {
  std::optional<CSMTPException> failure;
  if (connected_ && graceful && !unusable_) {
    // A server that let a reply time out is most likely gone: its
    // goodbye is not worth another full wait.
    const auto timeout = replyTimeout_;
    if (timedOut_) replyTimeout_ = std::min(replyTimeout_, kQuitAfterTimeout);
    try {
      SendLine("QUIT");
      if (!ExpectReply(221)) failure = CSMTPException::Protocol(kErrQuit, lastReply_);
    } catch (const CSMTPException& error) {
      // A connection that cannot take QUIT will not answer it either.
      failure = error;
    }
    replyTimeout_ = timeout;
  }
  connected_ = false;
  socket_.Close();
  if (failure) throw *failure;
}

}  // namespace mail
