#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/registry.h"
#if defined(_WIN32)
#include "platform/windows/registry_win32.h"
#endif
#include "tests/support/test_env.h"

// A fresh temporary folder and a registry of its own, made the
// process-wide registry for the life of the object: on POSIX the
// file-backed store in the folder, on Windows the system's registry
// redirected below a fresh key of HKEY_CURRENT_USER (RegistryRoot() is
// what QUILLMARK_REGISTRY takes to reach it from another program).
class ScratchRegistry {
 public:
  ScratchRegistry() {
    folder_ = testing_support::MakeScratchFolder();
#if defined(_WIN32)
    root_ = "Software\\QuillmarkTests\\" + folder_.filename().string();
    registry_ = platform::MakeSystemRegistry(root_.string());
#else
    root_ = folder_ / "registry";
    registry_ = platform::MakeFileRegistry(root_);
#endif
    previous_ = platform::Registry::SetDefault(registry_.get());
  }
  ~ScratchRegistry() {
    platform::Registry::SetDefault(previous_);
#if defined(_WIN32)
    platform::MakeSystemRegistry()->DeleteKey(platform::Hive::kCurrentUser, root_.string());
#endif
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  const std::filesystem::path& Folder() const { return folder_; }
  const std::filesystem::path& RegistryRoot() const { return root_; }
  platform::Registry& Registry() { return *registry_; }

 private:
  std::filesystem::path folder_;
  std::filesystem::path root_;
  std::unique_ptr<platform::Registry> registry_;
  platform::Registry* previous_ = nullptr;
};
