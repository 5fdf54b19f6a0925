#pragma once

// Who the process runs as, where a program has to behave differently for
// the system administrator.

#include "platform/export.h"

namespace platform {

// True when the process's effective user is the administrator (root).
QM_PLATFORM_API bool RunningAsAdministrator();

}  // namespace platform
