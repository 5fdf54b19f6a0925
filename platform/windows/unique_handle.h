#pragma once

// A kernel object handle (file, event, process, ...) closed when the owner
// goes. Only for handles CloseHandle closes; a failed CreateFile gives
// INVALID_HANDLE_VALUE, which is kept out by MakeUniqueFileHandle.

#include <memory>
#include <type_traits>

#include "platform/windows/win32.h"

namespace platform::windows {

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// Owns what CreateFile returned: empty when it failed.
inline UniqueHandle MakeUniqueFileHandle(HANDLE handle) {
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

}  // namespace platform::windows
