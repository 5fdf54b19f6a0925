#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/registry.h"

// A fresh temporary folder with a file-backed registry of its own, made the
// process-wide registry for the life of the object.
class ScratchRegistry {
 public:
  ScratchRegistry() {
    char tmpl[] = "/tmp/quillmark-test-XXXXXX";
    folder_ = ::mkdtemp(tmpl);
    registry_ = platform::MakeFileRegistry(folder_ / "registry");
    previous_ = platform::Registry::SetDefault(registry_.get());
  }
  ~ScratchRegistry() {
    platform::Registry::SetDefault(previous_);
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path registryRoot() const { return folder_ / "registry"; }
  platform::Registry& registry() { return *registry_; }

 private:
  std::filesystem::path folder_;
  std::unique_ptr<platform::Registry> registry_;
  platform::Registry* previous_ = nullptr;
};
