#pragma once

// Text at the CUPS boundary: CUPS speaks UTF-8, the rest of the system
// 8-bit Latin-1. The platform library cannot use the shared conversion of
// common/, so it has this small one of its own, with the same rules.

#include <string>
#include <string_view>

namespace platform::cups {

std::string Latin1ToUtf8(std::string_view latin1);

// Characters Latin-1 cannot hold become '?'; bytes that are not valid
// UTF-8 are taken as Latin-1 as they stand.
std::string Utf8ToLatin1(std::string_view utf8);

}  // namespace platform::cups
