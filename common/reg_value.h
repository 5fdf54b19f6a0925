#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"

// Registry value objects: each stands for one named value, reads it when it
// is built, caches it, and writes only on change. Every piece of
// configuration in every program goes through these two classes.

class CRegValue {
 public:
  const std::string& KeyPath() const { return keyPath_; }
  const std::string& ValueName() const { return valueName_; }
  bool ReadOnce() const { return readOnce_; }

 protected:
  CRegValue(std::string_view fullPath, bool alwaysReread, platform::Hive root);
  ~CRegValue() = default;
  CRegValue(const CRegValue&) = default;
  CRegValue& operator=(const CRegValue&) = default;

  // Writes the value; silently does nothing when the key cannot be made.
  void Store(platform::RegType type, const void* data, std::uint32_t size);

  platform::Hive root_;
  std::string keyPath_;
  std::string valueName_;
  bool readOnce_ = false;
  bool alwaysReread_ = false;
};

class CRegDword : public CRegValue {
 public:
  explicit CRegDword(std::string_view fullPath, std::uint32_t defaultValue = 0, bool alwaysReread = false,
                     platform::Hive root = platform::Hive::kLocalMachine);

  std::uint32_t Get();
  CRegDword& Set(std::uint32_t value);
  void Write();

 private:
  std::uint32_t Read();

  std::uint32_t value_ = 0;
  std::uint32_t default_ = 0;
};

class CRegString : public CRegValue {
 public:
  explicit CRegString(std::string_view fullPath, std::string defaultValue = {}, bool alwaysReread = false,
                      platform::Hive root = platform::Hive::kLocalMachine);

  std::string Get();
  CRegString& Set(const std::string& value);
  void Write();

 private:
  std::string Read();

  std::string value_;
  std::string default_;
};
