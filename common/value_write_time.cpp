#include "common/value_write_time.h"

#include "common/registry_keys.h"
#include "platform/registry.h"

namespace common {

std::chrono::system_clock::time_point QuillmarkValueWriteTime(std::string_view name,
                                                              std::chrono::system_clock::time_point fallback) {
  auto key = platform::Registry::Default().OpenKey(platform::Hive::LocalMachine, kQuillmarkKey, platform::kKeyRead);
  if (!key) return fallback;
  return (*key)->ValueWriteTime(name).value_or(fallback);
}

}  // namespace common
