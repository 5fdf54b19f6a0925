#include "platform/latin1.h"

#include <cstddef>

namespace platform {

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (unsigned char c : latin1) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

namespace {

// The length of the UTF-8 sequence starting at `text[i]`, 0 if none starts
// there.
std::size_t SequenceLength(std::string_view text, std::size_t i) {
  auto c = static_cast<unsigned char>(text[i]);
  std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > text.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  return len;
}

}  // namespace

std::string Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    auto c = static_cast<unsigned char>(utf8[i]);
    std::size_t len = SequenceLength(utf8, i);
    if (len == 0) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    if (len == 1) {
      out.push_back(static_cast<char>(c));
    } else if (len == 2) {
      unsigned cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
      out.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
    } else {
      out.push_back('?');
    }
    i += len;
  }
  return out;
}

}  // namespace platform
