// quillcore-host: loads the engine library from its own folder, runs its
// entry on the main thread, and ends it on SIGTERM or SIGINT.

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "platform/message_queue.h"
#include "platform/program_folder.h"

namespace {

constexpr const char* kLibraryName = "libquillcore.so";

}  // namespace

int main() {
  // Block the stop signals in every thread; one thread waits for them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // The engine comes from beside the host and nowhere else ("AppPath" names
  // the data folder only), and only when nobody but root or this account
  // can change it.
  const std::optional<std::string> found =
      platform::TrustedProgramFile(platform::ProgramFolder(), kLibraryName);
  if (!found) {
    std::fprintf(stderr,
                 "quillcore-host: no engine library %s in %s that only its owner (root or this "
                 "account) can change\n",
                 kLibraryName, platform::ProgramFolder().c_str());
    return 1;
  }
  const std::string& library = *found;
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "quillcore-host: cannot load the engine library %s: %s\n",
                 library.c_str(), dlerror());
    return 1;
  }
  auto rdl = reinterpret_cast<void (*)()>(dlsym(handle, "rdl"));
  if (!rdl) {
    std::fprintf(stderr, "quillcore-host: %s has no entry point rdl\n", library.c_str());
    dlclose(handle);
    return 1;
  }

  platform::EnsureMessageQueue();
  platform::ThreadId mainThread = platform::CurrentThreadId();
  std::thread waiter([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    platform::PostThreadMessage(mainThread, platform::Message{platform::kQuitMessage, 0, 0});
  });

  rdl();

  // rdl only returns after the quit message, so the waiter has finished.
  waiter.join();
  dlclose(handle);
  return 0;
}
