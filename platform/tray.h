#pragma once

// The notification area ("system tray") as a program sees it: icons are
// registered, changed and removed by sending one whole icon record, and the
// area reports mouse activity on an icon back to the record's owner. The
// shape follows the shell's notify-icon call: add, modify and delete, each
// answering success or failure; adding an icon that is already there and
// removing one that is not both fail.
//
// Backends: the console's toolkit adapter (a desktop notification area) and
// the simulated area (platform/sim/tray_sim.h) that tests inspect.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/export.h"

namespace platform {

// Record flags: which fields of the record are meaningful.
inline constexpr std::uint32_t kTrayMessage = 1;  // callback wanted
inline constexpr std::uint32_t kTrayIcon = 2;     // icon is set
inline constexpr std::uint32_t kTrayTip = 4;      // tip is set

// Longest tip, in characters; the record holds it with its terminator.
inline constexpr std::size_t kTrayTipMax = 63;

// Mouse activity on an icon, numbered like the window messages it stands
// for.
enum class TrayMouse : std::uint32_t {
  kContextMenu = 0x007B,
  kMouseMove = 0x0200,
  kLButtonDown = 0x0201,
  kLButtonUp = 0x0202,
  kLButtonDblClk = 0x0203,
  kRButtonDown = 0x0204,
  kRButtonUp = 0x0205,
  kRButtonDblClk = 0x0206,
};

// Receives the mouse activity on the icons it owns.
class QM_PLATFORM_API TrayOwner {
 public:
  virtual ~TrayOwner();
  // `iconId` is the record's id; `mouse` the raw message number (a
  // TrayMouse value or any other number the area reports).
  virtual void OnTrayNotify(std::uint32_t iconId, std::uint32_t mouse) = 0;
};

// One icon, identified by owner and id.
struct TrayIconData {
  TrayOwner* owner = nullptr;
  std::uint32_t id = 0;
  std::uint32_t flags = kTrayMessage;
  std::uint32_t callbackMessage = 0x0401;  // WM_USER + 1
  int icon = 0;                            // icon resource number, meaningful with kTrayIcon
  std::string tip;                         // Latin-1, at most kTrayTipMax characters, with kTrayTip
};

class QM_PLATFORM_API TrayArea {
 public:
  virtual ~TrayArea();
  // Registers the icon; false when it is already registered or the area
  // cannot take it.
  virtual bool Add(const TrayIconData& data) = 0;
  // Replaces the registered icon's image and tip; false when it is absent.
  virtual bool Modify(const TrayIconData& data) = 0;
  // Removes the icon; false when it is absent.
  virtual bool Delete(const TrayIconData& data) = 0;
};

}  // namespace platform
