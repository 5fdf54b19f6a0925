// Postrider: reads the mail settings from the registry, mails the file
// named by "ToSendFile" as the daily report, and ends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mailer/smtp_connection.h"
#include "mailer/smtp_message.h"

namespace mail {

inline constexpr std::string_view kReportSubject = "Log From Quillmark... LatestLog.xml";
inline constexpr std::string_view kReportBodyText =
    "The REPORT is attached to this mail! \r\n \r\n Please note that if you view the attachment "
    "directly from your email and you receive The XML page cannot be displayed message you should "
    "save the file on your hard drive and open it from that location. In this way the report will "
    "be displayed properly.";
inline constexpr std::string_view kReportCharset = "iso-8859-1";

// Everything the mailer takes from the registry, descrambled where stored
// scrambled.
struct PostriderSettings {
    std::string recipients;     // "EmailAddress": list split at "," and ";"
    std::string files;          // "ToSendFile": attachment paths, same list form
    std::string senderAddress;  // "SMTPEmailAddress"
    std::string senderName;     // "SMTPName"
    std::string host;           // "SMTPSRV"
    std::string authName;       // "SMTPAUTH"
    std::string user;           // "SMTPEmailAddress4Server"
    std::string password;       // "SMTPPass4MailServer"
    std::uint32_t port = 0;     // "SMTPPORT"
};

PostriderSettings ReadPostriderSettings();

// "None", "CRAM MD5", "AUTH LOGIN", "AUTH PLAIN", "NTLM" exactly as
// written; anything else means AUTH LOGIN.
AuthMethod AuthMethodFromName(std::string_view name);

// The fixed report message to the configured recipients, with one
// attachment per listed file (none: a plain text message).
CSMTPMessage BuildReportMessage(const PostriderSettings& settings);

// Connects, logs in, sends the report and says QUIT. Throws CSMTPException
// when the server did not accept the message.
void SendReport(const PostriderSettings& settings, CTernSMTPConnection& connection);

// The whole program: 0 when the server accepted the message, 1 when
// anything failed. Never throws and writes nothing.
int RunPostrider() noexcept;

}  // namespace mail
