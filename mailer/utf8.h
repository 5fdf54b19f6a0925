// Minimal character set conversion for mail headers.
#pragma once

#include <string>
#include <string_view>

namespace mail {

// Treats every byte as the code point U+0000..U+00FF and writes it as UTF-8.
std::string Latin1ToUtf8(std::string_view latin1);

}  // namespace mail
