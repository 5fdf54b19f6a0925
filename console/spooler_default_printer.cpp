#include <exception>

#include "console/default_printer.h"
#include "platform/spooler.h"

std::optional<std::string> CSpoolerDefaultPrinter::DefaultPrinterName() {
  try {
    return platform::Spooler::Default().DefaultPrinterName();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}
