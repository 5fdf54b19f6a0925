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
// component below the Logs tree, one-to-one, so that two names never share
// a folder. A name that is already harmless (no separator, ':', '%',
// control byte or DEL, and no leading dot) comes back unchanged; in any
// other name each such byte, and each dot of a leading run, is written as '%' and two
// upper-case hexadecimal digits. Every such form holds a '%', which no
// harmless name does, so nothing can climb out of the tree and no two
// names meet. An empty name stays empty (the caller then writes into the
// parent folder).
std::string SafeFolderName(std::string_view name);

}  // namespace common
