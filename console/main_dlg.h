#pragma once

#include <QImage>
#include <QPoint>
#include <QRegion>
#include <array>
#include <memory>
#include <string>

#include "console/tray_dlg.h"

class CConsoleServices;
class CPagePanel;
class CConsolePage;
class CStatusPage;
class CSkinButton;
class CConsoleMenuButton;
class QMenu;

// The console's main window: a borderless, shaped window with the page
// buttons in a panel on the left, four pages on the right, a button that
// hides the window into the notification area and a menu button. It never
// closes: Escape, Close and Minimise hide it, and only the tray menu's Exit
// ends it.
class CMainDlg : public CTrayDlg {
  Q_OBJECT

 public:
  explicit CMainDlg(CConsoleServices& services);
  ~CMainDlg() override;

  void OnCommand(int id) override;
  // The About item of the system menu, then the tray dialog's commands.
  void OnSysCommand(unsigned command) override;

  // Hides the window and shows the tray icon with the image and tip that
  // match "Monitoring" now.
  void HideToTray();
  void ShowAbout();

  CPagePanel* Panel() const { return panel_; }
  CConsolePage* Page(int index) const;
  CStatusPage* StatusPage() const { return status_; }
  CSkinButton* HideButton() const { return hide_; }
  CConsoleMenuButton* MenuButton() const { return menu_; }
  QMenu* SystemMenu() const { return systemMenu_.get(); }

  // Appends a separator and the About item when `text` is not empty.
  static bool AppendAboutItem(QMenu& menu, const std::string& text);
  // The part of an image that is not the colour key RGB(229, 27, 255).
  static QRegion ColourKeyRegion(const QImage& image);

 protected:
  void reject() override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnInitDialog();
  bool CreatePages();
  void SetTrayFromMonitoring();
  void StartMonitoringFromTray();
  void StopMonitoringFromTray();

  CConsoleServices& services_;
  std::unique_ptr<QMenu> systemMenu_;
  CPagePanel* panel_ = nullptr;
  std::array<CConsolePage*, 4> pages_{};
  CStatusPage* status_ = nullptr;
  CSkinButton* hide_ = nullptr;
  CConsoleMenuButton* menu_ = nullptr;
  bool dragging_ = false;
  QPoint dragOffset_;
};
