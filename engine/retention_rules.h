#pragma once

#include <string_view>

#include "common/period_keys.h"

namespace engine {

// Whether a period log file is kept or deleted, judged from its file name
// at the local time `now` whose week number is `currentWeek`. The current
// and the previous period of each kind survive; year files and files
// without a period prefix are always kept. A name whose period fields are
// not numbers is kept too: it is nothing the log store wrote.
bool ShouldDeleteLogFile(std::string_view fileName, const common::LocalDateTime& now, int currentWeek);

}  // namespace engine
