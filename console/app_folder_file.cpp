#include "console/app_folder_file.h"

#include "common/text_file.h"
#include "console/console_services.h"

std::string AppFolderFile(std::string_view relative) {
  CConsoleServices* app = CConsoleServices::Current();
  std::string path = app != nullptr ? app->AppPathText() : std::string();
  path += relative;
  return common::NativePath(path);
}
