#pragma once

#include <QMenu>
#include <string_view>

#include "console/skin_button.h"

// A skinned button that drops down its popup menu when pressed, left
// aligned under its bottom-left corner; the chosen item's id comes back to
// the button (OnMenuCommand). A press never gives a click while the menu
// has items; with an empty menu it is an ordinary button.
class CMenuButton : public CSkinButton {
  Q_OBJECT

 public:
  explicit CMenuButton(QWidget* parent = nullptr);
  ~CMenuButton() override;

  // Appends an item (flags 0) or a separator (flags 0x800); false when
  // nothing was appended.
  bool AppendItem(int id, std::string_view text, unsigned flags);

  bool HasItems() const { return hasItems_; }
  QMenu& Menu() { return menu_; }

  // Handles a chosen item. The base class does nothing.
  virtual void OnMenuCommand(int id);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  // Shows the menu at `where` (screen) until it closes; the chosen id or 0.
  virtual int TrackMenu(QPoint where);

 private:
  QMenu menu_;
  bool hasItems_ = false;
};
