#pragma once

// A registry value watch on the file-backed store: the kernel tells
// (inotify) when a value file in the key's folder is replaced or removed.
// While the folder does not exist, or the kernel refuses the watch, the
// fallback watch (polling) stands in.

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "platform/registry.h"

namespace platform {

std::unique_ptr<ValueWatch> MakeInotifyValueWatch(std::filesystem::path folder, std::set<std::string> files,
                                                  std::unique_ptr<ValueWatch> fallback);

}  // namespace platform
