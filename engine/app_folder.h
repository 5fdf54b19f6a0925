#pragma once

#include <string>
#include <string_view>

namespace engine {

// The application folder, read once from "AppPath" when the library is
// loaded; every file the engine touches is named relative to it.
const std::string& AppFolder();
void SetAppFolder(std::string folder);

// The application folder followed by a relative path written with
// backslashes ("\\Logs\\Users"), in native form.
std::string AppFile(std::string_view relative);

}  // namespace engine
