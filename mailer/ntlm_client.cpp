#include "mailer/ntlm_client.h"

#include <utility>

#include "platform/ntlm_security.h"

namespace mail {

CNTLMClient::CNTLMClient() = default;
CNTLMClient::~CNTLMClient() = default;

void CNTLMClient::SetContextFactory(ContextFactory factory) { factory_ = std::move(factory); }

std::int32_t CNTLMClient::RunExchange(std::string_view host) {
  securityError_.clear();
  std::unique_ptr<platform::NtlmClientContext> context =
      factory_ ? factory_() : platform::NtlmClientContext::Create();
  if (!context) return platform::ntlm_status::kPackageNotFound;

  platform::NtlmStep step = context->Start(host);
  if (step.Failed()) {
    securityError_ = std::move(step.error);
    return step.status;
  }
  bool done = !step.ContinueNeeded();
  SendInitialToken(step.token);
  while (!done) {
    std::string challenge;
    if (const std::int32_t status = ReceiveChallenge(challenge); status < 0) return status;
    step = context->Continue(challenge);
    if (step.Failed()) {
      securityError_ = std::move(step.error);
      return step.status;
    }
    done = !step.ContinueNeeded();
    SendResponseToken(step.token);
  }
  return kStatusOk;
}

}  // namespace mail
