#pragma once

#include <chrono>
#include <string_view>

namespace common {

// When the value `name` of the Quillmark key was last written, as the
// registry tells; `fallback` when it cannot tell.
std::chrono::system_clock::time_point QuillmarkValueWriteTime(std::string_view name,
                                                              std::chrono::system_clock::time_point fallback);

}  // namespace common
