#include "platform/uuid.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<UuidSource*> g_override{nullptr};
}  // namespace

UuidSource::~UuidSource() = default;

UuidSource& UuidSource::Default() {
  if (UuidSource* source = g_override.load()) return *source;
  return SystemUuidSource();
}

UuidSource* UuidSource::SetDefault(UuidSource* source) { return g_override.exchange(source); }

std::string NewUuidText() { return UuidSource::Default().NewUuidText(); }

}  // namespace platform
