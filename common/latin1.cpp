#include "common/latin1.h"

#include "platform/latin1.h"

namespace common {

// One conversion for every program and the platform backends alike.
std::string Latin1ToUtf8(std::string_view latin1) { return platform::Latin1ToUtf8(latin1); }
std::string Utf8ToLatin1(std::string_view utf8) { return platform::Utf8ToLatin1(utf8); }

}  // namespace common
