#include <unistd.h>

#include "platform/terminal.h"

namespace platform {

bool StandardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

}  // namespace platform
