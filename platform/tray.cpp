#include "platform/tray.h"

namespace platform {

TrayOwner::~TrayOwner() = default;
TrayArea::~TrayArea() = default;

}  // namespace platform
