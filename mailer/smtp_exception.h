// The one error type of the mailer: every failed step of an SMTP
// conversation, of a socket call or of building the message text.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace mail {

// Error numbers of protocol failures (facility 4).
enum SmtpError : std::uint16_t {
  kErrGreeting = 512,         // greeting after connecting is not 220
  kErrPartHeader = 513,       // a header text cannot be built
  kErrPartBody = 514,         // a body text cannot be built (attachment)
  kErrPartTrailer = 515,      // a closing boundary line cannot be built
  kErrHeloBeforeAuth = 516,   // EHLO/HELO not answered with 250, login follows
  kErrHelo = 517,             // HELO not answered with 250, no login
  kErrQuit = 518,             // QUIT not answered with 221
  kErrMailFrom = 519,         // MAIL FROM not answered with 250
  kErrData = 520,             // DATA not answered with 354
  kErrEndOfData = 521,        // end of data not answered with 250
  kErrLineBreak = 522,        // a command argument holds a CR or LF
  kErrTlsUnavailable = 523,   // TLS required, STARTTLS not offered or refused
  kErrRcptTo = 524,           // a RCPT TO not answered with 250
  kErrLoginCommand = 525,     // AUTH LOGIN: no 334 after the command
  kErrLoginUserPrompt = 526,  // (unused: the prompts' wording is not checked)
  kErrLoginUser = 527,        // AUTH LOGIN: no 334 after the user name
  kErrLoginPassPrompt = 528,  // (unused: the prompts' wording is not checked)
  kErrLoginPass = 529,        // AUTH LOGIN: no 235 after the password
  kErrPlainCommand = 530,     // AUTH PLAIN: no 334 after the command
  kErrPlainUserPrompt = 531,  // (unused: any other challenge gets RFC 4616)
  kErrPlainUser = 532,        // AUTH PLAIN, old dialogue: no 334 after the user
  kErrPlainPassPrompt = 533,  // AUTH PLAIN, old dialogue: no "password:" prompt
  kErrPlainPass = 534,        // AUTH PLAIN: no 235 after the credentials
  kErrCramCommand = 535,      // AUTH CRAM-MD5: no 334 after the command
  kErrCramResponse = 536,     // AUTH CRAM-MD5: no 235 after the response
  kErrTlsHandshake = 537,     // TLS handshake or certificate check failed
  kErrNtlm = 538,             // AUTH NTLM: no 334 / no 235
};

inline constexpr std::uint32_t kFacilityInterface = 4;  // protocol errors
inline constexpr std::uint32_t kFacilitySystem = 7;     // socket errors

// Codes are laid out like HRESULTs: bit 31 set, the facility in bits 16-30,
// the error number in bits 0-15.
constexpr std::uint32_t MakeErrorCode(std::uint32_t facility, std::uint32_t number) {
  return (number & 0xFFFFu) | ((facility | 0x8000u) << 16);
}

class CSMTPException : public std::exception {
 public:
  // A code built elsewhere (or handed in by a security package), stored
  // unchanged.
  CSMTPException(std::uint32_t code, std::string message);

  // A protocol failure: facility 4, `number`, and usually the server's
  // last reply as the message.
  static CSMTPException Protocol(SmtpError number, std::string message);
  // A failed socket call: facility 7, the system error code, no message.
  static CSMTPException System(int errorCode);

  std::uint32_t Code() const { return code_; }
  std::uint32_t Facility() const { return (code_ >> 16) & 0x7FFFu; }
  std::uint16_t Number() const { return static_cast<std::uint16_t>(code_ & 0xFFFFu); }
  const std::string& Message() const { return message_; }

  // A readable description: for protocol errors a fixed text per number
  // with the stored message inserted; for other codes the system's text
  // for the low 16 bits. False (and an empty text) when there is none.
  bool GetErrorMessage(std::string& text) const;

  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::uint32_t code_;
  std::string message_;
  std::string what_;
};

}  // namespace mail
