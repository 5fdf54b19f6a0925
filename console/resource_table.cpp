#include "console/resource_table.h"

#include <QFile>
#include <QString>
#include <algorithm>
#include <array>

#include "console/resources.h"

namespace res {
namespace {

struct StringEntry {
  int id;
  const char* text;
};

constexpr std::array kStrings{
    StringEntry{IDS_ABOUTBOX, "&About Quillmark 2..."},
};

constexpr std::array kTrayMenu{
    MenuItemTemplate{ID_TRAY_SHOW, "Show"},
    MenuItemTemplate{0, nullptr},
    MenuItemTemplate{ID_TRAY_START_MONITORING, "Start monitoring"},
    MenuItemTemplate{ID_TRAY_STOP_MONITORING, "Stop monitoring"},
    MenuItemTemplate{0, nullptr},
    MenuItemTemplate{ID_TRAY_HELP_CONTENTS, "Help Contents"},
    MenuItemTemplate{ID_TRAY_HELP_INDEX, "Help Index"},
    MenuItemTemplate{ID_TRAY_HELP_SEARCH, "Help Search"},
    MenuItemTemplate{0, nullptr},
    MenuItemTemplate{ID_ABOUT, "About"},
    MenuItemTemplate{ID_TRAY_TELL_A_FRIEND, "Tell a friend"},
    MenuItemTemplate{0, nullptr},
    MenuItemTemplate{ID_TRAY_EXIT, "Exit"},
};

// Sizes in pixels. The main window, panel and boxes take the size of their
// backgrounds; the pages the area the main window gives them.
constexpr std::array kDialogs{
    DialogTemplate{IDD_ABOUTBOX, 378, 169, "About Quillmark"},
    DialogTemplate{IDD_MAIN, 586, 401, "Quillmark"},
    DialogTemplate{IDD_PRINTERS_PAGE, 420, 300, ""},
    DialogTemplate{IDD_REPORTS_PAGE, 420, 300, ""},
    DialogTemplate{IDD_SETTINGS_PAGE, 420, 300, ""},
    DialogTemplate{IDD_PAGE_PANEL, 132, 356, ""},
    DialogTemplate{IDD_REPORT_VIEWER, 605, 348, "Report"},
    DialogTemplate{IDD_EMAIL_SETTINGS, 285, 430, "Email Settings"},
    DialogTemplate{IDD_STATUS_PAGE, 420, 300, ""},
    DialogTemplate{IDD_MESSAGE, 378, 169, "Quillmark"},
};

QString ArtPath(const char* kind, int id) {
  return QStringLiteral(":/art/%1%2.png").arg(QLatin1String(kind)).arg(id);
}

}  // namespace

QPixmap LoadBitmap(int id) {
  QString path = ArtPath("bmp", id);
  if (!QFile::exists(path)) return {};
  return QPixmap(path);
}

QIcon LoadIcon(int id) {
  QString path = ArtPath("ico", id);
  if (!QFile::exists(path)) return {};
  return QIcon(path);
}

std::string LoadString(int id) {
  for (const auto& s : kStrings) {
    if (s.id == id) return s.text;
  }
  return {};
}

std::span<const MenuItemTemplate> MenuTemplate(int id) {
  if (id == IDR_TRAY_MENU) return kTrayMenu;
  return {};
}

const DialogTemplate* FindDialogTemplate(int id) {
  auto it =
      std::find_if(kDialogs.begin(), kDialogs.end(), [id](const DialogTemplate& d) { return d.id == id; });
  return it == kDialogs.end() ? nullptr : &*it;
}

}  // namespace res
