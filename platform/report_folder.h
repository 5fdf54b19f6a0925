#pragma once

// A folder of the user's own for documents a program makes only to show
// them (the console's reports), so that nothing it writes lands in the
// shared data folder.

#include <optional>
#include <string>

#include "platform/export.h"
#include "platform/status.h"

namespace platform {

// "quillmark" in the user's runtime folder ($XDG_RUNTIME_DIR), else in
// the cache folder ($XDG_CACHE_HOME, else ~/.cache); made 0700 when
// missing. An error when it cannot be made, or when what is there is not a
// folder of this user's that only this user can reach (a link, another
// owner, group or others allowed in).
QM_PLATFORM_API Result<std::string> UserReportFolder();

}  // namespace platform
