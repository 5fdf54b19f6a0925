#pragma once

#include <string>
#include <string_view>

// The mail settings and the recipients are stored in the registry
// scrambled: every character code is raised by a fixed shift. Codes run
// round within 1..255, so a scrambled text never holds a zero byte (which
// would end a stored text early) and every text of non-zero characters
// comes back unchanged.

namespace common {

inline constexpr int kScrambleShift = 5;

std::string Scramble(std::string_view text);
std::string Descramble(std::string_view text);

}  // namespace common
