#pragma once

// Whether a person may be asked: the process's standard input is a
// terminal (a console on Windows) rather than a file, a pipe or nothing.

#include "platform/export.h"

namespace platform {

QM_PLATFORM_API bool StandardInputIsTerminal();

}  // namespace platform
