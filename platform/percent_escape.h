#pragma once

// Percent escapes: a byte written as '%' and two upper-case hexadecimal
// digits, as the file-backed stores write names and words on disk.

#include <optional>
#include <string>
#include <string_view>

#include "platform/export.h"

namespace platform {

// `text` with every byte for which `keep(byte)` is false written as %XX.
// `keep` is called once per byte, in order.
template <class Keep>
std::string PercentEscape(std::string_view text, Keep keep) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const unsigned char c : text) {
    if (keep(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

// The text `escaped` stands for; nothing when a '%' in it is not followed
// by two hexadecimal digits (either case).
QM_PLATFORM_API std::optional<std::string> PercentUnescape(std::string_view escaped);

// A name as the case-insensitive stores keep it on disk: folded to lower
// case (ASCII and Latin-1 capitals but the multiplication sign), then every
// byte but a-z, 0-9, '-' and '_' escaped. Names that differ only in case
// have one form; the empty name has the empty form.
QM_PLATFORM_API std::string FoldedFileName(std::string_view name);

}  // namespace platform
