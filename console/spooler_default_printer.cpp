#include <exception>

#include "console/default_printer.h"
#include "platform/log.h"
#include "platform/spooler.h"

std::optional<std::string> CSpoolerDefaultPrinter::DefaultPrinterName() {
  // Asked whenever the status page is shown: a spooler that stays away is
  // logged once, and again when it answers.
  try {
    auto name = platform::Spooler::Default().DefaultPrinterName();
    platform::LogRecovered("default printer", "asking the spooler for the default printer");
    return name;
  } catch (const platform::SpoolerError& error) {
    platform::LogFailureOnce("default printer", "default printer shown as none", error.Status());
  } catch (const std::exception& error) {
    platform::LogFailureOnce("default printer", "default printer shown as none",
                             platform::Status(platform::StatusCode::kIoError, error.what()));
  }
  return std::nullopt;
}
