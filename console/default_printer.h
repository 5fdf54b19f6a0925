#pragma once

#include <optional>
#include <string>

// Where the console learns the name of the default printer. The console
// asks each time, so a change of the default is seen at the next call.
class CDefaultPrinterSource {
 public:
  virtual ~CDefaultPrinterSource() = default;
  // The default printer's name (Latin-1); nothing when there is none.
  virtual std::optional<std::string> DefaultPrinterName() = 0;
};

// A source for a system without a print spooler: there is never a default
// printer.
class CNoDefaultPrinter final : public CDefaultPrinterSource {
 public:
  std::optional<std::string> DefaultPrinterName() override { return std::nullopt; }
};

// The default printer of the system's print spooler (CUPS, or the
// simulated spooler named by QUILLMARK_SPOOLER). A spooler that cannot be
// reached counts as having no default printer.
class CSpoolerDefaultPrinter final : public CDefaultPrinterSource {
 public:
  std::optional<std::string> DefaultPrinterName() override;
};
