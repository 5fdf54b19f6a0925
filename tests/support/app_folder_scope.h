#pragma once

// The engine's application folder for one test.

#include <filesystem>
#include <string>

#include "engine/app_folder.h"

namespace testing_support {

// Makes `folder` the engine's application folder for the life of the
// object and puts the previous one back, also when the test stops half-way.
class AppFolderScope {
 public:
  explicit AppFolderScope(const std::filesystem::path& folder) : previous_(engine::AppFolder()) {
    engine::SetAppFolder(folder.string());
  }
  ~AppFolderScope() { engine::SetAppFolder(previous_); }
  AppFolderScope(const AppFolderScope&) = delete;
  AppFolderScope& operator=(const AppFolderScope&) = delete;

 private:
  std::string previous_;
};

}  // namespace testing_support
