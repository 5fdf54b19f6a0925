#pragma once

#include <string>
#include <string_view>

// A file of the application folder, by its path relative to it written with
// backslashes ("\\settings.xml", "\\Logs\\TestEmail.xml"), in native form.
std::string AppFolderFile(std::string_view relative);

// The printer and user catalogue.
inline std::string CatalogueFile() { return AppFolderFile("\\settings.xml"); }
