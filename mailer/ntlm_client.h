// The client side of an NTLM login carried over a text protocol: the
// security package makes the tokens, a subclass carries them to the server.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace platform {
class NtlmClientContext;
}

namespace mail {

class CNTLMClient {
 public:
  // Status values of the exchange, in the security package's numbering.
  static constexpr std::int32_t kStatusOk = 0;
  static constexpr std::int32_t kStatusInsufficientMemory = static_cast<std::int32_t>(0x80090300u);

  // The largest challenge token accepted from the server (bytes).
  static constexpr std::size_t kTokenBufferSize = 12000;

  using ContextFactory = std::function<std::unique_ptr<platform::NtlmClientContext>()>;

  CNTLMClient();
  virtual ~CNTLMClient();
  CNTLMClient(const CNTLMClient&) = delete;
  CNTLMClient& operator=(const CNTLMClient&) = delete;

  // Replaces the source of security contexts (tests); an empty factory
  // restores the system's NTLM package with the current user's
  // credentials.
  void SetContextFactory(ContextFactory factory);

 protected:
  // Sends the first (negotiate) token; no reply is read here.
  virtual void SendInitialToken(std::string_view token) = 0;
  // Reads the server's challenge into `challenge`; returns kStatusOk or a
  // failing status (negative).
  virtual std::int32_t ReceiveChallenge(std::string& challenge) = 0;
  // Sends an answer to a challenge and checks the server accepted it.
  virtual void SendResponseToken(std::string_view token) = 0;

  // Runs the whole exchange: acquire credentials and make the first
  // token, send it, then answer challenges until the security package is
  // done. `host` names the server for the security package. Returns
  // kStatusOk or the first failing status. Exceptions of the three
  // operations above pass through.
  std::int32_t RunExchange(std::string_view host);

  // The security package's description of the last failure (or empty).
  const std::string& SecurityError() const { return securityError_; }

 private:
  ContextFactory factory_;
  std::string securityError_;
};

}  // namespace mail
