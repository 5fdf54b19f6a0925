#include <cerrno>
#include <cstring>
#include <string>
#include <type_traits>

#include "platform/status.h"

namespace platform {

std::string SystemErrorText(int systemError) {
  char buffer[256] = {};
  // The GNU strerror_r returns the text (maybe not in the buffer); the
  // XSI one fills the buffer. Both are handled.
  const auto result = ::strerror_r(systemError, buffer, sizeof buffer);
  if constexpr (std::is_same_v<decltype(result), const char* const> ||
                std::is_same_v<decltype(result), char* const>) {
    return result != nullptr ? std::string(result) : std::string("error ") + std::to_string(systemError);
  } else {
    return result == 0 ? std::string(buffer) : std::string("error ") + std::to_string(systemError);
  }
}

int LastSystemError() { return errno; }

}  // namespace platform
