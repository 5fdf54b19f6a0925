// quillcore-host: loads the engine library from its own folder, runs its
// entry on the main thread, and ends it on the system's stop request
// (SIGTERM or SIGINT on POSIX).

#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "platform/dynamic_library.h"
#include "platform/log.h"
#include "platform/message_queue.h"
#include "platform/program_folder.h"
#include "platform/stop_signal.h"

namespace {

#if defined(_WIN32)
constexpr const char* kLibraryName = "Quillcore.dll";
#else
constexpr const char* kLibraryName = "libquillcore.so";
#endif

}  // namespace

int main() {
  platform::SetLogIdentity("quillcore-host");
  // Hold the stop signals in every thread; one thread waits for them.
  platform::HoldStopSignals();

  // The engine comes from beside the host and nowhere else ("AppPath" names
  // the data folder only), and only when nobody but root or this account
  // can change it.
  const platform::Result<std::string> found =
      platform::TrustedProgramFile(platform::ProgramFolder(), kLibraryName);
  if (!found) {
    platform::LogDebug(found.Status().ToString());
    std::fprintf(stderr,
                 "quillcore-host: no engine library %s in %s that only its owner (root or this "
                 "account) can change\n",
                 kLibraryName, platform::ProgramFolder().c_str());
    return 1;
  }
  const std::string& library = *found;
  std::optional<platform::DynamicLibrary> engine;
  try {
    engine.emplace(library);
  } catch (const platform::DynamicLibraryError& error) {
    std::fprintf(stderr, "quillcore-host: cannot load the engine library %s: %s\n", library.c_str(),
                 error.what());
    return 1;
  }
  const platform::DynamicLibrary::Function rdl = engine->FindFunction("rdl");
  if (!rdl) {
    std::fprintf(stderr, "quillcore-host: %s has no entry point rdl\n", library.c_str());
    return 1;
  }

  platform::EnsureMessageQueue();
  platform::ThreadId mainThread = platform::CurrentThreadId();
  std::thread waiter([&] {
    platform::WaitForStopSignal();
    platform::PostThreadMessage(mainThread, platform::Message{platform::kQuitMessage, 0, 0});
  });

  rdl();

  // rdl only returns after the quit message, so the waiter has finished.
  waiter.join();
  return 0;
}
