// The file name parameters of an attachment's header lines.
#pragma once

#include <string>
#include <string_view>

namespace mail {

// True when `name` can stand in a quoted string as it is: printable ASCII
// only (quotes and backslashes are escaped).
bool IsPlainParameterValue(std::string_view name);

// RFC 2045 quoted string: `"` and `\` escaped with a backslash.
std::string QuotedParameterValue(std::string_view text);

// `name="..."` for Content-Type. A Latin-1 name that is not plain ASCII is
// given as RFC 2047 encoded words (UTF-8, base64) inside the quotes, the
// form older mail readers understand, one word per folded line.
std::string ContentTypeNameParameter(std::string_view latin1Name);

// `filename="..."` for Content-Disposition. A Latin-1 name that is not
// plain ASCII is given in RFC 2231 form, UTF-8 and percent-encoded
// (`filename*=utf-8''Z%C3%BCrich.xml`), split into numbered continuations
// on lines of their own when long.
std::string FilenameParameter(std::string_view latin1Name);

}  // namespace mail
