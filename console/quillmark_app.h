#pragma once

#include <QString>
#include <memory>
#include <string>
#include <string_view>

#include "common/reg_value.h"
#include "console/console_services.h"

namespace platform {
class DesktopOpener;
}  // namespace platform
class CDefaultPrinterSource;
class CMainDlg;
class QWidget;

// The console process: its application folder, its one main window, and
// the services the windows use (notification area, desktop opener, default
// printer).
class CQuillmarkApp : public CConsoleServices {
 public:
  struct Services {
    platform::TrayArea* tray = nullptr;         // required
    platform::DesktopOpener* opener = nullptr;  // null: the desktop's own
    CDefaultPrinterSource* printers = nullptr;  // null: never a default printer
  };

  // Reads "AppPath" once; the object stays for the process's life.
  explicit CQuillmarkApp(Services services);
  ~CQuillmarkApp() override;
  CQuillmarkApp(const CQuillmarkApp&) = delete;
  CQuillmarkApp& operator=(const CQuillmarkApp&) = delete;

  // Start-up: when a console is already running for this user and brings
  // its window forward, returns at once; otherwise runs the main window
  // until it ends. Returns the process's exit status.
  int Run(const QString& instanceName);

  // Builds the main window (once) without showing it.
  CMainDlg& CreateMainWindow();
  CMainDlg* MainWnd() const { return main_.get(); }

  const std::string& AppPathText() const override { return appPathText_; }
  std::string GetDefaultPrinterName() override;
  void ShowHelp(HelpCommand command, std::string_view query) override;
  void OpenWebPage(WebPage page) override;

  // Shows and brings to the front the topmost window titled "Quillmark";
  // returns it, or null when there is none.
  QWidget* BringForward();

  platform::TrayArea& Tray() override { return *services_.tray; }
  platform::DesktopOpener& Opener();

 private:
  Services services_;
  CRegString appPath_;
  std::string appPathText_;
  std::unique_ptr<CMainDlg> main_;
};
