// Placeholder until the CUPS backend lands: replace this file whole.
#include "platform/spooler.h"

namespace platform {

std::unique_ptr<Spooler> MakeCupsSpooler() {
  throw SpoolerError(kErrorServerUnavailable, "the CUPS spooler is not built");
}

}  // namespace platform
