#pragma once

// Owners of what the security support provider interface (SSPI: Schannel,
// NTLM) hands out: a credentials handle, a security context and an output
// buffer the package allocated. Each is released when its owner goes, and
// only if the package filled it in.

#include "platform/windows/win32.h"  // first: before any other system header

#define SECURITY_WIN32
#include <security.h>

#include <string_view>

namespace platform::windows {

class SspiCredentials {
 public:
  SspiCredentials() = default;
  ~SspiCredentials() {
    if (valid_) ::FreeCredentialsHandle(&handle_);
  }
  SspiCredentials(const SspiCredentials&) = delete;
  SspiCredentials& operator=(const SspiCredentials&) = delete;
  // For AcquireCredentialsHandle to fill in; SetValid() once it has.
  CredHandle* Out() { return &handle_; }
  CredHandle* Get() { return &handle_; }
  bool Valid() const { return valid_; }
  void SetValid() { valid_ = true; }

 private:
  CredHandle handle_{};
  bool valid_ = false;
};

class SspiContext {
 public:
  SspiContext() = default;
  ~SspiContext() {
    if (valid_) ::DeleteSecurityContext(&handle_);
  }
  SspiContext(const SspiContext&) = delete;
  SspiContext& operator=(const SspiContext&) = delete;
  // The context to continue; none before the first step.
  CtxtHandle* Get() { return valid_ ? &handle_ : nullptr; }
  CtxtHandle* Out() { return &handle_; }
  bool Valid() const { return valid_; }
  void SetValid() { valid_ = true; }

 private:
  CtxtHandle handle_{};
  bool valid_ = false;
};

// One output token buffer the package allocates (ISC_REQ_ALLOCATE_MEMORY),
// with the one-buffer description the calls take.
class SspiTokenBuffer {
 public:
  SspiTokenBuffer() = default;
  ~SspiTokenBuffer() {
    if (buffer_.pvBuffer) ::FreeContextBuffer(buffer_.pvBuffer);
  }
  SspiTokenBuffer(const SspiTokenBuffer&) = delete;
  SspiTokenBuffer& operator=(const SspiTokenBuffer&) = delete;
  SecBuffer* Get() { return &buffer_; }
  SecBufferDesc* Description() { return &description_; }
  std::string_view Bytes() const {
    return buffer_.pvBuffer ? std::string_view(static_cast<const char*>(buffer_.pvBuffer), buffer_.cbBuffer)
                            : std::string_view();
  }

 private:
  SecBuffer buffer_{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc description_{SECBUFFER_VERSION, 1, &buffer_};
};

}  // namespace platform::windows
