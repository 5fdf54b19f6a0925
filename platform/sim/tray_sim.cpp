#include "platform/sim/tray_sim.h"

#include <algorithm>

namespace platform {

std::vector<TrayIconData>::iterator SimTrayArea::Locate(const TrayOwner* owner, std::uint32_t id) {
  return std::find_if(icons_.begin(), icons_.end(),
                      [&](const TrayIconData& d) { return d.owner == owner && d.id == id; });
}

const TrayIconData* SimTrayArea::Find(const TrayOwner* owner, std::uint32_t id) const {
  auto it = std::find_if(icons_.begin(), icons_.end(),
                         [&](const TrayIconData& d) { return d.owner == owner && d.id == id; });
  return it == icons_.end() ? nullptr : &*it;
}

bool SimTrayArea::Add(const TrayIconData& data) {
  ++addCalls_;
  if (refuseAdds_ > 0) {
    --refuseAdds_;
    return false;
  }
  if (Locate(data.owner, data.id) != icons_.end()) return false;
  icons_.push_back(data);
  return true;
}

bool SimTrayArea::Modify(const TrayIconData& data) {
  ++modifyCalls_;
  auto it = Locate(data.owner, data.id);
  if (it == icons_.end()) return false;
  // Only the fields the flags name are taken, as the shell does.
  it->flags |= data.flags;
  if (data.flags & kTrayIcon) it->icon = data.icon;
  if (data.flags & kTrayTip) it->tip = data.tip;
  if (data.flags & kTrayMessage) it->callbackMessage = data.callbackMessage;
  return true;
}

bool SimTrayArea::Delete(const TrayIconData& data) {
  auto it = Locate(data.owner, data.id);
  if (it == icons_.end()) return false;
  if (refuseDeletes_ > 0) {
    --refuseDeletes_;
    return false;
  }
  icons_.erase(it);
  return true;
}

bool SimTrayArea::Notify(const TrayOwner* owner, std::uint32_t id, std::uint32_t mouse) {
  auto it = Locate(owner, id);
  if (it == icons_.end() || it->owner == nullptr) return false;
  TrayOwner* target = it->owner;
  target->OnTrayNotify(id, mouse);
  return true;
}

}  // namespace platform
