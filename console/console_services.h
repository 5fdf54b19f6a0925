#pragma once

// What the console's windows and pages ask of the process that runs them:
// the notification area, the application folder, the default printer, the
// help and the maker's web pages. The application object (quillmark_app.h)
// provides them and owns the main window; windows depend on this interface
// only, so no window includes the application.

#include <string>
#include <string_view>

#include "console/help_file.h"
#include "console/web_pages.h"

namespace platform {
class TrayArea;
}  // namespace platform

class CConsoleServices {
 public:
  CConsoleServices(const CConsoleServices&) = delete;
  CConsoleServices& operator=(const CConsoleServices&) = delete;

  // The services of this process, or null while there are none. Used from
  // the GUI thread only.
  static CConsoleServices* Current();

  virtual platform::TrayArea& Tray() = 0;
  // The application folder, without a trailing separator.
  virtual const std::string& AppPathText() const = 0;
  // The default printer's name, or kNoDefaultPrinter.
  virtual std::string GetDefaultPrinterName() = 0;
  // Opens the help on a pane; the query is searched at once when not empty.
  virtual void ShowHelp(HelpCommand command, std::string_view query) = 0;
  virtual void OpenWebPage(WebPage page) = 0;

 protected:
  // The newest object made is Current() until it is destroyed.
  CConsoleServices();
  virtual ~CConsoleServices();
};

inline constexpr const char* kNoDefaultPrinter = "No default printer";
