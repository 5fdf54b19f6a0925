// Windows backends not written yet. Each stub fails the way its interface
// fails when the system cannot serve it and logs one warning saying so, so
// that the whole tree links while the backends are being written. Whoever
// writes a backend deletes its stubs from here in the same change.

#include <string>

#include "platform/log.h"
#include "platform/registry.h"

namespace platform {
namespace {

void Pending(const char* what) {
  LogWarning(std::string(what) + ": not available in this Windows build yet");
}

}  // namespace

// The file-backed registry store is the POSIX registry; on Windows the
// registry is the system's.
std::unique_ptr<Registry> MakeFileRegistry(std::filesystem::path) {
  Pending("MakeFileRegistry");
  return nullptr;
}

}  // namespace platform
