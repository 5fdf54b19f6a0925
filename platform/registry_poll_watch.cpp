// The watch every registry store has: the values are read again at a short
// interval and compared with what was read before.

#include <map>
#include <optional>

#include "platform/clock.h"
#include "platform/registry.h"

namespace platform {
namespace {

using Snapshot = std::map<std::string, std::optional<std::string>>;

class PollingValueWatch final : public ValueWatch {
 public:
  PollingValueWatch(Registry& registry, Hive hive, std::string path, std::vector<std::string> names)
      : registry_(registry), hive_(hive), path_(std::move(path)), names_(std::move(names)), seen_(Read()) {}

  bool Wait(std::chrono::milliseconds timeout, std::stop_token stop) override {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      Snapshot now = Read();
      if (now != seen_) {
        seen_ = std::move(now);
        return true;
      }
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left <= std::chrono::milliseconds::zero()) return false;
      if (!InterruptibleSleep(std::min(left, Registry::kValuePollInterval), stop) && stop.stop_requested()) {
        return false;
      }
    }
  }

 private:
  Snapshot Read() {
    Snapshot values;
    auto key = registry_.OpenKey(hive_, path_, kKeyRead);
    for (const std::string& name : names_) {
      std::optional<std::string>& value = values[name];
      if (!key) continue;
      std::uint32_t size = 0;
      RegType type = RegType::kNone;
      if (!(*key)->QueryValue(name, &type, nullptr, &size)) continue;
      std::string data(size, '\0');
      if (!(*key)->QueryValue(name, &type, data.data(), &size)) continue;
      data.resize(size);
      data.insert(0, 1, static_cast<char>(type));
      value = std::move(data);
    }
    return values;
  }

  Registry& registry_;
  Hive hive_;
  std::string path_;
  std::vector<std::string> names_;
  Snapshot seen_;
};

}  // namespace

ValueWatch::~ValueWatch() = default;

Result<std::chrono::system_clock::time_point> RegistryKey::ValueWriteTime(std::string_view name) {
  return Status(StatusCode::kInvalidArgument,
                "this registry store keeps no write time of " + std::string(name));
}

std::unique_ptr<ValueWatch> Registry::WatchValues(Hive hive, std::string_view path,
                                                  std::vector<std::string> names) {
  return std::make_unique<PollingValueWatch>(*this, hive, std::string(path), std::move(names));
}

}  // namespace platform
