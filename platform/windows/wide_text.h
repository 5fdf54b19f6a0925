#pragma once

// Latin-1 text (every stored text of the system) and the wide text the
// system's W functions take. Each Latin-1 byte is the Unicode code point
// of the same value, so the conversion is a widening, byte by byte.

#include <string>
#include <string_view>

namespace platform::windows {

inline std::wstring WideFromLatin1(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (const char c : text) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return out;
}

// The Latin-1 text of wide text from the system; a character Latin-1
// cannot hold becomes '?', as the system's ANSI calls give it.
inline std::string Latin1FromWide(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (const wchar_t c : text) out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  return out;
}

}  // namespace platform::windows
