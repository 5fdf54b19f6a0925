#pragma once

// Loading a shared library of the system (the engine library) and finding
// a function it exports.

#include <stdexcept>
#include <string>

#include "platform/export.h"
#include "platform/status.h"

namespace platform {

// Why a library could not be loaded, in the system's words.
class QM_PLATFORM_API DynamicLibraryError : public StatusError {
 public:
  explicit DynamicLibraryError(const std::string& what)
      : StatusError(platform::Status(StatusCode::kIoError, what), what) {}
};

class QM_PLATFORM_API DynamicLibrary {
 public:
  using Function = void (*)();

  // Loads the library at `path` (a full path: no search) with its symbols
  // bound at once and kept to itself. Throws DynamicLibraryError.
  explicit DynamicLibrary(const std::string& path);
  // Unloads the library: nothing found in it may be used afterwards.
  ~DynamicLibrary();
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The exported function `name`, or null when the library has none.
  Function FindFunction(const std::string& name) const;

 private:
  void* handle_ = nullptr;  // owned; released by the destructor
};

}  // namespace platform
