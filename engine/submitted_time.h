#pragma once

#include "platform/spooler.h"

namespace engine {

// The local time (the process's time zone) of a time the spooler gives in
// UTC. An all-zero or impossible time is returned as it is.
platform::SpoolTime UtcToLocalTime(const platform::SpoolTime& utc);

}  // namespace engine
