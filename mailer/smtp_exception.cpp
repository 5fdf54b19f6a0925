#include "mailer/smtp_exception.h"

#include <cstdio>
#include <system_error>
#include <utility>

namespace mail {

namespace {

const char* ProtocolText(std::uint16_t number) {
  switch (number) {
    case kErrGreeting: return "The server did not greet: %s";
    case kErrPartHeader: return "A header of the message could not be built: %s";
    case kErrPartBody: return "A body part of the message could not be built: %s";
    case kErrPartTrailer: return "A closing boundary could not be built: %s";
    case kErrHeloBeforeAuth:
    case kErrHelo: return "The server refused the greeting: %s";
    case kErrLineBreak: return "A name or address holds a line break: %s";
    case kErrQuit: return "The server did not accept QUIT: %s";
    case kErrMailFrom: return "The server refused the sender: %s";
    case kErrData: return "The server refused DATA: %s";
    case kErrEndOfData: return "The server did not accept the message: %s";
    case kErrRcptTo: return "The server refused a recipient: %s";
    case kErrLoginCommand:
    case kErrPlainCommand:
    case kErrCramCommand: return "The server refused the login method: %s";
    case kErrLoginUserPrompt:
    case kErrPlainUserPrompt: return "The server did not ask for the user name: %s";
    case kErrLoginUser:
    case kErrPlainUser: return "The server refused the user name: %s";
    case kErrLoginPassPrompt:
    case kErrPlainPassPrompt: return "The server did not ask for the password: %s";
    case kErrLoginPass:
    case kErrPlainPass:
    case kErrCramResponse: return "The server refused the login: %s";
    case kErrNtlm: return "The server refused the NTLM login: %s";
    case kErrTlsUnavailable: return "The server offers no TLS: %s";
    case kErrTlsHandshake: return "The secure connection failed: %s";
    default: return nullptr;
  }
}

}  // namespace

CSMTPException::CSMTPException(std::uint32_t code, std::string message)
    : code_(code), message_(std::move(message)) {
  char head[32];
  std::snprintf(head, sizeof head, "SMTP error 0x%08X", static_cast<unsigned>(code_));
  what_ = head;
  if (!message_.empty()) what_ += ": " + message_;
}

CSMTPException CSMTPException::Protocol(SmtpError number, std::string message) {
  return CSMTPException(MakeErrorCode(kFacilityInterface, number), std::move(message));
}

CSMTPException CSMTPException::System(int errorCode) {
  return CSMTPException(MakeErrorCode(kFacilitySystem, static_cast<std::uint32_t>(errorCode)), {});
}

bool CSMTPException::GetErrorMessage(std::string& text) const {
  text.clear();
  if (Facility() == kFacilityInterface) {
    const char* format = ProtocolText(Number());
    if (!format) return false;
    std::string body(format);
    body.replace(body.find("%s"), 2, message_);
    text = std::move(body);
    return true;
  }
  text = std::system_category().message(Number());
  return !text.empty();
}

}  // namespace mail
