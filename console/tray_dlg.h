#pragma once

#include <QMenu>
#include <memory>
#include <string_view>

#include "console/bitmap_dlg.h"
#include "platform/tray.h"

// A dialog with one notification-area icon: the icon is there exactly while
// the window is hidden. Close and Minimise hide the window and show the
// icon; a double-click on the icon (or the menu's Show) brings the window
// back and removes the icon; a right press opens the icon's menu, whose
// commands go to OnCommand.
class CTrayDlg : public CBitmapDlg, public platform::TrayOwner {
  Q_OBJECT

 public:
  CTrayDlg(platform::TrayArea& area, int templateId, QWidget* parent = nullptr);
  ~CTrayDlg() override;

  // Loads the icon resource into the record; false (and nothing changed)
  // when it does not load. The area is not told until the next add or
  // update.
  bool SetTrayIcon(int iconId);
  // Copies at most 63 characters of the tip into the record.
  void SetTrayTip(std::string_view tip);
  // Loads the menu resource whose popup the icon shows.
  bool SetTrayMenu(int menuId);

  // False when the icon is already shown, else the area's answer.
  bool AddTrayIcon();
  // False when the icon is not shown, else the area's answer.
  bool RemoveTrayIcon();
  // Sends the record when the icon is shown; false otherwise.
  bool UpdateTrayIcon();

  bool TrayIconShown() const { return shown_; }
  const platform::TrayIconData& TrayData() const { return data_; }
  QMenu* TrayMenu() const { return menu_.get(); }

  // A system command (Close 0xF060, Minimise 0xF020, compared without the
  // low four bits); other commands are not handled here.
  virtual void OnSysCommand(unsigned command);

  // A command of the tray menu.
  virtual void OnCommand(int id);

  void OnTrayNotify(std::uint32_t iconId, std::uint32_t mouse) override;

 protected:
  virtual void OnTrayLButtonDown(QPoint where);
  virtual void OnTrayLButtonDblClk(QPoint where);
  virtual void OnTrayRButtonDown(QPoint where);
  virtual void OnTrayRButtonDblClk(QPoint where);
  virtual void OnTrayMouseMove(QPoint where);

  // Shows the menu with its bottom at `where` (screen) until it closes;
  // the chosen command or 0.
  virtual int TrackTrayMenu(QMenu& menu, QPoint where);

  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

  platform::TrayArea& Area() { return area_; }

 private:
  platform::TrayArea& area_;
  bool shown_ = false;
  platform::TrayIconData data_;
  std::unique_ptr<QMenu> menu_;
  int defaultItem_ = 0;
};
