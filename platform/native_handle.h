#pragma once

#include <cstdint>

namespace platform {

// A system handle as the platform layer keeps it inside its objects: a file
// descriptor or process id on POSIX, a HANDLE on Windows. Both fit in a
// pointer-sized integer, and -1 is "no handle" for both (it is also the
// value of INVALID_HANDLE_VALUE).
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kNoHandle = -1;

}  // namespace platform
