#pragma once

#include <QString>
#include <memory>
#include <string>
#include <string_view>

#include "common/reg_value.h"
#include "console/help_file.h"
#include "console/web_pages.h"

namespace platform {
class DesktopOpener;
class TrayArea;
}  // namespace platform
class CDefaultPrinterSource;
class CMainDlg;
class QWidget;

// The console process: its application folder, its one main window, and
// the services the windows use (notification area, desktop opener, default
// printer).
class CQuillmarkApp {
 public:
  struct Services {
    platform::TrayArea* tray = nullptr;          // required
    platform::DesktopOpener* opener = nullptr;   // null: the desktop's own
    CDefaultPrinterSource* printers = nullptr;   // null: never a default printer
  };

  // Reads "AppPath" once; the object stays for the process's life.
  explicit CQuillmarkApp(Services services);
  ~CQuillmarkApp();
  CQuillmarkApp(const CQuillmarkApp&) = delete;
  CQuillmarkApp& operator=(const CQuillmarkApp&) = delete;

  // The application object of this process, or null.
  static CQuillmarkApp* Current();

  // Start-up: when a console is already running for this user and brings
  // its window forward, returns at once; otherwise runs the main window
  // until it ends. Returns the process's exit status.
  int Run(const QString& instanceName);

  // Builds the main window (once) without showing it.
  CMainDlg& CreateMainWindow();
  CMainDlg* MainWnd() const { return main_.get(); }

  // The application folder, without a trailing separator.
  const std::string& AppPathText() const { return appPathText_; }

  // The default printer's name, or "No default printer".
  std::string GetDefaultPrinterName();

  // Opens the help on a pane; the query is searched at once when not empty.
  void ShowHelp(HelpCommand command, std::string_view query);
  void OpenWebPage(WebPage page);

  // Shows and brings to the front the topmost window titled "Quillmark";
  // returns it, or null when there is none.
  QWidget* BringForward();

  platform::TrayArea& Tray() { return *services_.tray; }
  platform::DesktopOpener& Opener();

 private:
  Services services_;
  CRegString appPath_;
  std::string appPathText_;
  std::unique_ptr<CMainDlg> main_;
};

inline constexpr const char* kNoDefaultPrinter = "No default printer";
