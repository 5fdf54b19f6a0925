#pragma once

#include <string>
#include <string_view>

#include "platform/export.h"

namespace platform {

// All stored text is 8-bit Latin-1; these convert at the boundaries that
// speak UTF-8 (the terminal, the print server, the toolkit).
QM_PLATFORM_API std::string Latin1ToUtf8(std::string_view latin1);

// Characters Latin-1 cannot hold become '?'; bytes that are not valid UTF-8
// are taken as Latin-1 as they stand.
QM_PLATFORM_API std::string Utf8ToLatin1(std::string_view utf8);

}  // namespace platform
