// The registry on the system's registry API (the wide functions). Names
// and REG_SZ data are Latin-1 on the platform side and UTF-16 in the
// registry, converted character by character as the system's ANSI
// functions do for Latin-1 text; REG_DWORD and REG_BINARY data are bytes.
// Registry::Default() is the system's registry, or, when QUILLMARK_REGISTRY
// names a key, the registry redirected below HKEY_CURRENT_USER\<that key>
// (see registry_win32.h), which every program of a test run then shares.

#include "platform/windows/win32.h"  // first: before any other system header

#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <span>
#include <stop_token>
#include <utility>

#include "platform/log.h"
#include "platform/windows/registry_win32.h"
#include "platform/windows/stoppable_wait.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

namespace platform {
namespace {

using windows::Latin1FromWide;
using windows::StoppableWait;
using windows::WaitForAnyOrStop;
using windows::WideFromLatin1;

struct KeyCloser {
  void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// The one error path of the registry calls: the system's code with the
// call and the key or value it was about.
Status Failed(LONG rc, const std::string& what) { return Status::FromSystem(static_cast<int>(rc), what); }

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// The platform's bytes of a value as the registry holds it.
std::string PlatformData(DWORD type, const std::string& raw) {
  if (!IsText(type)) return raw;
  std::wstring wide(raw.size() / sizeof(wchar_t), L'\0');
  std::memcpy(wide.data(), raw.data(), wide.size() * sizeof(wchar_t));
  return Latin1FromWide(wide);
}

std::string RegistryData(RegType type, const void* data, std::uint32_t size) {
  std::string bytes(static_cast<const char*>(data), size);
  if (type != RegType::kSz) return bytes;
  const std::wstring wide = WideFromLatin1(bytes);
  return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

class SystemKey final : public RegistryKey {
 public:
  SystemKey(UniqueKey key, std::string path) : key_(std::move(key)), path_(std::move(path)) {}

  Status QueryValue(std::string_view name, RegType* type, void* data, std::uint32_t* size) override {
    DWORD rawType = REG_NONE;
    std::string raw;
    if (Status status = Read(name, rawType, raw); !status) return status;
    const std::string value = PlatformData(rawType, raw);
    if (type) *type = static_cast<RegType>(rawType);
    if (!size)
      return data ? Status(StatusCode::kInvalidArgument, "query " + path_ + ": data without a size")
                  : Status();
    const auto needed = static_cast<std::uint32_t>(value.size());
    if (!data) {
      *size = needed;
      return Status();
    }
    if (*size < needed) {
      *size = needed;
      return Status(StatusCode::kMoreData, "query " + path_ + "\\" + std::string(name), ERROR_MORE_DATA);
    }
    std::memcpy(data, value.data(), needed);
    *size = needed;
    return Status();
  }

  Status SetValue(std::string_view name, RegType type, const void* data, std::uint32_t size) override {
    const std::string bytes = RegistryData(type, data, size);
    const LONG rc =
        ::RegSetValueExW(key_.get(), WideFromLatin1(name).c_str(), 0, static_cast<DWORD>(type),
                         reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    if (rc != ERROR_SUCCESS) return Failed(rc, "RegSetValueExW " + path_ + "\\" + std::string(name));
    return Status();
  }

  Status DeleteValue(std::string_view name) override {
    const LONG rc = ::RegDeleteValueW(key_.get(), WideFromLatin1(name).c_str());
    if (rc != ERROR_SUCCESS) return Failed(rc, "RegDeleteValueW " + path_ + "\\" + std::string(name));
    return Status();
  }

  std::vector<RegValueInfo> Values() override {
    std::vector<RegValueInfo> out;
    DWORD count = 0, longestName = 0, longestData = 0;
    LONG rc = ::RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                                 &longestName, &longestData, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      LogWarning("registry values not listed", Failed(rc, "RegQueryInfoKeyW " + path_));
      return out;
    }
    std::wstring name(longestName + 1, L'\0');
    std::string data(longestData, '\0');
    for (DWORD i = 0;; ++i) {
      DWORD nameLength = static_cast<DWORD>(name.size());
      DWORD dataSize = static_cast<DWORD>(data.size());
      DWORD type = REG_NONE;
      rc = ::RegEnumValueW(key_.get(), i, name.data(), &nameLength, nullptr, &type,
                           reinterpret_cast<BYTE*>(data.data()), &dataSize);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_MORE_DATA) {  // written to since the sizes were asked
        name.resize(name.size() * 2 + 256);
        data.resize(data.size() * 2 + 256);
        --i;
        continue;
      }
      if (rc != ERROR_SUCCESS) {
        LogWarning("registry values listed in part", Failed(rc, "RegEnumValueW " + path_));
        break;
      }
      out.push_back({Latin1FromWide(std::wstring_view(name.data(), nameLength)), static_cast<RegType>(type),
                     PlatformData(type, data.substr(0, dataSize))});
    }
    return out;
  }

  std::vector<std::string> SubKeys() override {
    std::vector<std::string> out;
    wchar_t name[256];  // the longest key name the registry allows, and its NUL
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name / sizeof name[0];
      const LONG rc = ::RegEnumKeyExW(key_.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc != ERROR_SUCCESS) {
        LogWarning("registry keys listed in part", Failed(rc, "RegEnumKeyExW " + path_));
        break;
      }
      out.push_back(Latin1FromWide(std::wstring_view(name, length)));
    }
    return out;
  }

  // The registry keeps no time per value: the key's last write time
  // stands in (a later write of another value of the key moves it too).
  Result<std::chrono::system_clock::time_point> ValueWriteTime(std::string_view name) override {
    DWORD type = REG_NONE;
    std::string raw;
    if (Status read = Read(name, type, raw); !read) return read;
    FILETIME written{};
    const LONG rc = ::RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, &written);
    if (rc != ERROR_SUCCESS) return Failed(rc, "RegQueryInfoKeyW " + path_);
    const std::int64_t ticks =
        (static_cast<std::int64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    constexpr std::int64_t kTicksOf1970 = 116444736000000000LL;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::nanoseconds((ticks - kTicksOf1970) * 100)));
  }

 private:
  Status Read(std::string_view name, DWORD& type, std::string& raw) {
    const std::wstring wideName = WideFromLatin1(name);
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD size = static_cast<DWORD>(raw.size());
      const LONG rc = ::RegQueryValueExW(key_.get(), wideName.c_str(), nullptr, &type,
                                         raw.empty() ? nullptr : reinterpret_cast<BYTE*>(raw.data()), &size);
      if (rc == ERROR_SUCCESS && (!raw.empty() || size == 0)) {
        raw.resize(size);
        return Status();
      }
      if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA)
        return Failed(rc, "RegQueryValueExW " + path_ + "\\" + std::string(name));
      raw.assign(size, '\0');  // the size, or a value that grew meanwhile
    }
    return Failed(ERROR_MORE_DATA, "RegQueryValueExW " + path_ + "\\" + std::string(name));
  }

  UniqueKey key_;
  std::string path_;
};

// Waits on RegNotifyChangeKeyValue's event and a stop event. The system
// tells of a change to any value of the key: the watched values are read
// again and only a change to one of them ends the wait. While the key
// does not exist, the registry's polling watch stands in.
class NotifyValueWatch final : public ValueWatch {
 public:
  NotifyValueWatch(std::function<UniqueKey()> open, std::vector<std::string> names,
                   std::unique_ptr<ValueWatch> polling)
      : open_(std::move(open)),
        names_(std::move(names)),
        polling_(std::move(polling)),
        changed_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        stopped_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!changed_ || !stopped_) LogWarning("registry values polled", Status::LastError("CreateEventW"));
    Register();
    seen_ = Read();
  }

  bool Wait(std::chrono::milliseconds timeout, std::stop_token stop) override {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (!key_ && !Register()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds::zero() || stop.stop_requested()) return false;
        if (polling_->Wait(std::min(left, kValuePollSlice), stop)) {
          seen_ = Read();
          return true;
        }
        continue;
      }
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const HANDLE changed = changed_.get();
      const StoppableWait woke =
          WaitForAnyOrStop(std::span<const HANDLE>(&changed, 1),
                           timeout.count() < 0 ? timeout : std::max(left, kNoTime), stop);
      if (woke.kind == StoppableWait::kStopped || woke.kind == StoppableWait::kTimedOut) return false;
      if (woke.kind == StoppableWait::kFailed) {
        LogWarning("registry watch", Status::LastError("WaitForSingleObject"));
        return false;
      }
      // The notification is spent: ask for the next one on the same key
      // before reading, so that a change made meanwhile is not lost. The
      // key stays open: closing a key signals its pending notification.
      ::ResetEvent(changed_.get());
      if (!Renotify()) key_.reset();  // deleted: polled until made again
      Snapshot now = Read();
      if (now != seen_) {
        seen_ = std::move(now);
        return true;
      }
    }
  }

 private:
  using Snapshot = std::vector<std::optional<std::string>>;
  static constexpr std::chrono::milliseconds kValuePollSlice{500};
  static constexpr std::chrono::milliseconds kNoTime{0};

  bool Register() {
    if (!changed_ || !stopped_) return false;
    key_ = open_();
    if (!key_) return false;
    const LONG rc = Notify();
    if (rc != ERROR_SUCCESS) {
      LogWarning("registry values polled",
                 Status::FromSystem(static_cast<int>(rc), "RegNotifyChangeKeyValue"));
      key_.reset();
      return false;
    }
    return true;
  }

  LONG Notify() {
    return ::RegNotifyChangeKeyValue(key_.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME,
                                     changed_.get(), TRUE);
  }

  // Asks for the next change on the open key; false when the key is gone.
  bool Renotify() {
    const LONG rc = Notify();
    if (rc == ERROR_SUCCESS) return true;
    if (rc != ERROR_KEY_DELETED)
      LogWarning("registry key opened again",
                 Status::FromSystem(static_cast<int>(rc), "RegNotifyChangeKeyValue"));
    return false;
  }

  // The type and bytes of each watched value; nothing for a missing one.
  Snapshot Read() {
    Snapshot values(names_.size());
    if (!key_) return values;
    for (std::size_t i = 0; i < names_.size(); ++i) {
      const std::wstring name = WideFromLatin1(names_[i]);
      DWORD type = REG_NONE;
      DWORD size = 0;
      if (::RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        continue;
      std::string data(size + 1, '\0');
      data[0] = static_cast<char>(type);
      if (::RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(data.data() + 1), &size) != ERROR_SUCCESS)
        continue;
      data.resize(size + 1);
      values[i] = std::move(data);
    }
    return values;
  }

  std::function<UniqueKey()> open_;
  std::vector<std::string> names_;
  std::unique_ptr<ValueWatch> polling_;
  windows::UniqueHandle changed_;
  windows::UniqueHandle stopped_;
  UniqueKey key_;
  Snapshot seen_;
};

class SystemRegistry final : public Registry {
 public:
  explicit SystemRegistry(std::string redirect) : redirect_(std::move(redirect)) {}

  Result<std::unique_ptr<RegistryKey>> OpenKey(Hive hive, std::string_view path,
                                               std::uint32_t access) override {
    HKEY key = nullptr;
    const auto [root, fullPath] = Locate(hive, path);
    const LONG rc = ::RegOpenKeyExW(root, WideFromLatin1(fullPath).c_str(), 0, access, &key);
    if (rc != ERROR_SUCCESS) return Failed(rc, "RegOpenKeyExW " + Describe(hive, path));
    return std::unique_ptr<RegistryKey>(std::make_unique<SystemKey>(UniqueKey(key), Describe(hive, path)));
  }

  Result<std::unique_ptr<RegistryKey>> CreateKey(Hive hive, std::string_view path,
                                                 std::uint32_t access) override {
    HKEY key = nullptr;
    const auto [root, fullPath] = Locate(hive, path);
    const LONG rc = ::RegCreateKeyExW(root, WideFromLatin1(fullPath).c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return Failed(rc, "RegCreateKeyExW " + Describe(hive, path));
    return std::unique_ptr<RegistryKey>(std::make_unique<SystemKey>(UniqueKey(key), Describe(hive, path)));
  }

  Status DeleteKey(Hive hive, std::string_view path) override {
    if (path.find_first_not_of('\\') == std::string_view::npos)
      return Status(StatusCode::kAccessDenied, "delete a hive", ERROR_ACCESS_DENIED);  // never a hive
    const auto [root, fullPath] = Locate(hive, path);
    const LONG rc = ::RegDeleteTreeW(root, WideFromLatin1(fullPath).c_str());
    if (rc != ERROR_SUCCESS) return Failed(rc, "RegDeleteTreeW " + Describe(hive, path));
    // RegDeleteTree empties the key; the key itself goes with RegDeleteKeyEx.
    const LONG removed = ::RegDeleteKeyExW(root, WideFromLatin1(fullPath).c_str(), 0, 0);
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
      return Failed(removed, "RegDeleteKeyExW " + Describe(hive, path));
    return Status();
  }

  std::unique_ptr<ValueWatch> WatchValues(Hive hive, std::string_view path,
                                          std::vector<std::string> names) override {
    auto polling = Registry::WatchValues(hive, path, names);
    auto open = [this, hive, keyPath = std::string(path)]() -> UniqueKey {
      HKEY key = nullptr;
      const auto [root, fullPath] = Locate(hive, keyPath);
      if (::RegOpenKeyExW(root, WideFromLatin1(fullPath).c_str(), 0, KEY_NOTIFY | KEY_READ, &key) !=
          ERROR_SUCCESS)
        return nullptr;
      return UniqueKey(key);
    };
    return std::make_unique<NotifyValueWatch>(std::move(open), std::move(names), std::move(polling));
  }

 private:
  std::pair<HKEY, std::string> Locate(Hive hive, std::string_view path) const {
    std::string trimmed(path);
    while (!trimmed.empty() && trimmed.front() == '\\') trimmed.erase(0, 1);
    if (redirect_.empty())
      return {hive == Hive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, trimmed};
    std::string full = redirect_ + (hive == Hive::kLocalMachine ? "\\HKLM" : "\\HKCU");
    if (!trimmed.empty()) full += "\\" + trimmed;
    return {HKEY_CURRENT_USER, full};
  }

  std::string Describe(Hive hive, std::string_view path) const {
    return std::string(hive == Hive::kLocalMachine ? "HKLM\\" : "HKCU\\") + std::string(path);
  }

  std::string redirect_;
};

std::mutex g_defaultMutex;
Registry* g_override = nullptr;

}  // namespace

RegistryKey::~RegistryKey() = default;
Registry::~Registry() = default;

std::unique_ptr<Registry> MakeSystemRegistry(const std::string& redirect) {
  std::string trimmed = redirect;
  while (!trimmed.empty() && (trimmed.back() == '\\' || trimmed.front() == '\\'))
    trimmed.erase(trimmed.back() == '\\' ? trimmed.size() - 1 : 0, 1);
  return std::make_unique<SystemRegistry>(std::move(trimmed));
}

// On Windows the store is the system's registry: the variable, when set,
// names the key below HKEY_CURRENT_USER it is redirected to.
std::filesystem::path RegistryRootFromEnvironment() {
  const char* env = std::getenv("QUILLMARK_REGISTRY");
  return env && *env ? std::filesystem::path(env) : std::filesystem::path();
}

Registry& Registry::Default() {
  std::lock_guard lock(g_defaultMutex);
  static std::unique_ptr<Registry> system = [] {
    const char* env = std::getenv("QUILLMARK_REGISTRY");
    return MakeSystemRegistry(env ? env : "");
  }();
  return g_override ? *g_override : *system;
}

Registry* Registry::SetDefault(Registry* registry) {
  std::lock_guard lock(g_defaultMutex);
  return std::exchange(g_override, registry);
}

}  // namespace platform
