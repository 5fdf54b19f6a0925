#pragma once

// Who is running this process.

#include <string>

#include "platform/export.h"

namespace platform {

// The logon name of the user this process runs as (Latin-1); empty when
// the system cannot name the account.
QM_PLATFORM_API std::string CurrentUserName();

}  // namespace platform
