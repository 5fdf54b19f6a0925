#include <QSignalSpy>
#include <QWidget>

#include "console/menu_button.h"
#include "console/resource_table.h"
#include "console/resources.h"
#include "console/skin_button.h"
#include "console_test_support.h"

namespace {

// A page button as the main window makes it: distinct normal, pressed,
// hover and disabled images.
struct PageButton {
  QWidget parent;
  CSkinButton* button;
  PageButton() {
    parent.resize(200, 100);
    button = new CSkinButton(&parent);
    button->setGeometry(10, 10, 100, 25);
    button->LoadImages(res::IDB_PRINTERS_NORMAL, res::IDB_PRINTERS_PRESSED, res::IDB_PRINTERS_HOVER,
                       res::IDB_PRINTERS_PRESSED);
    parent.show();
  }
};

const QPoint kInside(50, 12);
const QPoint kOutside(150, 60);

}  // namespace

TEST(SkinButton, PressDragOffAndReleaseOutsideGivesNoClick) {
  PageButton b;
  QSignalSpy clicks(b.button, &QAbstractButton::clicked);

  Press(b.button, kInside);
  EXPECT_TRUE(b.button->Held());
  EXPECT_EQ(b.button->CurrentImageId(), res::IDB_PRINTERS_PRESSED);

  // Held and outside: the pushed look ends at once.
  DragTo(b.button, kOutside);
  EXPECT_FALSE(b.button->isDown());
  EXPECT_EQ(b.button->CurrentImageId(), res::IDB_PRINTERS_NORMAL);

  // Back over the button: pushed again.
  DragTo(b.button, kInside);
  EXPECT_EQ(b.button->CurrentImageId(), res::IDB_PRINTERS_PRESSED);

  DragTo(b.button, kOutside);
  Release(b.button, kOutside);
  EXPECT_FALSE(b.button->Held());
  EXPECT_EQ(clicks.count(), 0);
}

TEST(SkinButton, ReleaseOverTheButtonClicksAndDoubleClickClicksTwice) {
  PageButton b;
  QSignalSpy clicks(b.button, &QAbstractButton::clicked);
  Press(b.button, kInside);
  Release(b.button, kInside);
  EXPECT_EQ(clicks.count(), 1);

  clicks.clear();
  Press(b.button, kInside);
  Release(b.button, kInside);
  SendMouse(b.button, QEvent::MouseButtonDblClick, kInside, Qt::LeftButton, Qt::LeftButton);
  Release(b.button, kInside);
  EXPECT_EQ(clicks.count(), 2);
}

TEST(SkinButton, HoverShowsTheHoverImageUntilPressedOrLeft) {
  PageButton b;
  Hover(b.button, kInside);
  EXPECT_TRUE(b.button->Hovering());
  EXPECT_EQ(b.button->CurrentImageId(), res::IDB_PRINTERS_HOVER);

  // A press ends the hover look.
  Press(b.button, kInside);
  EXPECT_FALSE(b.button->Hovering());
  Release(b.button, kInside);
  EXPECT_EQ(b.button->CurrentImageId(), res::IDB_PRINTERS_NORMAL);

  Hover(b.button, kInside);
  EXPECT_EQ(b.button->CurrentImageId(), res::IDB_PRINTERS_HOVER);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(b.button, &leave);
  EXPECT_FALSE(b.button->Hovering());
  EXPECT_EQ(b.button->CurrentImageId(), res::IDB_PRINTERS_NORMAL);
}

TEST(SkinButton, MissingImagesFallBack) {
  QWidget parent;
  CSkinButton button(&parent);
  button.resize(99, 25);

  // No hover image: the normal one while hovered. No disabled image: the
  // normal one while disabled.
  button.LoadImages(res::IDB_OK_NORMAL, res::IDB_OK_PRESSED);
  Hover(&button, QPoint(5, 5));
  EXPECT_TRUE(button.Hovering());
  EXPECT_EQ(button.CurrentImageId(), res::IDB_OK_NORMAL);
  button.setEnabled(false);
  EXPECT_EQ(button.CurrentImageId(), res::IDB_OK_NORMAL);

  // The page buttons' disabled image is their pressed art.
  button.setEnabled(true);
  button.LoadImages(res::IDB_STATUS_NORMAL, res::IDB_STATUS_PRESSED, res::IDB_STATUS_HOVER,
                    res::IDB_STATUS_PRESSED);
  button.setEnabled(false);
  EXPECT_EQ(button.CurrentImageId(), res::IDB_STATUS_PRESSED);

  // Images that do not load leave the face colour.
  button.setEnabled(true);
  button.LoadImages(9999, 9998);
  EXPECT_EQ(button.CurrentImageId(), 0);
  QImage face = button.grab().toImage();
  EXPECT_EQ(face.pixelColor(40, 12), button.palette().color(QPalette::Button));
}

TEST(SkinButton, PaintsItsImageUnscaled) {
  QWidget parent;
  CSkinButton button(&parent);
  button.resize(100, 25);  // one column wider than the image
  button.LoadImages(res::IDB_STATUS_NORMAL, res::IDB_STATUS_PRESSED);
  QImage art = res::LoadBitmap(res::IDB_STATUS_NORMAL).toImage();
  QImage painted = button.grab().toImage();
  for (QPoint p : {QPoint(3, 3), QPoint(49, 12), QPoint(95, 20)}) {
    EXPECT_EQ(painted.pixel(p), art.pixel(p)) << p.x() << "," << p.y();
  }
  EXPECT_EQ(button.cursor().shape(), Qt::PointingHandCursor);
}

namespace {

// Chooses an item without opening a real popup.
class ScriptedMenuButton : public CMenuButton {
 public:
  using CMenuButton::CMenuButton;
  int chooses = 0;
  int tracked = 0;
  QPoint trackedAt;
  std::vector<int> commands;
  void OnMenuCommand(int id) override { commands.push_back(id); }

 protected:
  int TrackMenu(QPoint where) override {
    ++tracked;
    trackedAt = where;
    return chooses;
  }
};

}  // namespace

TEST(MenuButton, PressDropsTheMenuUnderTheButtonAndNeverClicks) {
  QWidget parent;
  parent.resize(200, 100);
  auto* button = new ScriptedMenuButton(&parent);
  button->setGeometry(20, 30, 20, 20);
  button->LoadImages(res::IDB_MENU_BUTTON, res::IDB_MENU_BUTTON);
  parent.show();
  QSignalSpy clicks(button, &QAbstractButton::clicked);

  // Empty menu: an ordinary button.
  EXPECT_FALSE(button->HasItems());
  Press(button, QPoint(5, 5));
  Release(button, QPoint(5, 5));
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(button->tracked, 0);

  ASSERT_TRUE(button->AppendItem(161, "Help &Contents", res::MF_STRING));
  ASSERT_TRUE(button->AppendItem(-1, "", res::MF_SEPARATOR));
  ASSERT_TRUE(button->AppendItem(167, "&About", res::MF_STRING));
  EXPECT_TRUE(button->HasItems());
  ASSERT_EQ(button->Menu().actions().size(), 3);
  EXPECT_TRUE(button->Menu().actions()[1]->isSeparator());

  button->chooses = 167;
  Press(button, QPoint(5, 5));
  Release(button, QPoint(5, 5));
  EXPECT_EQ(button->tracked, 1);
  EXPECT_EQ(button->trackedAt.x(), button->mapToGlobal(QPoint(0, 0)).x());
  EXPECT_GE(button->trackedAt.y(), button->mapToGlobal(QPoint(0, button->height())).y());
  EXPECT_EQ(button->commands, std::vector<int>{167});
  EXPECT_EQ(clicks.count(), 1);  // still the one from before

  // Closing the menu without a choice delivers nothing.
  button->chooses = 0;
  Press(button, QPoint(5, 5));
  EXPECT_EQ(button->commands.size(), 1u);
}
