#include "mailer/postrider.h"

#include <cstdlib>
#include <exception>
#include <limits>
#include <system_error>

#include <optional>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/scramble.h"
#include "mailer/sendable_files.h"
#include "platform/log.h"

namespace mail {

namespace {

std::string ReadText(std::string_view name) { return CRegString(common::QuillmarkValue(name)).Get(); }

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
  s.tls = CRegDword(common::QuillmarkValue("SMTPTLS"), 1).Get();
  return s;
}

TlsMode TlsModeFromValue(std::uint32_t value) {
  switch (value) {
    case 0: return TlsMode::kNever;
    case 1: return TlsMode::kWhenOffered;
    default: return TlsMode::kRequired;  // never less than was asked for
  }
}

AuthMethod AuthMethodFromName(std::string_view name) {
  if (name == "None") return AuthMethod::kNone;
  if (name == "CRAM MD5") return AuthMethod::kCramMd5;
  if (name == "AUTH PLAIN") return AuthMethod::kPlain;
  if (name == "NTLM") return AuthMethod::kNtlm;
  return AuthMethod::kLogin;
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
  connection.SetTlsMode(TlsModeFromValue(settings.tls));
  connection.Connect(settings.host, AuthMethodFromName(settings.authName), settings.user, settings.password,
                     static_cast<std::uint16_t>(settings.port), {});
  connection.SendMessage(message);
  try {
    connection.Disconnect(true);
  } catch (const CSMTPException& error) {
    // The message was accepted; how the server takes the goodbye does
    // not change that (and success prints nothing but debug lines).
    platform::LogDebug("the server's goodbye failed after the message was accepted: " +
                       std::string(error.Message()));
  }
}

namespace {

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back(u >= 0x20 && u < 0x7F ? c : '?');
  }
  return out;
}

// The last line of a reply or message that says something.
std::string_view LastLine(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  const std::size_t end = text.find_last_of("\r\n");
  return end == std::string_view::npos ? text : text.substr(end + 1);
}

std::optional<std::uint32_t> NumberFromEnvironment(const char* name, std::uint32_t low, std::uint32_t high) {
  const char* text = std::getenv(name);
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*end != '\0' || value < low || value > high) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::string DiagnosticLine(const CSMTPException& error, std::string_view password) {
  char head[48];
  std::string text;
  if (error.Facility() == kFacilityInterface) {
    std::snprintf(head, sizeof head, "Postrider: error %u: ", static_cast<unsigned>(error.Number()));
    text = std::string(LastLine(error.Message()));
    if (text.empty()) text = "no reply from the server";
  } else {
    std::snprintf(head, sizeof head, "Postrider: error 0x%08X: ", static_cast<unsigned>(error.Code()));
    if (!error.GetErrorMessage(text) || text.empty()) text = std::string(LastLine(error.Message()));
  }
  if (password.size() > 0) {
    for (std::size_t at; (at = text.find(password)) != std::string::npos;)
      text.replace(at, password.size(), "********");
  }
  return head + Printable(text);
}

void ApplyTestHooks(CTernSMTPConnection& connection) {
  if (auto ms = NumberFromEnvironment("QUILLMARK_SMTP_TIMEOUT_MS", 1, 60000)) {
    connection.SetReplyTimeout(std::chrono::milliseconds(*ms));
  }
  if (auto port = NumberFromEnvironment("QUILLMARK_SMTPS_PORT", 1, 65535)) {
    connection.SetImplicitTlsPort(static_cast<std::uint16_t>(*port));
  }
}

int RunPostrider(std::FILE* diagnostics) noexcept {
  std::string password;
  try {
    PostriderSettings settings = ReadPostriderSettings();
    password = settings.password;
    if (!HoldToLogsFolder(settings)) return 1;
    CTernSMTPConnection connection;
    ApplyTestHooks(connection);
    SendReport(settings, connection);
    return 0;
  } catch (const CSMTPException& error) {
    if (diagnostics) std::fprintf(diagnostics, "%s\n", DiagnosticLine(error, password).c_str());
  } catch (const std::exception& error) {
    if (diagnostics) std::fprintf(diagnostics, "Postrider: error 0: %s\n", Printable(error.what()).c_str());
  } catch (...) {
    if (diagnostics) std::fprintf(diagnostics, "Postrider: error 0: unknown failure\n");
  }
  return 1;
}

}  // namespace mail
