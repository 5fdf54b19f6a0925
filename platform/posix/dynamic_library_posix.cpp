#include <dlfcn.h>

#include <utility>

#include "platform/dynamic_library.h"

namespace platform {

DynamicLibrary::DynamicLibrary(const std::string& path) {
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = ::dlerror();
    throw DynamicLibraryError(why ? why : "cannot be loaded");
  }
}

DynamicLibrary::~DynamicLibrary() {
  if (handle_) ::dlclose(handle_);
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_) ::dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DynamicLibrary::Function DynamicLibrary::FindFunction(const std::string& name) const {
  if (!handle_) return nullptr;
  return reinterpret_cast<Function>(::dlsym(handle_, name.c_str()));
}

}  // namespace platform
