// quillcore-host: loads the engine library, runs its entry on the main
// thread, and ends it on SIGTERM or SIGINT.

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "platform/message_queue.h"

namespace {

constexpr const char* kLibraryName = "libquillcore.so";

std::filesystem::path HostFolder() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path(".") : self.parent_path();
}

// The library in the application folder, else the one beside the host.
std::filesystem::path FindLibrary() {
  std::string appPath = CRegString(common::QuillmarkValue("AppPath")).Get();
  if (!appPath.empty()) {
    std::filesystem::path candidate = std::filesystem::path(appPath) / kLibraryName;
    std::error_code ec;
    if (std::filesystem::exists(candidate, ec)) return candidate;
  }
  return HostFolder() / kLibraryName;
}

}  // namespace

int main() {
  // Block the stop signals in every thread; one thread waits for them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::filesystem::path library = FindLibrary();
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
