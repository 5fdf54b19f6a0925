// NTLM through GSSAPI with the NTLMSSP mechanism (gss-ntlmssp).
#include <gssapi/gssapi.h>

#include <string>
#include <utility>

#include "platform/ntlm_security.h"

namespace platform {

namespace {

// 1.3.6.1.4.1.311.2.2.10, the NTLM security support provider.
gss_OID_desc g_ntlmOid = {10, const_cast<char*>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};

class Buffer {
 public:
  Buffer() = default;
  ~Buffer() {
    OM_uint32 minor = 0;
    gss_release_buffer(&minor, &buffer_);
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  gss_buffer_t Get() { return &buffer_; }
  std::string Bytes() const {
    return buffer_.value ? std::string(static_cast<const char*>(buffer_.value), buffer_.length)
                         : std::string();
  }
  // Names and messages, which some mechanisms hand out with their
  // terminating zero counted.
  std::string Text() const {
    std::string text = Bytes();
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }

 private:
  gss_buffer_desc buffer_{0, nullptr};
};

class Name {
 public:
  Name() = default;
  ~Name() { Reset(); }
  Name(const Name&) = delete;
  Name& operator=(const Name&) = delete;
  gss_name_t* Out() {
    Reset();
    return &name_;
  }
  gss_name_t Get() const { return name_; }
  void Reset() {
    OM_uint32 minor = 0;
    if (name_ != GSS_C_NO_NAME) gss_release_name(&minor, &name_);
    name_ = GSS_C_NO_NAME;
  }

 private:
  gss_name_t name_ = GSS_C_NO_NAME;
};

class Credential {
 public:
  Credential() = default;
  ~Credential() {
    OM_uint32 minor = 0;
    if (cred_ != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &cred_);
  }
  Credential(const Credential&) = delete;
  Credential& operator=(const Credential&) = delete;
  gss_cred_id_t* Out() { return &cred_; }
  gss_cred_id_t Get() const { return cred_; }
  bool Empty() const { return cred_ == GSS_C_NO_CREDENTIAL; }

 private:
  gss_cred_id_t cred_ = GSS_C_NO_CREDENTIAL;
};

class Context {
 public:
  Context() = default;
  ~Context() {
    OM_uint32 minor = 0;
    if (ctx_ != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &ctx_, GSS_C_NO_BUFFER);
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  gss_ctx_id_t* Inout() { return &ctx_; }

 private:
  gss_ctx_id_t ctx_ = GSS_C_NO_CONTEXT;
};

std::string DescribeStatus(OM_uint32 major, OM_uint32 minor) {
  std::string text;
  auto append = [&text](OM_uint32 code, int type, gss_OID mech) {
    OM_uint32 more = 0;
    do {
      OM_uint32 ignored = 0;
      Buffer piece;
      if (GSS_ERROR(gss_display_status(&ignored, code, type, mech, &more, piece.Get()))) break;
      if (!text.empty()) text += "; ";
      text += piece.Text();
    } while (more != 0);
  };
  append(major, GSS_C_GSS_CODE, GSS_C_NO_OID);
  if (minor != 0) append(minor, GSS_C_MECH_CODE, &g_ntlmOid);
  return text;
}

std::int32_t MapStatus(OM_uint32 major) {
  if (!GSS_ERROR(major)) {
    return (major & GSS_S_CONTINUE_NEEDED) ? ntlm_status::kContinueNeeded : ntlm_status::kOk;
  }
  switch (GSS_ROUTINE_ERROR(major)) {
    case GSS_S_BAD_MECH: return ntlm_status::kPackageNotFound;
    case GSS_S_NO_CRED:
    case GSS_S_CREDENTIALS_EXPIRED: return ntlm_status::kNoCredentials;
    case GSS_S_DEFECTIVE_CREDENTIAL: return ntlm_status::kLogonDenied;
    case GSS_S_DEFECTIVE_TOKEN:
    case GSS_S_BAD_SIG:
    case GSS_S_NO_CONTEXT: return ntlm_status::kInvalidToken;
    default: return ntlm_status::kInternalError;
  }
}

NtlmStep MakeStep(OM_uint32 major, OM_uint32 minor, Buffer& token) {
  NtlmStep step;
  step.status = MapStatus(major);
  if (step.Failed()) {
    step.error = DescribeStatus(major, minor);
  } else {
    step.token = token.Bytes();
  }
  return step;
}

NtlmStep Failure(std::int32_t status, std::string error) {
  NtlmStep step;
  step.status = status;
  step.error = std::move(error);
  return step;
}

class GssNtlmClient final : public NtlmClientContext {
 public:
  NtlmStep Start(std::string_view host) override {
    if (started_) return Failure(ntlm_status::kInternalError, "the exchange was already started");
    started_ = true;
    OM_uint32 minor = 0;
    gss_OID_set_desc mechs{1, &g_ntlmOid};
    OM_uint32 major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechs, GSS_C_INITIATE,
                                       cred_.Out(), nullptr, nullptr);
    if (GSS_ERROR(major)) {
      NtlmStep step = MakeStep(major, minor, empty_);
      if (GSS_ROUTINE_ERROR(major) == GSS_S_FAILURE) step.status = ntlm_status::kNoCredentials;
      return step;
    }
    std::string service = "smtp@" + std::string(host.empty() ? std::string_view("localhost") : host);
    gss_buffer_desc nameText{service.size(), service.data()};
    major = gss_import_name(&minor, &nameText, GSS_C_NT_HOSTBASED_SERVICE, target_.Out());
    if (GSS_ERROR(major)) return MakeStep(major, minor, empty_);
    return Step(GSS_C_NO_BUFFER);
  }

  NtlmStep Continue(std::string_view challenge) override {
    if (!started_ || cred_.Empty())
      return Failure(ntlm_status::kInternalError, "the exchange was not started");
    gss_buffer_desc input{challenge.size(), const_cast<char*>(challenge.data())};
    return Step(&input);
  }

 private:
  NtlmStep Step(gss_buffer_t input) {
    OM_uint32 minor = 0;
    Buffer output;
    const OM_uint32 major =
        gss_init_sec_context(&minor, cred_.Get(), context_.Inout(), target_.Get(), &g_ntlmOid, 0, 0,
                             GSS_C_NO_CHANNEL_BINDINGS, input, nullptr, output.Get(), nullptr, nullptr);
    return MakeStep(major, minor, output);
  }

  bool started_ = false;
  Credential cred_;
  Name target_;
  Context context_;
  Buffer empty_;
};

class GssNtlmServer final : public NtlmServerContext {
 public:
  NtlmStep Accept(std::string_view token) override {
    OM_uint32 minor = 0;
    if (cred_.Empty()) {
      gss_OID_set_desc mechs{1, &g_ntlmOid};
      const OM_uint32 major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechs, GSS_C_ACCEPT,
                                               cred_.Out(), nullptr, nullptr);
      if (GSS_ERROR(major)) return MakeStep(major, minor, empty_);
    }
    gss_buffer_desc input{token.size(), const_cast<char*>(token.data())};
    Buffer output;
    Name source;
    const OM_uint32 major =
        gss_accept_sec_context(&minor, context_.Inout(), cred_.Get(), &input, GSS_C_NO_CHANNEL_BINDINGS,
                               source.Out(), nullptr, output.Get(), nullptr, nullptr, nullptr);
    NtlmStep step = MakeStep(major, minor, output);
    if (GSS_ROUTINE_ERROR(major) == GSS_S_FAILURE || GSS_ROUTINE_ERROR(major) == GSS_S_DEFECTIVE_CREDENTIAL) {
      step.status = ntlm_status::kLogonDenied;
    }
    if (step.status == ntlm_status::kOk && source.Get() != GSS_C_NO_NAME) {
      Buffer text;
      OM_uint32 ignored = 0;
      if (!GSS_ERROR(gss_display_name(&ignored, source.Get(), text.Get(), nullptr)))
        clientName_ = text.Text();
    }
    return step;
  }

  std::string ClientName() const override { return clientName_; }

 private:
  Credential cred_;
  Context context_;
  Buffer empty_;
  std::string clientName_;
};

}  // namespace

std::unique_ptr<NtlmClientContext> NtlmClientContext::Create() { return std::make_unique<GssNtlmClient>(); }

std::unique_ptr<NtlmServerContext> NtlmServerContext::Create() { return std::make_unique<GssNtlmServer>(); }

}  // namespace platform

#if defined(__SANITIZE_ADDRESS__)
// The NTLMSSP mechanism leaves one small allocation behind when it is handed
// a malformed token; our own handles are all released. Leak checks of
// programs that link this file pass over that library's allocations.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:gssntlmssp.so\n";
}
#endif
