#include "console/qt_tray_area.h"

#include <QMetaObject>
#include <QSystemTrayIcon>

#include "console/resource_table.h"

QtTrayArea::QtTrayArea() = default;

QtTrayArea::~QtTrayArea() = default;

void QtTrayArea::Apply(QSystemTrayIcon& icon, const platform::TrayIconData& data) {
  if (data.flags & platform::kTrayIcon) icon.setIcon(res::LoadIcon(data.icon));
  if (data.flags & platform::kTrayTip) icon.setToolTip(QString::fromLatin1(data.tip));
}

void QtTrayArea::Report(const Key& key, bool wantsMessages, int reason) {
  // The owner may have removed its icon (or gone) since the activation
  // was queued; only a registered icon reports.
  if (!wantsMessages || key.first == nullptr || icons_.count(key) == 0) return;
  std::uint32_t mouse = 0;
  switch (static_cast<QSystemTrayIcon::ActivationReason>(reason)) {
    case QSystemTrayIcon::Trigger:
      mouse = static_cast<std::uint32_t>(platform::TrayMouse::kLButtonDown);
      break;
    case QSystemTrayIcon::DoubleClick:
      mouse = static_cast<std::uint32_t>(platform::TrayMouse::kLButtonDblClk);
      break;
    case QSystemTrayIcon::Context:
      mouse = static_cast<std::uint32_t>(platform::TrayMouse::kContextMenu);
      break;
    default: return;
  }
  key.first->OnTrayNotify(key.second, mouse);
}

bool QtTrayArea::Add(const platform::TrayIconData& data) {
  Key key{data.owner, data.id};
  if (icons_.count(key) != 0) return false;
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  auto icon = std::make_unique<QSystemTrayIcon>();
  Apply(*icon, data);
  bool wantsMessages = (data.flags & platform::kTrayMessage) != 0;
  // The activation is emitted from inside the icon's own mouse event. The
  // owner's answer may run a menu or a dialog and remove this very icon,
  // so it is delivered from the event loop once that event has returned.
  connect(
      icon.get(), &QSystemTrayIcon::activated, this,
      [this, key, wantsMessages](QSystemTrayIcon::ActivationReason reason) {
        Report(key, wantsMessages, static_cast<int>(reason));
      },
      Qt::QueuedConnection);
  icon->show();
  icons_.emplace(key, std::move(icon));
  return true;
}

bool QtTrayArea::Modify(const platform::TrayIconData& data) {
  auto it = icons_.find(Key{data.owner, data.id});
  if (it == icons_.end()) return false;
  Apply(*it->second, data);
  return true;
}

bool QtTrayArea::Delete(const platform::TrayIconData& data) {
  auto it = icons_.find(Key{data.owner, data.id});
  if (it == icons_.end()) return false;
  it->second->disconnect(this);
  removed_.push_back(std::move(it->second));
  icons_.erase(it);
  // Destroying an icon destroys the window that shows it, which may be the
  // one delivering the event that led here: removed icons go once control
  // is back in the event loop (or with the area, should it go first).
  QMetaObject::invokeMethod(
      this, [this] { removed_.clear(); }, Qt::QueuedConnection);
  return true;
}
