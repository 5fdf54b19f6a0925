#include "platform/ntlm_security.h"

namespace platform {

NtlmClientContext::~NtlmClientContext() = default;
NtlmServerContext::~NtlmServerContext() = default;

}  // namespace platform
