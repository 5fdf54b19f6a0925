#include "common/name_bound.h"

namespace common {

std::string BoundName(std::string_view name) {
  std::size_t bytes = 0;
  std::size_t keep = 0;
  for (char c : name) {
    // Latin-1 above 0x7F takes two bytes in UTF-8.
    const std::size_t width = static_cast<unsigned char>(c) < 0x80 ? 1 : 2;
    if (bytes + width > kMaxNameBytes) break;
    bytes += width;
    ++keep;
  }
  return std::string(name.substr(0, keep));
}

}  // namespace common
