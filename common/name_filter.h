#pragma once

#include <string>
#include <string_view>

namespace common {

// Removes the characters that would break the hand-written catalogue markup:
// '<', '>', '&', '\'' and '"'.
void StripXmlSpecials(std::string& s);

// The five markup characters removed and every control character below 0x20
// except tab dropped, so the name fits on one line inside an element.
std::string CleanXmlName(std::string_view name);

// Maps a user or printer name to something usable as exactly one folder
// component below the Logs tree. A name that is already harmless comes back
// unchanged; otherwise separators, ':', control bytes and DEL become '_' and
// leading dots become '_', so nothing can climb out of the tree. An empty
// name stays empty (the caller then writes into the parent folder).
std::string SafeFolderName(std::string_view name);

}  // namespace common
