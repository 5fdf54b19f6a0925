// Postrider: reads the mail settings from the registry, mails the file
// named by "ToSendFile" as the daily report, and ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "mailer/postrider_settings.h"
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

// The settings as the registry holds them now.
PostriderSettings ReadPostriderSettings();

// "None", "CRAM MD5", "AUTH LOGIN", "AUTH PLAIN", "NTLM" exactly as
// written; anything else means AUTH LOGIN.
AuthMethod AuthMethodFromName(std::string_view name);

// "SMTPTLS" as a mode: 0 never, 1 when offered, anything else required.
TlsMode TlsModeFromValue(std::uint32_t value);

// The fixed report message to the configured recipients, with one
// attachment per listed file (none: a plain text message).
CSMTPMessage BuildReportMessage(const PostriderSettings& settings);

// Connects, logs in, sends the report and says QUIT. Throws CSMTPException
// when the server did not accept the message.
void SendReport(const PostriderSettings& settings, CTernSMTPConnection& connection);

// The one line written to standard error when the program fails:
// "Postrider: error 526: 535 5.7.8 Authentication credentials invalid" --
// the protocol error number and the server's last reply line (or what
// failed, when the server said nothing), or for a system error its code in
// hexadecimal and the system's text ("error 0x8007006F: Connection
// refused"). Printable ASCII only (other bytes become "?"), and never the
// password, should a server echo it.
std::string DiagnosticLine(const CSMTPException& error, std::string_view password);

// Test hooks, read from the environment: QUILLMARK_SMTP_TIMEOUT_MS
// shortens the reply time-out (1 to 60000 ms), QUILLMARK_SMTPS_PORT names
// the port that means TLS from the first byte instead of 465.
void ApplyTestHooks(CTernSMTPConnection& connection);

// The whole program: 0 when the server accepted the message, 1 when
// anything failed. Never throws; on failure writes the diagnostic line to
// `diagnostics` (standard error in the program), on success nothing.
int RunPostrider(std::FILE* diagnostics) noexcept;

}  // namespace mail
