#pragma once

#include <QObject>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/tray.h"

class QSystemTrayIcon;

// The desktop's notification area through the toolkit. Icons are the
// console's icon resources; a click, double-click and context request on an
// icon are reported to its owner as the mouse messages they stand for,
// from the event loop rather than from inside the icon's own event, so the
// owner may remove the icon while answering.
class QtTrayArea : public QObject, public platform::TrayArea {
  Q_OBJECT

 public:
  QtTrayArea();
  ~QtTrayArea() override;

  bool Add(const platform::TrayIconData& data) override;
  bool Modify(const platform::TrayIconData& data) override;
  bool Delete(const platform::TrayIconData& data) override;

 private:
  using Key = std::pair<platform::TrayOwner*, std::uint32_t>;
  void Apply(QSystemTrayIcon& icon, const platform::TrayIconData& data);
  // Tells the owner of a still registered icon about an activation.
  void Report(const Key& key, bool wantsMessages, int reason);

  std::map<Key, std::unique_ptr<QSystemTrayIcon>> icons_;
  // Removed icons, destroyed from the event loop.
  std::vector<std::unique_ptr<QSystemTrayIcon>> removed_;
};
