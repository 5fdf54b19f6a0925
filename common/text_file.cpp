#include "common/text_file.h"

#include "platform/file_system.h"
#include "platform/log.h"

namespace common {
std::string ToTextMode(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

std::string FromTextMode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  // Whole runs between carriage returns at a time.
  std::size_t from = 0;
  for (std::size_t cr = bytes.find('\r'); cr != std::string_view::npos; cr = bytes.find('\r', cr + 1)) {
    if (cr + 1 < bytes.size() && bytes[cr + 1] == '\n') {
      out.append(bytes.substr(from, cr - from));
      from = cr + 1;
    }
  }
  out.append(bytes.substr(from));
  return out;
}

std::string NativePath(std::string_view path) {
  std::string out(path);
#ifndef _WIN32
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
#endif
  return out;
}

platform::Status WriteTextFile(const std::string& path, std::string_view text) {
  return platform::WriteFileBytes(path, ToTextMode(text));
}

platform::Status AppendTextFile(const std::string& path, std::string_view text) {
  return platform::AppendFileBytes(path, ToTextMode(text));
}

platform::Status AppendTextFile(const std::string& path, std::string_view text,
                                std::string_view prefixWhenNew) {
  return platform::AppendFileBytes(path, ToTextMode(text), ToTextMode(prefixWhenNew));
}

platform::Status ReplaceTextFile(const std::string& path, std::string_view text) {
  return platform::ReplaceFileBytes(path, ToTextMode(text));
}

}  // namespace common

std::string ReadTextFile(const std::string& path) {
  auto bytes = platform::ReadFileBytes(path);
  if (bytes) {
    platform::LogRecovered("read " + path, "reading " + path);
    return common::FromTextMode(*bytes);
  }
  if (!bytes.Status().IsNotFound())
    platform::LogFailureOnce("read " + path, path + " read as empty", bytes.Status());
  return std::string();
}
