#include "console/printer_list.h"

#include <exception>
#include <new>

#include "common/eprinter.h"
#include "platform/spooler.h"

CPrinterList::CPrinterList() {
  try {
    for (platform::InstalledPrinter& printer : platform::Spooler::Default().EnumPrinters()) {
      names_.push_back(std::move(printer.name));
    }
  } catch (const platform::SpoolerError& error) {
    throw common::EPrinter(error.code(), kCannotReadPrinters, error.Status());
  } catch (const std::bad_alloc&) {
    throw common::EPrinter(platform::kErrorNotEnoughMemory,
                           "Couldn't allocate the buffer for the printers information");
  } catch (const std::exception&) {
    throw common::EPrinter(common::EPrinter::kNoCode, kCannotReadPrinters);
  }
}
