#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace common {

// The longest a user or document name may be: one file name's worth.
inline constexpr std::size_t kMaxNameBytes = 255;

// The longest start of a Latin-1 `name` that is at most kMaxNameBytes
// long also once written as UTF-8 (where the file system wants it), so the
// same text serves as record, catalogue entry and folder name. A name that
// fits comes back whole.
std::string BoundName(std::string_view name);

}  // namespace common
