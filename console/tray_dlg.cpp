#include "console/tray_dlg.h"

#include <QCloseEvent>
#include <QCursor>
#include <QEvent>
#include <QTimer>

#include "console/resource_table.h"
#include "console/resources.h"

namespace {

// A dialog shows one icon in the notification area, always under this id.
constexpr std::uint32_t kTrayIconId = 1;

}  // namespace

CTrayDlg::CTrayDlg(platform::TrayArea& area, int templateId, QWidget* parent)
    : CBitmapDlg(templateId, parent), area_(area) {
  data_.owner = this;
  data_.id = kTrayIconId;
}

CTrayDlg::~CTrayDlg() {
  if (data_.owner != nullptr && data_.id != 0 && shown_) RemoveTrayIcon();
}

bool CTrayDlg::SetTrayIcon(int iconId) {
  if (res::LoadIcon(iconId).isNull()) return false;
  data_.icon = iconId;
  data_.flags |= platform::kTrayIcon;
  return true;
}

void CTrayDlg::SetTrayTip(std::string_view tip) {
  data_.tip.assign(tip.substr(0, platform::kTrayTipMax));
  data_.flags |= platform::kTrayTip;
}

bool CTrayDlg::SetTrayMenu(int menuId) {
  auto items = res::MenuTemplate(menuId);
  if (items.empty()) return false;
  auto menu = std::make_unique<QMenu>();
  for (const auto& item : items) {
    if (item.id == 0) {
      menu->addSeparator();
    } else {
      menu->addAction(QString::fromLatin1(item.text))->setData(item.id);
    }
  }
  menu_ = std::move(menu);
  return true;
}

bool CTrayDlg::AddTrayIcon() {
  if (shown_) return false;
  bool ok = area_.Add(data_);
  if (ok) shown_ = true;
  return ok;
}

bool CTrayDlg::RemoveTrayIcon() {
  if (!shown_) return false;
  bool ok = area_.Delete(data_);
  if (ok) shown_ = false;
  return ok;
}

bool CTrayDlg::UpdateTrayIcon() {
  if (!shown_) return false;
  return area_.Modify(data_);
}

void CTrayDlg::OnSysCommand(unsigned command) {
  unsigned c = command & res::kSystemCommandMask;
  if (c != res::SC_CLOSE && c != res::SC_MINIMIZE) return;
  if (!AddTrayIcon()) AddTrayIcon();
  hide();
}

void CTrayDlg::OnCommand(int) {}

void CTrayDlg::OnTrayNotify(std::uint32_t iconId, std::uint32_t mouse) {
  if (iconId != kTrayIconId) return;
  QPoint where = QCursor::pos();
  switch (static_cast<platform::TrayMouse>(mouse)) {
    case platform::TrayMouse::kRButtonDown:
    case platform::TrayMouse::kContextMenu: OnTrayRButtonDown(where); break;
    case platform::TrayMouse::kMouseMove: OnTrayMouseMove(where); break;
    case platform::TrayMouse::kLButtonDown: OnTrayLButtonDown(where); break;
    case platform::TrayMouse::kLButtonDblClk: OnTrayLButtonDblClk(where); break;
    case platform::TrayMouse::kRButtonDblClk: OnTrayRButtonDblClk(where); break;
    default: break;
  }
}

void CTrayDlg::OnTrayLButtonDown(QPoint) {}
void CTrayDlg::OnTrayRButtonDblClk(QPoint) {}
void CTrayDlg::OnTrayMouseMove(QPoint) {}

void CTrayDlg::OnTrayLButtonDblClk(QPoint) {
  if (RemoveTrayIcon()) show();
}

void CTrayDlg::OnTrayRButtonDown(QPoint where) {
  if (!menu_) return;
  activateWindow();
  int command = TrackTrayMenu(*menu_, where);
  // From the next opening on, the default item is drawn in bold.
  const auto actions = menu_->actions();
  if (defaultItem_ >= 0 && defaultItem_ < actions.size()) {
    menu_->setDefaultAction(actions[defaultItem_]);
  }
  if (command != 0) OnCommand(command);
}

int CTrayDlg::TrackTrayMenu(QMenu& menu, QPoint where) {
  // Bottom-aligned to the cursor.
  QPoint top(where.x(), where.y() - menu.sizeHint().height());
  QAction* chosen = menu.exec(top);
  return chosen != nullptr ? chosen->data().toInt() : 0;
}

void CTrayDlg::closeEvent(QCloseEvent* event) {
  // Closing the window only hides it into the notification area.
  event->ignore();
  OnSysCommand(res::SC_CLOSE);
}

void CTrayDlg::changeEvent(QEvent* event) {
  CBitmapDlg::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized()) {
    // Minimising hides into the notification area; the window comes back
    // in its normal state.
    QTimer::singleShot(0, this, [this] {
      setWindowState(windowState() & ~Qt::WindowMinimized);
      OnSysCommand(res::SC_MINIMIZE);
    });
  }
}
