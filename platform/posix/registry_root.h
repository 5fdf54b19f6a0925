#pragma once

namespace platform::posix {

// Where the file-backed registry lives unless $QUILLMARK_REGISTRY names
// another folder.
inline constexpr const char* kDefaultRegistryRoot = "/var/lib/quillmark/registry";

}  // namespace platform::posix
