#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "platform/export.h"
#include "platform/status.h"

namespace platform {

// The registry hives the system uses.
enum class Hive { kLocalMachine, kCurrentUser };

// Value types, numbered as the registry numbers them.
enum class RegType : std::uint32_t { kNone = 0, kSz = 1, kBinary = 3, kDword = 4 };

inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;

struct RegValueInfo {
  std::string name;  // as it was written (case preserved)
  RegType type = RegType::kNone;
  std::string data;  // raw bytes
};

// An open key. Closing is destruction.
class QM_PLATFORM_API RegistryKey {
 public:
  virtual ~RegistryKey();

  // Queries a value. `data` may be null to learn the size: then `*size`
  // receives the size and the result is OK. Otherwise `*size` is the
  // buffer size on entry and the data size on return; a buffer that is too
  // small gives kMoreData (with the needed size in `*size`). `type` may be
  // null. Value names are case-insensitive. A missing value is kNotFound;
  // a damaged one kInvalidArgument; the context names the value's file.
  virtual Status QueryValue(std::string_view name, RegType* type, void* data, std::uint32_t* size) = 0;

  // Stores a value, replacing an existing one atomically.
  virtual Status SetValue(std::string_view name, RegType type, const void* data, std::uint32_t size) = 0;

  virtual Status DeleteValue(std::string_view name) = 0;

  // Every readable value and every sub-key. A value that cannot be read is
  // left out and logged as a warning; a folder the store did not name is
  // no sub-key.
  virtual std::vector<RegValueInfo> Values() = 0;
  virtual std::vector<std::string> SubKeys() = 0;

  // When the value was last written; kNotFound when the value does not
  // exist, an error when the store cannot tell (this base version).
  virtual Result<std::chrono::system_clock::time_point> ValueWriteTime(std::string_view name);
};

// Tells when some values of one key change. Changes made between two waits
// are not lost: the next wait returns at once.
class QM_PLATFORM_API ValueWatch {
 public:
  virtual ~ValueWatch();
  // Waits until one of the watched values may have been written (true),
  // `timeout` passed or `stop` was requested (false). A stop request ends
  // the wait at once.
  virtual bool Wait(std::chrono::milliseconds timeout, std::stop_token stop) = 0;
};

// The registry. Key paths use backslashes between components and are
// case-insensitive ("Software\\Quillmark").
class QM_PLATFORM_API Registry {
 public:
  virtual ~Registry();

  // Opens an existing key (never null); kNotFound when it does not exist,
  // kAccessDenied when it cannot be read.
  virtual Result<std::unique_ptr<RegistryKey>> OpenKey(Hive hive, std::string_view path,
                                                       std::uint32_t access) = 0;

  // Opens a key (never null), creating it and every missing key above it.
  virtual Result<std::unique_ptr<RegistryKey>> CreateKey(Hive hive, std::string_view path,
                                                         std::uint32_t access) = 0;

  // Deletes a key with everything below it.
  virtual Status DeleteKey(Hive hive, std::string_view path) = 0;

  // A watch on the values `names` of the key `path` (which need not exist
  // yet). This base version reads the values every kValuePollInterval and
  // compares them; a store that is told of changes overrides it.
  virtual std::unique_ptr<ValueWatch> WatchValues(Hive hive, std::string_view path,
                                                  std::vector<std::string> names);
  static constexpr std::chrono::milliseconds kValuePollInterval{100};

  // The process-wide registry. Unless replaced, the file-backed store rooted
  // at RegistryRootFromEnvironment() on POSIX, and the system's registry on
  // Windows (see platform/windows/registry_win32.h).
  static Registry& Default();
  // Replaces the process-wide registry (tests); returns the previous one.
  // The caller keeps ownership and must restore it before destroying it.
  static Registry* SetDefault(Registry* registry);
};

// The file-backed registry store: one folder per key, one file per value,
// each replaced atomically so that processes reading and writing at once
// never see half a value. Folders are created 2770 and files 0660.
QM_PLATFORM_API std::unique_ptr<Registry> MakeFileRegistry(std::filesystem::path root);

// $QUILLMARK_REGISTRY when set and not empty, else the store's standard
// root on this system (/var/lib/quillmark/registry on POSIX; on Windows
// empty: the system's registry itself).
QM_PLATFORM_API std::filesystem::path RegistryRootFromEnvironment();

}  // namespace platform
