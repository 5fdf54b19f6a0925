#include "platform/windows/win32.h"  // first: before any other system header

#include <rpc.h>

#include <cstdio>
#include <stdexcept>

#include "platform/uuid.h"

namespace platform {

namespace {

class RpcUuidSource final : public UuidSource {
 public:
  std::string NewUuidText() override {
    UUID id{};
    // RPC_S_UUID_LOCAL_ONLY still gives a random UUID, only not one
    // unique across machines; either serves as a fresh name.
    const RPC_STATUS status = ::UuidCreate(&id);
    if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) {
      throw std::runtime_error("UuidCreate failed");
    }
    char text[37];
    std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(id.Data1), static_cast<unsigned>(id.Data2),
                  static_cast<unsigned>(id.Data3), id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3],
                  id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
    return std::string(text, 36);
  }
};

}  // namespace

UuidSource& SystemUuidSource() {
  static RpcUuidSource source;
  return source;
}

}  // namespace platform
