#include "platform/spooler.h"

namespace platform {

std::unique_ptr<Spooler> MakeFolderSpooler(std::filesystem::path) {
  throw SpoolerError(kErrorNotSupported, "the simulated spooler is not built");
}

}  // namespace platform
