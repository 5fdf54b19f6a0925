// Quoted-printable body encoding and SMTP dot-stuffing for outgoing mail.
#pragma once

#include <string>
#include <string_view>

namespace mail {

// Escapes every byte that is not printable ASCII (or TAB, CR, LF, space) and
// the '=' itself as "=XX", then inserts soft line breaks ("=\r\n") into long
// lines, preferring to break after white space and never inside an escape.
// Existing CR and LF characters are passed through unchanged.
std::string QuotedPrintableEncode(std::string_view text);

// Doubles a '.' at the start of the text and after every LF, so no body line
// can be mistaken for the end-of-data marker.
std::string DotStuff(std::string_view text);

}  // namespace mail
