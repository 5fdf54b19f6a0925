#pragma once

#include <cstdint>
#include <string>

namespace mail {

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
  std::uint32_t tls = 1;      // "SMTPTLS": 0 never, 1 when offered (missing), 2 required
};

}  // namespace mail
