#pragma once

#include "mailer/postrider_settings.h"

namespace mail {

// Postrider mails only what the system puts there for it: every file named
// in `settings.files` must be a regular file, reached without following a
// link, inside the "Logs" folder of the data folder ("AppPath"). When all
// are, that folder becomes the working folder and `settings.files` names
// them relative to it, so nothing can be swapped before they are read.
// Otherwise prints one diagnostic line on standard error and returns false.
// No files at all is fine.
bool HoldToLogsFolder(PostriderSettings& settings);

}  // namespace mail
