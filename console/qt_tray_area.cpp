#include "console/qt_tray_area.h"

#include <QSystemTrayIcon>

#include "console/resource_table.h"

QtTrayArea::QtTrayArea() = default;

// The icons are children of the area and go with it.
QtTrayArea::~QtTrayArea() = default;

void QtTrayArea::Apply(QSystemTrayIcon& icon, const platform::TrayIconData& data) {
  if (data.flags & platform::kTrayIcon) icon.setIcon(res::LoadIcon(data.icon));
  if (data.flags & platform::kTrayTip) icon.setToolTip(QString::fromLatin1(data.tip));
}

bool QtTrayArea::Add(const platform::TrayIconData& data) {
  Key key{data.owner, data.id};
  if (icons_.count(key) != 0) return false;
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  auto* icon = new QSystemTrayIcon(this);
  Apply(*icon, data);
  platform::TrayOwner* owner = data.owner;
  std::uint32_t id = data.id;
  bool wantsMessages = (data.flags & platform::kTrayMessage) != 0;
  connect(icon, &QSystemTrayIcon::activated, this,
          [owner, id, wantsMessages](QSystemTrayIcon::ActivationReason reason) {
            if (!wantsMessages || owner == nullptr) return;
            std::uint32_t mouse = 0;
            switch (reason) {
              case QSystemTrayIcon::Trigger:
                mouse = static_cast<std::uint32_t>(platform::TrayMouse::LButtonDown);
                break;
              case QSystemTrayIcon::DoubleClick:
                mouse = static_cast<std::uint32_t>(platform::TrayMouse::LButtonDblClk);
                break;
              case QSystemTrayIcon::Context:
                mouse = static_cast<std::uint32_t>(platform::TrayMouse::ContextMenu);
                break;
              default: return;
            }
            owner->OnTrayNotify(id, mouse);
          });
  icon->show();
  icons_.emplace(key, icon);
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
  QSystemTrayIcon* icon = it->second;
  icons_.erase(it);
  // The icon may be reporting the very activation that removes it.
  icon->hide();
  icon->deleteLater();
  return true;
}
