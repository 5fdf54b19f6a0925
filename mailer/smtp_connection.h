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
    None = 0,
    CramMd5 = 1,  // AUTH CRAM-MD5
    Login = 2,    // AUTH LOGIN
    Plain = 3,    // AUTH PLAIN, as a two-prompt dialogue
    Ntlm = 4,     // AUTH NTLM with the current user's credentials
};

// Every operation throws CSMTPException: protocol errors carry the
// server's last reply as their message, socket errors the system's code.
class CTernSMTPConnection : public CNTLMClient {
public:
    static constexpr std::chrono::milliseconds kDefaultReplyTimeout{60000};

    CTernSMTPConnection();
    // Says QUIT when still connected (ignoring its outcome) and closes.
    ~CTernSMTPConnection() override;

    // Opens the TCP connection, reads the greeting, introduces itself and
    // logs in with `method`. With a login method the greeting is EHLO
    // (falling back to HELO only when EHLO is unknown to the server);
    // without one it is HELO. The TCP connection attempt gives up after the
    // reply time-out. A failure after the TCP connection was made says QUIT
    // and closes before it throws. The host and greeting names, and for
    // AUTH PLAIN (which sends them as they are) the user name and password,
    // must not hold CR or LF: such a text fails before anything is sent.
    void Connect(std::string_view host, AuthMethod method, std::string_view user,
                 std::string_view password, std::uint16_t port, std::string_view bindAddress = {});

    // Sends one message. The message's addresses are checked and its
    // complete text is produced first (CSMTPMessage::CheckAddresses and
    // BuildMessageText, which throw the header and body errors), so a
    // message that cannot be built fails before MAIL FROM and leaves the
    // connection ready for QUIT.
    void SendMessage(const CSMTPMessage& message);

    // The transaction itself: MAIL FROM `sender`, one RCPT TO per
    // recipient in order, DATA, `data`, end of data. `data` is the header,
    // the blank line and the body, ready for the wire (dot-stuffed), without
    // the end-of-data line. Addresses are bare (no display name, no angle
    // brackets) and must not hold CR or LF.
    void SendMail(std::string_view sender, std::span<const std::string> recipients,
                  std::string_view data);

    // When connected and `graceful`, says QUIT and expects 221 (error 518
    // otherwise); always closes the socket.
    void Disconnect(bool graceful = true);

    bool IsConnected() const { return connected_; }
    const std::string& LastReply() const { return lastReply_; }
    int LastReplyCode() const { return lastReplyCode_; }

    // The limit for each wait for reply data.
    void SetReplyTimeout(std::chrono::milliseconds timeout) { replyTimeout_ = timeout; }
    std::chrono::milliseconds ReplyTimeout() const { return replyTimeout_; }

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
};

}  // namespace mail
