#pragma once

// A notification area kept in memory, for tests: it holds the registered
// icons as the shell would, can be told to refuse the next adds, and can
// play mouse activity to an icon's owner.

#include <cstdint>
#include <vector>

#include "platform/export.h"
#include "platform/tray.h"

namespace platform {

class QM_PLATFORM_API SimTrayArea : public TrayArea {
 public:
  bool Add(const TrayIconData& data) override;
  bool Modify(const TrayIconData& data) override;
  bool Delete(const TrayIconData& data) override;

  // The icons now registered, in registration order.
  const std::vector<TrayIconData>& Icons() const { return icons_; }
  // The registered icon of this owner and id, or null.
  const TrayIconData* Find(const TrayOwner* owner, std::uint32_t id) const;

  // The next `count` calls of Add fail as if the area were not there.
  void RefuseAdds(int count) { refuseAdds_ = count; }
  // The next `count` calls of Delete fail although the icon is there.
  void RefuseDeletes(int count) { refuseDeletes_ = count; }

  int AddCalls() const { return addCalls_; }
  int ModifyCalls() const { return modifyCalls_; }

  // Sends mouse activity on a registered icon to its owner, as the area
  // does; false when no such icon is registered.
  bool Notify(const TrayOwner* owner, std::uint32_t id, std::uint32_t mouse);

 private:
  std::vector<TrayIconData>::iterator Locate(const TrayOwner* owner, std::uint32_t id);

  std::vector<TrayIconData> icons_;
  int refuseAdds_ = 0;
  int refuseDeletes_ = 0;
  int addCalls_ = 0;
  int modifyCalls_ = 0;
};

}  // namespace platform
