#pragma once

#include <string>
#include <string_view>

namespace engine {

// The application folder, read once from "AppPath" when the library is
// loaded; every file the engine touches is named relative to it. It is the
// data folder of the process: files below it are opened without following
// links (platform/anchored_folder.h). Programs and libraries never come
// from it.
const std::string& AppFolder();
void SetAppFolder(std::string folder);

// The application folder followed by a relative path written with
// backslashes ("\\Logs\\Users"), in native form.
std::string AppFile(std::string_view relative);

}  // namespace engine
