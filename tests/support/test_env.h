#pragma once

// Environment variables and scratch folders for tests, on POSIX and on
// Windows alike.

#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace testing_support {

inline void SetEnv(const char* name, const std::string& value) {
#if defined(_WIN32)
  ::_putenv_s(name, value.c_str());
#else
  ::setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnv(const char* name) {
#if defined(_WIN32)
  ::_putenv_s(name, "");  // an empty value removes the variable
#else
  ::unsetenv(name);
#endif
}

// A new empty folder in the system's temporary folder, named after
// `prefix`; throws std::filesystem::filesystem_error when none can be made.
inline std::filesystem::path MakeScratchFolder(std::string_view prefix = "quillmark-test") {
#if defined(_WIN32)
  const auto base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto folder = base / (std::string(prefix) + "-" + std::to_string(random() % 1000000000));
    if (std::filesystem::create_directory(folder)) return folder;
  }
  throw std::filesystem::filesystem_error("no scratch folder", base,
                                          std::make_error_code(std::errc::file_exists));
#else
  std::string pattern = "/tmp/" + std::string(prefix) + "-XXXXXX";
  if (!::mkdtemp(pattern.data()))
    throw std::filesystem::filesystem_error("mkdtemp", pattern,
                                            std::error_code(errno, std::generic_category()));
  return pattern;
#endif
}

}  // namespace testing_support
