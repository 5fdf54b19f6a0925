#pragma once

// The console's resources by number: bitmaps and icons from the compiled-in
// art, string and menu tables, and dialog template sizes.

#include <QIcon>
#include <QPixmap>
#include <span>
#include <string>

namespace res {

// The bitmap, or a null pixmap when there is no such resource.
QPixmap LoadBitmap(int id);
// The icon, or a null icon when there is no such resource.
QIcon LoadIcon(int id);
// The string, or the empty text when there is none.
std::string LoadString(int id);

// One entry of a menu template; id 0 is a separator.
struct MenuItemTemplate {
  int id;
  const char* text;
};
// The popup of a menu resource; empty when there is no such menu.
std::span<const MenuItemTemplate> MenuTemplate(int id);

struct DialogTemplate {
  int id;
  int width;   // pixels
  int height;  // pixels
  const char* title;
};
// The template, or null when there is none.
const DialogTemplate* FindDialogTemplate(int id);

}  // namespace res
