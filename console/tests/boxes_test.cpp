#include <QLabel>

#include "console/about_dlg.h"
#include "console/control_id.h"
#include "console/main_dlg.h"
#include "console/message_dlg.h"
#include "console/resources.h"
#include "console/skin_button.h"
#include "console_test_support.h"

namespace {

class BoxesTest : public ConsoleFixture {};

}  // namespace

TEST_F(BoxesTest, ShowMessageRunsUntilOkIsPressed) {
  bool seen = false;
  OnNextModal([&seen](QWidget* modal) {
    auto* box = qobject_cast<CMessageDlg*>(modal);
    ASSERT_NE(box, nullptr);
    seen = true;
    EXPECT_EQ(box->windowTitle().toStdString(), "Quillmark");
    EXPECT_TRUE(box->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(box->size(), QSize(378, 169));
    EXPECT_EQ(box->Background().size(), QSize(378, 169));
    auto* text = qobject_cast<QLabel*>(FindControl(box, res::IDC_MESSAGE_TEXT));
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->wordWrap());
    EXPECT_EQ(text->palette().color(QPalette::WindowText), QColor(80, 80, 80));
    // Latin-1 text arrives whole.
    EXPECT_EQ(box->Text(), "There are already 3 printers monitored. Caf\xe9.");
    CSkinButton* ok = box->OkButton();
    EXPECT_EQ(ControlId(ok), res::IDC_OK);
    EXPECT_EQ(ok->CurrentImageId(), res::IDB_OK_NORMAL);
    Press(ok, QPoint(10, 10));
    EXPECT_EQ(ok->CurrentImageId(), res::IDB_OK_PRESSED);
    Release(ok, QPoint(10, 10));
    EXPECT_FALSE(box->isVisible());
  });
  ShowMessage(nullptr, "There are already 3 printers monitored. Caf\xe9.");
  EXPECT_TRUE(seen);
}

TEST_F(BoxesTest, ASecondStartFindsTheMessageBoxAboveTheMainWindow) {
  CMainDlg& main = App().CreateMainWindow();
  main.show();
  bool foundTheBox = false;
  OnNextModal([&](QWidget* modal) {
    QWidget* found = App().BringForward();
    foundTheBox = found == modal && qobject_cast<CMessageDlg*>(found) != nullptr;
  });
  ShowMessage(&main, "Changes have been saved!");
  EXPECT_TRUE(foundTheBox);
  // With the box gone, the main window is the one found.
  EXPECT_EQ(App().BringForward(), &main);
}

TEST_F(BoxesTest, TheAboutBox) {
  CAboutDlg about;
  EXPECT_EQ(about.Background().size(), QSize(378, 169));
  EXPECT_EQ(about.OkButton()->CurrentImageId(), res::IDB_OK_NORMAL);
  bool labelled = false;
  for (QLabel* label : about.findChildren<QLabel*>()) {
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(80, 80, 80));
    labelled = labelled || label->text().contains("Quillmark");
  }
  EXPECT_TRUE(labelled);
}

TEST_F(BoxesTest, NoWindowTitledQuillmarkMeansNothingToBringForward) {
  EXPECT_EQ(App().BringForward(), nullptr);
  QWidget other;
  other.setWindowTitle("Quillmark Help");
  other.show();
  EXPECT_EQ(App().BringForward(), nullptr);
}
