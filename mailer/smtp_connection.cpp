#include "mailer/smtp_connection.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "mailer/base64_coder.h"
#include "mailer/hmac_md5.h"
#include "mailer/smtp_message.h"
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

}  // namespace

CTernSMTPConnection::CTernSMTPConnection() { SetHeloHost("auto"); }

CTernSMTPConnection::~CTernSMTPConnection() {
    if (connected_) {
        try {
            Disconnect(true);
        } catch (const CSMTPException&) {
            // Nobody is left to tell.
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
    return reply.complete && reply.code == expectedCode;
}

void CTernSMTPConnection::Connect(std::string_view host, AuthMethod method, std::string_view user,
                                  std::string_view password, std::uint16_t port, std::string_view bindAddress) {
    // Every text that goes into a command is checked before anything is
    // sent. Login and CRAM-MD5 send user and password base64-encoded.
    RequireSingleLine(host, "the host name");
    RequireSingleLine(heloHost_, "the greeting name");
    if (method == AuthMethod::Plain) {
        RequireSingleLine(user, "the user name");
        RequireSingleLine(password, "the password");
    }
    lastReply_.clear();
    lastReplyCode_ = 0;
    host_ = host;

    socket_.Create();
    socket_.Connect(host, port, bindAddress, replyTimeout_);
    connected_ = true;

    try {
        if (!ExpectReply(220)) Fail(kErrGreeting);
        Greet(method != AuthMethod::None);
        switch (method) {
            case AuthMethod::None: break;
            case AuthMethod::CramMd5: AuthCramMd5(user, password); break;
            case AuthMethod::Login: AuthLogin(user, password); break;
            case AuthMethod::Plain: AuthPlain(user, password); break;
            case AuthMethod::Ntlm: AuthNtlm(); break;
        }
    } catch (const CSMTPException&) {
        try {
            Disconnect(true);
        } catch (const CSMTPException&) {
            // The first failure is the one that counts.
        }
        throw;
    }
}

void CTernSMTPConnection::Greet(bool withLogin) {
    if (!withLogin) {
        SendLine("HELO " + heloHost_);
        if (!ExpectReply(250)) Fail(kErrHelo);
        return;
    }
    // Logging in is an extension of the protocol, which a server offers
    // only to a client that greets with EHLO. A server that does not know
    // EHLO at all still gets HELO.
    SendLine("EHLO " + heloHost_);
    if (ExpectReply(250)) return;
    if (lastReplyCode_ != 500 && lastReplyCode_ != 502) Fail(kErrHeloBeforeAuth);
    SendLine("HELO " + heloHost_);
    if (!ExpectReply(250)) Fail(kErrHeloBeforeAuth);
}

void CTernSMTPConnection::AuthLogin(std::string_view user, std::string_view password) {
    SendLine("AUTH LOGIN");
    if (!ExpectReply(334)) Fail(kErrLoginCommand);
    if (!EqualsIgnoringCase(DecodeBase64(ReplyArgument(lastReply_)), "username:")) Fail(kErrLoginUserPrompt);
    SendLine(Base64Of(user));
    if (!ExpectReply(334)) Fail(kErrLoginUser);
    if (!EqualsIgnoringCase(DecodeBase64(ReplyArgument(lastReply_)), "password:")) Fail(kErrLoginPassPrompt);
    SendLine(Base64Of(password));
    if (!ExpectReply(235)) Fail(kErrLoginPass);
}

void CTernSMTPConnection::AuthPlain(std::string_view user, std::string_view password) {
    SendLine("AUTH PLAIN");
    if (!ExpectReply(334)) Fail(kErrPlainCommand);
    if (!EqualsIgnoringCase(ReplyArgument(lastReply_), "username:")) Fail(kErrPlainUserPrompt);
    SendLine(user);
    if (!ExpectReply(334)) Fail(kErrPlainUser);
    if (!EqualsIgnoringCase(ReplyArgument(lastReply_), "password:")) Fail(kErrPlainPassPrompt);
    SendLine(password);
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

void CTernSMTPConnection::SendInitialToken(std::string_view token) { SendLine("AUTH NTLM " + Base64Of(token)); }

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
    // The whole text first: a message that cannot be built (a line break
    // in an address, an attachment that cannot be read) fails here, before
    // the server has been told anything about it.
    message.CheckAddresses();
    const std::string data = message.BuildMessageText();

    std::vector<std::string> recipients;
    for (int kind : {CSMTPMessage::kTo, CSMTPMessage::kCc, CSMTPMessage::kBcc}) {
        for (int i = 0; i < message.RecipientCount(kind); ++i) {
            recipients.push_back(message.Recipient(i, kind).Address());
        }
    }
    SendMail(message.Sender().Address(), recipients, data);
}

void CTernSMTPConnection::SendMail(std::string_view sender, std::span<const std::string> recipients,
                                   std::string_view data) {
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
    std::string text(data);
    text += "\r\n.\r\n";
    socket_.Send(text);
    if (!ExpectReply(250)) Fail(kErrEndOfData);
}

void CTernSMTPConnection::Disconnect(bool graceful) {
    std::optional<CSMTPException> failure;
    if (connected_ && graceful) {
        try {
            SendLine("QUIT");
            if (!ExpectReply(221)) failure = CSMTPException::Protocol(kErrQuit, lastReply_);
        } catch (const CSMTPException& error) {
            // A connection that cannot take QUIT will not answer it either.
            failure = error;
        }
    }
    connected_ = false;
    socket_.Close();
    if (failure) throw *failure;
}

}  // namespace mail
