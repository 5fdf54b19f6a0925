#include "common/reg_value.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/log.h"

namespace {

// Splits "Software\\Quillmark\\Monitoring" into key path and value name:
// leading backslashes go, the value name is what follows the last
// backslash (without leading backslashes), the key path what precedes it
// (without trailing backslashes).
void SplitPath(std::string_view full, std::string& keyPath, std::string& valueName) {
  size_t first = full.find_first_not_of('\\');
  full = first == std::string_view::npos ? std::string_view{} : full.substr(first);
  size_t p = full.rfind('\\');
  if (p == std::string_view::npos) {
    keyPath.clear();
    valueName = std::string(full);
  } else {
    std::string_view key = full.substr(0, p);
    size_t last = key.find_last_not_of('\\');
    keyPath = last == std::string_view::npos ? std::string{} : std::string(key.substr(0, last + 1));
    std::string_view name = full.substr(p + 1);
    size_t start = name.find_first_not_of('\\');
    valueName = start == std::string_view::npos ? std::string{} : std::string(name.substr(start));
  }
}

std::string Describe(const std::string& keyPath, const std::string& valueName) {
  return "registry value " + keyPath + "\\" + valueName;
}

// A missing key or value is what the default stands for; anything else
// (unreadable, damaged) is logged once while it lasts.
void NoteRead(const platform::Status& status, const std::string& keyPath, const std::string& valueName) {
  const std::string what = Describe(keyPath, valueName);
  const std::string key = "read " + what;
  if (status.IsOk() || status.IsNotFound()) {
    platform::LogRecovered(key, "reading " + what);
    return;
  }
  platform::LogFailureOnce(key, "cannot read " + what + ", using its default", status);
}

}  // namespace

CRegValue::CRegValue(std::string_view fullPath, bool alwaysReread, platform::Hive root)
    : root_(root), alwaysReread_(alwaysReread) {
  SplitPath(fullPath, keyPath_, valueName_);
}

void CRegValue::Store(platform::RegType type, const void* data, std::uint32_t size) {
  const std::string what = Describe(keyPath_, valueName_);
  auto key = platform::Registry::Default().CreateKey(root_, keyPath_, platform::kKeyWrite);
  platform::Status stored = key ? (*key)->SetValue(valueName_, type, data, size) : key.Status();
  if (!stored) {
    platform::LogFailureOnce("write " + what, "cannot write " + what, stored);
    return;
  }
  platform::LogRecovered("write " + what, "writing " + what);
  readOnce_ = true;
}

CRegDword::CRegDword(std::string_view fullPath, std::uint32_t defaultValue, bool alwaysReread,
                     platform::Hive root)
    : CRegValue(fullPath, alwaysReread, root), default_(defaultValue) {
  Read();
}

std::uint32_t CRegDword::Read() {
  auto key = platform::Registry::Default().OpenKey(root_, keyPath_, platform::kKeyRead);
  if (!key) {
    NoteRead(key.Status(), keyPath_, valueName_);
    return default_;
  }
  // The data lands in the cached value as it is stored; anything longer
  // than four bytes does not fit and reads as the default.
  unsigned char bytes[4];
  std::memcpy(bytes, &value_, 4);
  std::uint32_t size = 4;
  const platform::Status status = (*key)->QueryValue(valueName_, nullptr, bytes, &size);
  NoteRead(status, keyPath_, valueName_);
  if (!status) return default_;
  std::memcpy(&value_, bytes, 4);
  readOnce_ = true;
  return value_;
}

std::uint32_t CRegDword::Get() {
  if (!readOnce_ || alwaysReread_) return Read();
  return value_;
}

CRegDword& CRegDword::Set(std::uint32_t value) {
  if (value != value_ || alwaysReread_) {
    value_ = value;
    Write();
  }
  return *this;
}

void CRegDword::Write() { Store(platform::RegType::kDword, &value_, 4); }

CRegString::CRegString(std::string_view fullPath, std::string defaultValue, bool alwaysReread,
                       platform::Hive root)
    : CRegValue(fullPath, alwaysReread, root), default_(std::move(defaultValue)) {
  Read();
}

std::string CRegString::Read() {
  auto key = platform::Registry::Default().OpenKey(root_, keyPath_, platform::kKeyRead);
  if (!key) {
    NoteRead(key.Status(), keyPath_, valueName_);
    return default_;
  }
  std::uint32_t size = 0;
  platform::Status status = (*key)->QueryValue(valueName_, nullptr, nullptr, &size);
  std::vector<char> buffer(size);
  if (status) status = (*key)->QueryValue(valueName_, nullptr, buffer.data(), &size);
  NoteRead(status, keyPath_, valueName_);
  if (!status) return default_;
  // The text ends at its first NUL, if any; an empty value has no buffer at all.
  const std::string_view text(buffer.data(), std::min<std::size_t>(size, buffer.size()));
  value_.assign(text.substr(0, text.find('\0')));
  readOnce_ = true;
  return value_;
}

std::string CRegString::Get() {
  if (!readOnce_ || alwaysReread_) return Read();
  return value_;
}

CRegString& CRegString::Set(const std::string& value) {
  if (value != value_ || alwaysReread_) {
    value_ = value;
    Write();
  }
  return *this;
}

void CRegString::Write() {
  std::string data = value_;
  data.push_back('\0');
  Store(platform::RegType::kSz, data.data(), static_cast<std::uint32_t>(data.size()));
}
