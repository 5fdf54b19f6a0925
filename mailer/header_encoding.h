// Encoding of non-ASCII header text (Subject, display names) as
// quoted-printable encoded words.
#pragma once

#include <string>
#include <string_view>

namespace mail {

// `text` is Latin-1; when `charset` is "UTF-8" (any case) it is converted to
// UTF-8 first. The text is handled in 70-byte pieces; a piece that is plain
// ASCII is kept as is, any other becomes "=?charset?q?...?=". Pieces are
// concatenated without separators.
std::string EncodeHeaderText(std::string_view text, std::string_view charset);

}  // namespace mail
