// NTLM through the system's security support provider interface (the
// "NTLM" package), with the credentials of the logged-on user.
#include "platform/windows/win32.h"  // first: before any other system header

#include <string>
#include <utility>

#include "platform/log.h"
#include "platform/ntlm_security.h"
#include "platform/status.h"
#include "platform/windows/security_status.h"
#include "platform/windows/sspi_handles.h"

namespace platform {

namespace {

using windows::SspiContext;
using windows::SspiCredentials;
using windows::SspiTokenBuffer;

wchar_t kPackage[] = L"NTLM";

constexpr ULONG kClientFlags = ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_CONNECTION;
constexpr ULONG kServerFlags = ASC_REQ_ALLOCATE_MEMORY | ASC_REQ_CONNECTION;

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out.push_back(*text < 0x100 ? static_cast<char>(*text) : '?');
  return out;
}

// Every failed step ends here: the package's status and its words.
NtlmStep Failure(SECURITY_STATUS status, const char* call) {
  NtlmStep step;
  step.status = static_cast<std::int32_t>(status);
  step.error = std::string(call) + ": " + windows::SecurityStatusText(status);
  LogDebug("NTLM: " + step.error);
  return step;
}

// A successful step: the token to send; COMPLETE_NEEDED is finished here.
NtlmStep Success(SECURITY_STATUS status, CtxtHandle* context, SspiTokenBuffer& token) {
  if (status == SEC_I_COMPLETE_NEEDED || status == SEC_I_COMPLETE_AND_CONTINUE) {
    const SECURITY_STATUS completed = ::CompleteAuthToken(context, token.Description());
    if (completed != SEC_E_OK) return Failure(completed, "CompleteAuthToken");
    status = status == SEC_I_COMPLETE_NEEDED ? SEC_E_OK : SEC_I_CONTINUE_NEEDED;
  }
  NtlmStep step;
  step.status = status == SEC_I_CONTINUE_NEEDED ? ntlm_status::kContinueNeeded : ntlm_status::kOk;
  step.token = std::string(token.Bytes());
  return step;
}

bool Succeeded(SECURITY_STATUS status) { return status >= 0; }

class SspiNtlmClient final : public NtlmClientContext {
 public:
  NtlmStep Start(std::string_view host) override {
    if (started_) return Failure(SEC_E_INTERNAL_ERROR, "the exchange was already started");
    started_ = true;
    TimeStamp expiry{};
    // No identity: the logged-on user's.
    const SECURITY_STATUS status =
        ::AcquireCredentialsHandleW(nullptr, kPackage, SECPKG_CRED_OUTBOUND, nullptr, nullptr, nullptr,
                                    nullptr, credentials_.Out(), &expiry);
    if (status != SEC_E_OK) return Failure(status, "AcquireCredentialsHandle");
    credentials_.SetValid();
    for (const char c :
         std::string("SMTP/") + std::string(host.empty() ? std::string_view("localhost") : host)) {
      target_.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return Step(nullptr);
  }

  NtlmStep Continue(std::string_view challenge) override {
    if (!credentials_.Valid() || !context_.Get()) {
      return Failure(SEC_E_INTERNAL_ERROR, "the exchange was not started");
    }
    std::string bytes(challenge);
    SecBuffer input{static_cast<unsigned long>(bytes.size()), SECBUFFER_TOKEN, bytes.data()};
    SecBufferDesc description{SECBUFFER_VERSION, 1, &input};
    return Step(&description);
  }

 private:
  NtlmStep Step(SecBufferDesc* input) {
    SspiTokenBuffer token;
    ULONG attributes = 0;
    TimeStamp expiry{};
    CtxtHandle* current = context_.Get();
    const SECURITY_STATUS status = ::InitializeSecurityContextW(
        credentials_.Get(), current, target_.data(), kClientFlags, 0, SECURITY_NATIVE_DREP, input, 0,
        context_.Out(), token.Description(), &attributes, &expiry);
    if (!Succeeded(status)) return Failure(status, "InitializeSecurityContext");
    context_.SetValid();
    return Success(status, context_.Get(), token);
  }

  bool started_ = false;
  std::wstring target_;
  SspiCredentials credentials_;
  SspiContext context_;
};

class SspiNtlmServer final : public NtlmServerContext {
 public:
  NtlmStep Accept(std::string_view token) override {
    if (!credentials_.Valid()) {
      TimeStamp expiry{};
      const SECURITY_STATUS status =
          ::AcquireCredentialsHandleW(nullptr, kPackage, SECPKG_CRED_INBOUND, nullptr, nullptr, nullptr,
                                      nullptr, credentials_.Out(), &expiry);
      if (status != SEC_E_OK) return Failure(status, "AcquireCredentialsHandle");
      credentials_.SetValid();
    }
    std::string bytes(token);
    SecBuffer input{static_cast<unsigned long>(bytes.size()), SECBUFFER_TOKEN, bytes.data()};
    SecBufferDesc inDescription{SECBUFFER_VERSION, 1, &input};
    SspiTokenBuffer output;
    ULONG attributes = 0;
    TimeStamp expiry{};
    CtxtHandle* current = context_.Get();
    const SECURITY_STATUS status = ::AcceptSecurityContext(credentials_.Get(), current, &inDescription,
                                                           kServerFlags, SECURITY_NATIVE_DREP, context_.Out(),
                                                           output.Description(), &attributes, &expiry);
    if (!Succeeded(status)) return Failure(status, "AcceptSecurityContext");
    context_.SetValid();
    NtlmStep step = Success(status, context_.Get(), output);
    if (step.status == ntlm_status::kOk) {
      SecPkgContext_NamesW names{};
      const SECURITY_STATUS named = ::QueryContextAttributesW(context_.Get(), SECPKG_ATTR_NAMES, &names);
      if (named == SEC_E_OK && names.sUserName) {
        clientName_ = Narrow(names.sUserName);
        ::FreeContextBuffer(names.sUserName);
      } else {
        LogWarning("the NTLM client's name is not known: " + windows::SecurityStatusText(named));
      }
    }
    return step;
  }

  std::string ClientName() const override { return clientName_; }

 private:
  SspiCredentials credentials_;
  SspiContext context_;
  std::string clientName_;
};

}  // namespace

std::unique_ptr<NtlmClientContext> NtlmClientContext::Create() { return std::make_unique<SspiNtlmClient>(); }

std::unique_ptr<NtlmServerContext> NtlmServerContext::Create() { return std::make_unique<SspiNtlmServer>(); }

}  // namespace platform
