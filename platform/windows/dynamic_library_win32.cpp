#include "platform/windows/win32.h"  // first: before any other system header

#include <string>
#include <utility>

#include "platform/dynamic_library.h"
#include "platform/windows/wide_text.h"

namespace platform {

namespace {

std::string LastErrorText() {
  const DWORD code = ::GetLastError();
  char buffer[512] = {};
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

}  // namespace

DynamicLibrary::DynamicLibrary(const std::string& path) {
  // The library's own folder is searched for the libraries it needs (the
  // platform library beside it), not the caller's.
  const HMODULE module =
      ::LoadLibraryExW(windows::WideFromLatin1(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) throw DynamicLibraryError(LastErrorText());
  handle_ = module;
}

DynamicLibrary::~DynamicLibrary() {
  if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DynamicLibrary::Function DynamicLibrary::FindFunction(const std::string& name) const {
  if (!handle_) return nullptr;
  const FARPROC address = ::GetProcAddress(static_cast<HMODULE>(handle_), name.c_str());
  return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

}  // namespace platform
