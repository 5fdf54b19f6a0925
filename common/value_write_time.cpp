#include "common/value_write_time.h"

#include "common/registry_keys.h"
#include "platform/log.h"
#include "platform/registry.h"

namespace common {

std::chrono::system_clock::time_point QuillmarkValueWriteTime(
    std::string_view name, std::chrono::system_clock::time_point fallback) {
  auto key =
      platform::Registry::Default().OpenKey(platform::Hive::kLocalMachine, kQuillmarkKey, platform::kKeyRead);
  // A key or value that does not exist has no time: the fallback stands
  // for it. Anything else is logged once while it lasts (read every pass).
  const std::string what = "write time of " + std::string(kQuillmarkKey) + "\\" + std::string(name);
  auto time = key ? (*key)->ValueWriteTime(name)
                  : platform::Result<std::chrono::system_clock::time_point>(key.Status());
  if (time || time.Status().IsNotFound()) {
    platform::LogRecovered(what, "reading the " + what);
  } else {
    platform::LogFailureOnce(what, "the " + what + " taken as now", time.Status());
  }
  return time.ValueOr(fallback);
}

}  // namespace common
