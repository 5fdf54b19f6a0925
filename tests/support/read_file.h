#pragma once

// What tests read back from disk, byte for byte.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testing_support {

// The bytes of `file` as they are on disk; empty when it cannot be read.
inline std::string ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace testing_support
