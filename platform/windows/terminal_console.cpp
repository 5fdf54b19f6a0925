#include "platform/windows/win32.h"  // first: before any other system header

#include "platform/terminal.h"

namespace platform {

bool StandardInputIsTerminal() {
  // Only a console has a console mode; files, pipes and NUL have none.
  DWORD mode = 0;
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  return input != nullptr && input != INVALID_HANDLE_VALUE && ::GetConsoleMode(input, &mode) != 0;
}

}  // namespace platform
