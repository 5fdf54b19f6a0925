#pragma once

// Where the running program was installed, and whether a file there may be
// trusted with this process's rights. Programs of the system are started,
// and the engine library is loaded, only from here: never from a folder a
// setting names.

#include <optional>
#include <string>

#include "platform/export.h"
#include "platform/status.h"

namespace platform {

// The folder of the running program's executable, resolved once when the
// process starts (from /proc/self/exe on Linux), without a trailing
// slash; empty when it cannot be found.
QM_PLATFORM_API const std::string& ProgramFolder();

// The path of `name` in `folder` when that is a regular file that only
// root or this process's user can change: the file and the folder are
// owned by one of them and writable by neither group nor others, and the
// file is not a link. Otherwise an error naming the file or folder and what
// is wrong with it.
QM_PLATFORM_API Result<std::string> TrustedProgramFile(const std::string& folder, const std::string& name);

}  // namespace platform
