#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/export.h"

namespace platform {

// Status values of an NTLM step, numbered like the Windows security
// support provider's: zero or positive is success, negative a failure.
namespace ntlm_status {
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kContinueNeeded = 0x00090312;
inline constexpr std::int32_t kInsufficientMemory = static_cast<std::int32_t>(0x80090300u);
inline constexpr std::int32_t kInternalError = static_cast<std::int32_t>(0x80090304u);
inline constexpr std::int32_t kPackageNotFound = static_cast<std::int32_t>(0x80090305u);
inline constexpr std::int32_t kInvalidToken = static_cast<std::int32_t>(0x80090308u);
inline constexpr std::int32_t kLogonDenied = static_cast<std::int32_t>(0x8009030Cu);
inline constexpr std::int32_t kNoCredentials = static_cast<std::int32_t>(0x8009030Eu);
}  // namespace ntlm_status

// The outcome of one step of an NTLM exchange.
struct NtlmStep {
  std::int32_t status = ntlm_status::kOk;
  std::string token;  // to be sent to the other side (may be empty)
  std::string error;  // the security package's own words on a failure

  bool Failed() const { return status < 0; }
  bool ContinueNeeded() const { return status == ntlm_status::kContinueNeeded; }
};

// The client side of NTLM with the credentials of the current user.
// On POSIX these come from the NTLM mechanism's usual sources (the
// NTLM_USER_FILE credentials file, the user named by NTLMUSER or USER).
class QM_PLATFORM_API NtlmClientContext {
 public:
  virtual ~NtlmClientContext();

  // Acquires the credentials and makes the first (negotiate) token for a
  // service on `host`.
  virtual NtlmStep Start(std::string_view host) = 0;
  // Takes the server's challenge and makes the answer (authenticate) token.
  virtual NtlmStep Continue(std::string_view challenge) = 0;

  // The system's NTLM package.
  static std::unique_ptr<NtlmClientContext> Create();
};

// The server side, checking a client's tokens against the same credential
// sources (local servers, tests).
class QM_PLATFORM_API NtlmServerContext {
 public:
  virtual ~NtlmServerContext();

  // Takes a client token; answers with the next token to send (the
  // challenge), or completes when the client proved its identity.
  virtual NtlmStep Accept(std::string_view token) = 0;
  // "DOMAIN\user" once the exchange completed, else empty.
  virtual std::string ClientName() const = 0;

  static std::unique_ptr<NtlmServerContext> Create();
};

}  // namespace platform
