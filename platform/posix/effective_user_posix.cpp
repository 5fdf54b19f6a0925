#include <unistd.h>

#include "platform/effective_user.h"

namespace platform {

bool RunningAsAdministrator() { return ::geteuid() == 0; }

}  // namespace platform
