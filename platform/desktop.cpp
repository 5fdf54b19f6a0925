#include "platform/desktop.h"

#include <atomic>
#include <cstdlib>

namespace platform {
namespace {

std::atomic<DesktopOpener*> g_override{nullptr};

}  // namespace

DesktopOpener::~DesktopOpener() = default;

DesktopOpener& DesktopOpener::Default() {
  if (DesktopOpener* o = g_override.load()) return *o;
  static const std::unique_ptr<DesktopOpener> standard = [] {
    const char* env = std::getenv("QUILLMARK_OPENER");
    return env != nullptr && *env != '\0' ? MakeProgramOpener(env) : MakeSystemOpener();
  }();
  return *standard;
}

DesktopOpener* DesktopOpener::SetDefault(DesktopOpener* opener) { return g_override.exchange(opener); }

}  // namespace platform
