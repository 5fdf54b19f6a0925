#include "common/scramble.h"

namespace common {

namespace {

// Moves a non-zero code by `shift` within 1..255; zero stays zero.
std::string Shift(std::string_view text, int shift) {
  std::string out(text);
  for (char& c : out) {
    const int code = static_cast<unsigned char>(c);
    if (code == 0) continue;
    c = static_cast<char>(((code - 1 + shift) % 255 + 255) % 255 + 1);
  }
  return out;
}

}  // namespace

std::string Scramble(std::string_view text) { return Shift(text, kScrambleShift); }

std::string Descramble(std::string_view text) { return Shift(text, -kScrambleShift); }

}  // namespace common
