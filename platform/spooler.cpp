#include "platform/spooler.h"

#include <cstdlib>
#include <mutex>

namespace platform {

StatusCode CodeOfSpoolerError(std::int32_t code) {
  switch (code) {
    case kErrorFileNotFound:
    case kErrorInvalidPrinterName: return StatusCode::kNotFound;
    case kErrorAccessDenied: return StatusCode::kAccessDenied;
    case kErrorInvalidHandle:
    case kErrorInvalidParameter:
    case kErrorNotSupported: return StatusCode::kInvalidArgument;
    case kErrorInsufficientBuffer: return StatusCode::kMoreData;
    case kErrorServerUnavailable: return StatusCode::kUnavailable;
    default: return StatusCode::kIoError;
  }
}

SpoolerError::SpoolerError(std::int32_t code, const std::string& what, int systemError)
    : StatusError(systemError != 0 ? platform::Status(CodeOfSpoolerError(code), what, systemError)
                                   : platform::Status::Described(CodeOfSpoolerError(code), what),
                  systemError != 0 ? what + ": " + SystemErrorText(systemError) : what),
      code_(code) {}

ChangeNotification::~ChangeNotification() = default;
SpoolPrinter::~SpoolPrinter() = default;

// No history: a spooler that forgets a job as soon as it leaves the queue.
std::vector<SpoolJob> SpoolPrinter::EndedJobs() { return {}; }

Spooler::~Spooler() = default;

std::optional<std::filesystem::path> SpoolFolderFromEnvironment() {
  const char* env = std::getenv("QUILLMARK_SPOOLER");
  if (env && *env) return std::filesystem::path(env);
  return std::nullopt;
}

std::unique_ptr<Spooler> MakeSpooler() {
  if (auto folder = SpoolFolderFromEnvironment()) return MakeFolderSpooler(*folder);
  return MakeSystemSpooler();
}

namespace {
std::mutex g_defaultMutex;
Spooler* g_override = nullptr;
std::unique_ptr<Spooler> g_made;
}  // namespace

Spooler& Spooler::Default() {
  std::lock_guard lock(g_defaultMutex);
  if (g_override) return *g_override;
  if (!g_made) g_made = MakeSpooler();
  return *g_made;
}

Spooler* Spooler::SetDefault(Spooler* spooler) {
  std::lock_guard lock(g_defaultMutex);
  Spooler* old = g_override;
  g_override = spooler;
  return old;
}

}  // namespace platform
