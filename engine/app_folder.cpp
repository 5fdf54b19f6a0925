#include "engine/app_folder.h"

#include "common/text_file.h"
#include "platform/anchored_folder.h"

namespace engine {
namespace {
std::string& Folder() {
  static std::string folder;
  return folder;
}
}  // namespace

const std::string& AppFolder() { return Folder(); }

void SetAppFolder(std::string folder) {
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  Folder() = std::move(folder);
  // Nothing below it is reached through a link.
  platform::SetDataFolder(Folder().empty() ? std::string() : common::NativePath(Folder()));
}

std::string AppFile(std::string_view relative) {
  return common::NativePath(AppFolder() + std::string(relative));
}

}  // namespace engine
