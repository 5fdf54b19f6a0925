#pragma once

// What the engine logged, counted from the files it wrote.

#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include "tests/support/read_file.h"

namespace testing_support {

// How often each document occurs in the all-printing day files under
// `app`/Logs.
inline std::map<std::string, int> LoggedDocuments(const std::filesystem::path& app) {
  std::map<std::string, int> counts;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(app / "Logs", ec)) {
    if (entry.path().filename().string().rfind("d_", 0) != 0) continue;
    std::string bytes = ReadWholeFile(entry.path());
    for (std::size_t p = bytes.find("<doc>"); p != std::string::npos; p = bytes.find("<doc>", p + 5)) {
      std::size_t end = bytes.find("</doc>", p);
      if (end == std::string::npos) break;
      ++counts[bytes.substr(p + 5, end - p - 5)];
    }
  }
  return counts;
}

}  // namespace testing_support
