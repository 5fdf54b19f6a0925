#pragma once

#include <string>
#include <string_view>

namespace common {

// The one key every program reads and writes, below HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kQuillmarkKey = "Software\\Quillmark";

// The full path of a value of that key, as the value objects take it.
inline std::string QuillmarkValue(std::string_view name) {
  std::string path(kQuillmarkKey);
  path += '\\';
  path += name;
  return path;
}

}  // namespace common
