#include <string>

#include "platform/status.h"
#include "platform/windows/win32.h"

namespace platform {

std::string SystemErrorText(int systemError) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(systemError), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out;
  if (length != 0 && text != nullptr) {
    out.assign(text, length);
    ::LocalFree(text);
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
      out.pop_back();
  }
  if (out.empty()) out = "error " + std::to_string(systemError);
  return out;
}

int LastSystemError() { return static_cast<int>(::GetLastError()); }

}  // namespace platform
