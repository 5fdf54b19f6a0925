#include <QKeyEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QUrl>
#include <QUrlQuery>
#include <filesystem>

#include "console/about_dlg.h"
#include "console/console_menu_button.h"
#include "console/console_page.h"
#include "console/control_id.h"
#include "console/main_dlg.h"
#include "console/page_panel.h"
#include "console/resources.h"
#include "console/skin_button.h"
#include "console/status_page.h"
#include "console_test_support.h"

namespace {

class MainDlgTest : public ConsoleFixture {
 protected:
  CMainDlg& Main() {
    CMainDlg& main = App().CreateMainWindow();
    if (!shown_) {
      main.show();
      shown_ = true;
    }
    return main;
  }

  void Click(QWidget* button) {
    QPoint c = button->rect().center();
    Press(button, c);
    Release(button, c);
  }

  void Escape(QWidget* w) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
  }

  const platform::TrayIconData& OnlyIcon() {
    EXPECT_EQ(tray_.Icons().size(), 1u);
    static platform::TrayIconData none;
    return tray_.Icons().empty() ? none : tray_.Icons()[0];
  }

  std::vector<int> VisiblePages() {
    std::vector<int> visible;
    for (int i = 0; i < 4; ++i) {
      if (Main().Page(i)->isVisible()) visible.push_back(i);
    }
    return visible;
  }

  bool shown_ = false;
};

struct HelpRequest {
  std::string file, pane, query, topic;
};

HelpRequest ParseHelp(const std::string& address) {
  QUrl url(QString::fromStdString(address));
  QUrlQuery query(url);
  return {url.toLocalFile().toStdString(), query.queryItemValue("pane").toStdString(),
          query.queryItemValue("q").toStdString(), query.queryItemValue("topic").toStdString()};
}

}  // namespace

TEST_F(MainDlgTest, BuildsTheWindowFromItsParts) {
  CMainDlg& main = Main();
  EXPECT_EQ(main.windowTitle().toStdString(), "Quillmark");
  EXPECT_EQ(App().MainWnd(), &main);
  EXPECT_EQ(main.size(), QSize(586, 401));
  EXPECT_EQ(main.Panel()->pos(), QPoint(10, 90));
  EXPECT_EQ(main.Panel()->PageCount(), 4);
  const int ids[] = {res::IDC_PAGE_STATUS, res::IDC_PAGE_PRINTERS, res::IDC_PAGE_REPORTS,
                     res::IDC_PAGE_SETTINGS};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    CSkinButton* b = main.Panel()->Button(i);
    EXPECT_EQ(b->parentWidget(), main.Panel());
    EXPECT_EQ(ControlId(b), ids[i]);
    EXPECT_EQ(b->geometry(), QRect(15, 3 + 50 * i, 100, 25));
    EXPECT_EQ(main.Page(i)->geometry(), QRect(160, 80, 420, 300));
    EXPECT_EQ(main.Page(i)->parentWidget(), &main);
    EXPECT_EQ(main.Page(i)->Owner(), main.Panel());
  }
  EXPECT_EQ(VisiblePages(), std::vector<int>{0});
  EXPECT_FALSE(main.Panel()->Button(0)->isEnabled());
  EXPECT_EQ(main.Panel()->Button(0)->CurrentImageId(), res::IDB_STATUS_PRESSED);
  EXPECT_EQ(ControlId(main.HideButton()), res::IDC_HIDE_TO_TRAY);
  EXPECT_EQ(ControlId(main.MenuButton()), res::IDC_MENU_BUTTON);
  // The icon is not shown while the window is.
  EXPECT_TRUE(tray_.Icons().empty());
}

TEST_F(MainDlgTest, EveryPageKeepsTheSameMarginToTheFrameOnTheRightAsAtTheTop) {
  CMainDlg& main = Main();
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    Click(main.Panel()->Button(i));
    QImage shot = main.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb frame = shot.pixel(2, 200);  // the dark border on the left
    const QRgb white = qRgb(255, 255, 255);
    QRect paper = main.Page(i)->PaperRect().translated(main.Page(i)->pos());
    ASSERT_EQ(shot.pixel(paper.right(), paper.top()), white);
    ASSERT_EQ(shot.pixel(paper.right(), paper.bottom()), white);
    // From the paper's edge outwards to the dark frame.
    int right = 0;
    for (int x = paper.right() + 1; x < shot.width() && shot.pixel(x, 200) != frame; ++x) ++right;
    int top = 0;
    for (int y = paper.top() - 1; y >= 0 && shot.pixel(400, y) != frame; --y) ++top;
    EXPECT_GE(top, 6);
    EXPECT_EQ(right, top);
    // The frame's rounded corner stays the frame's.
    EXPECT_EQ(shot.pixel(main.width() - 7, paper.top()), shot.pixel(main.width() - 7, paper.top() - 2));
  }
}

TEST_F(MainDlgTest, PageButtonsSwitchPagesAndRefreshEveryTime) {
  CMainDlg& main = Main();
  CPagePanel* panel = main.Panel();
  for (int round = 0; round < 2; ++round) {
    for (int i : {2, 1, 3, 0}) {
      SCOPED_TRACE(i);
      int before = main.Page(i)->RefreshCount();
      Click(panel->Button(i));
      EXPECT_EQ(VisiblePages(), std::vector<int>{i});
      for (int j = 0; j < 4; ++j) EXPECT_EQ(panel->Button(j)->isEnabled(), j != i) << j;
      EXPECT_EQ(main.Page(i)->RefreshCount(), before + 1);
    }
  }
  // The held-down look of the current page's button is its pressed art.
  Click(panel->Button(3));
  EXPECT_EQ(panel->Button(3)->CurrentImageId(), res::IDB_SETTINGS_PRESSED);
  EXPECT_EQ(panel->Button(1)->CurrentImageId(), res::IDB_PRINTERS_NORMAL);

  // No switching while the panel's flag is off.
  panel->SetEnabledFlag(false);
  Click(panel->Button(1));
  EXPECT_EQ(VisiblePages(), std::vector<int>{3});
}

TEST_F(MainDlgTest, EscapeAndTheHideButtonShowTheIconForTheMonitoringValue) {
  struct Case {
    const char* what;
    std::optional<std::uint32_t> monitoring;
    int icon;
    const char* tip;
  };
  const Case cases[] = {
      {"on", 1u, res::IDI_MONITORING, "Quillmark - Monitoring"},
      {"off", 0u, res::IDI_NOT_MONITORING, "Quillmark - Not monitoring"},
      {"missing", std::nullopt, res::IDI_NOT_MONITORING, "Quillmark - Not monitoring"},
      {"other", 2u, res::IDI_NOT_MONITORING, "Quillmark - Not monitoring"},
  };
  CMainDlg& main = Main();
  for (bool viaButton : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (viaButton ? " button" : " escape"));
      if (c.monitoring) {
        SetDword("Monitoring", *c.monitoring);
      } else {
        DeleteValue(registry_.Registry(), "Monitoring");
      }
      if (viaButton) {
        Click(main.HideButton());
      } else {
        Escape(&main);
      }
      EXPECT_FALSE(main.isVisible());
      EXPECT_EQ(OnlyIcon().icon, c.icon);
      EXPECT_EQ(OnlyIcon().tip, c.tip);
      main.OnCommand(res::ID_TRAY_SHOW);
      EXPECT_TRUE(main.isVisible());
      EXPECT_TRUE(tray_.Icons().empty());
    }
  }
}

TEST_F(MainDlgTest, EscapeOnAPageHidesTheWindowNotThePage) {
  CMainDlg& main = Main();
  CConsolePage* page = main.Page(0);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  // Sent as the toolkit does: to the focus widget, then up to its parents.
  QApplication::sendEvent(page, &press);
  if (!press.isAccepted()) QApplication::sendEvent(&main, &press);
  EXPECT_FALSE(main.isVisible());
  EXPECT_FALSE(page->isHidden());
  EXPECT_EQ(tray_.Icons().size(), 1u);
}

TEST_F(MainDlgTest, CloseAndMinimiseShowTheImageSetLast) {
  SetDword("Monitoring", 1);
  CMainDlg& main = Main();
  // Changed behind the console's back: this path does not read it again.
  SetDword("Monitoring", 0);
  main.OnSysCommand(res::SC_CLOSE);
  EXPECT_FALSE(main.isVisible());
  EXPECT_EQ(OnlyIcon().icon, res::IDI_MONITORING);
  EXPECT_EQ(OnlyIcon().tip, "Quillmark - Monitoring");

  // A double-click brings it back, and minimising shows one icon again.
  tray_.Notify(&main, 1, static_cast<std::uint32_t>(platform::TrayMouse::kLButtonDblClk));
  EXPECT_TRUE(main.isVisible());
  EXPECT_TRUE(tray_.Icons().empty());
  main.OnSysCommand(res::SC_MINIMIZE);
  EXPECT_EQ(tray_.Icons().size(), 1u);
}

TEST_F(MainDlgTest, TrayStartAndStopFollowTheStoredValue) {
  CountingRegistry counting(registry_.Registry());
  CMainDlg& main = Main();
  main.OnSysCommand(res::SC_MINIMIZE);

  // Missing: Stop does nothing, Start writes 1 and changes the icon at once.
  main.OnCommand(res::ID_TRAY_STOP_MONITORING);
  EXPECT_FALSE(StoredDword(registry_.Registry(), "Monitoring").has_value());
  main.OnCommand(res::ID_TRAY_START_MONITORING);
  EXPECT_EQ(StoredDword(registry_.Registry(), "Monitoring"), 1u);
  EXPECT_EQ(OnlyIcon().icon, res::IDI_MONITORING);
  EXPECT_EQ(OnlyIcon().tip, "Quillmark - Monitoring");

  main.OnCommand(res::ID_TRAY_STOP_MONITORING);
  EXPECT_EQ(StoredDword(registry_.Registry(), "Monitoring"), 0u);
  EXPECT_EQ(OnlyIcon().icon, res::IDI_NOT_MONITORING);
  EXPECT_EQ(OnlyIcon().tip, "Quillmark - Not Monitoring");

  // 2, written by something else: neither command acts.
  SetDword("Monitoring", 2);
  int writes = counting.Writes("Monitoring");
  main.OnCommand(res::ID_TRAY_START_MONITORING);
  main.OnCommand(res::ID_TRAY_STOP_MONITORING);
  EXPECT_EQ(counting.Writes("Monitoring"), writes);
  EXPECT_EQ(StoredDword(registry_.Registry(), "Monitoring"), 2u);

  // After a tray Stop, hiding again writes the other spelling of the tip.
  SetDword("Monitoring", 1);
  main.OnCommand(res::ID_TRAY_STOP_MONITORING);
  EXPECT_EQ(OnlyIcon().tip, "Quillmark - Not Monitoring");
  main.OnCommand(res::ID_TRAY_SHOW);
  Escape(&main);
  EXPECT_EQ(OnlyIcon().tip, "Quillmark - Not monitoring");
}

TEST_F(MainDlgTest, StartingTwiceWritesTwice) {
  CountingRegistry counting(registry_.Registry());
  CMainDlg& main = Main();
  main.StatusPage()->SetMonitoring(true);
  int first = counting.Writes("Monitoring");
  EXPECT_GE(first, 1);
  // The value is already 1: stored again all the same.
  main.StatusPage()->SetMonitoring(true);
  EXPECT_EQ(counting.Writes("Monitoring"), first + 1);
  EXPECT_EQ(StoredDword(registry_.Registry(), "Monitoring"), 1u);
}

TEST_F(MainDlgTest, ExitRemovesTheIconAndEndsTheWindow) {
  CMainDlg& main = Main();
  QSignalSpy finished(&main, &QDialog::finished);
  Escape(&main);
  ASSERT_EQ(tray_.Icons().size(), 1u);
  main.OnCommand(res::ID_TRAY_EXIT);
  EXPECT_TRUE(tray_.Icons().empty());
  ASSERT_EQ(finished.count(), 1);
  EXPECT_EQ(finished[0][0].toInt(), 0);
}

TEST_F(MainDlgTest, BringingForwardWhileHiddenKeepsTheOneIcon) {
  CMainDlg& main = Main();
  Escape(&main);
  ASSERT_EQ(App().BringForward(), &main);
  EXPECT_TRUE(main.isVisible());
  EXPECT_EQ(tray_.Icons().size(), 1u);  // stays until Show, Exit or a double-click
  Escape(&main);
  EXPECT_EQ(tray_.Icons().size(), 1u);
  EXPECT_FALSE(main.isVisible());
}

TEST_F(MainDlgTest, HelpCommandsOpenTheHelpPagesInTheBrowser) {
  CMainDlg& main = Main();
  main.OnCommand(res::ID_TRAY_HELP_CONTENTS);
  main.OnCommand(res::ID_TRAY_HELP_INDEX);
  main.OnCommand(res::ID_TRAY_HELP_SEARCH);
  main.MenuButton()->OnMenuCommand(res::ID_MENU_HELP_CONTENTS);
  main.MenuButton()->OnMenuCommand(res::ID_MENU_HELP_INDEX);
  main.MenuButton()->OnMenuCommand(res::ID_MENU_HELP_SEARCH);
  ASSERT_EQ(opener_.opened.size(), 6u);
  const char* panes[] = {"contents", "index", "search", "contents", "index", "search"};
  for (std::size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(opener_.opened[i]);
    HelpRequest h = ParseHelp(opener_.opened[i]);
    EXPECT_EQ(h.file, std::string(QM_APP_DIR) + "/help/Quillmark.htm");
    EXPECT_TRUE(std::filesystem::exists(h.file));
    EXPECT_EQ(h.pane, panes[i]);
    EXPECT_EQ(h.topic, "1_0_Introduction.htm");
  }
  // The tray searches for "lesson" at once; the menu button opens the pane
  // with nothing searched.
  EXPECT_EQ(ParseHelp(opener_.opened[2]).query, "lesson");
  EXPECT_EQ(QUrl(QString::fromStdString(opener_.opened[2])).fragment().toStdString(), "search=lesson");
  EXPECT_EQ(ParseHelp(opener_.opened[5]).query, "");
  EXPECT_EQ(QUrl(QString::fromStdString(opener_.opened[5])).fragment().toStdString(), "search");
}

TEST_F(MainDlgTest, WebCommandsOpenTheirPages) {
  CMainDlg& main = Main();
  main.OnCommand(res::ID_TRAY_TELL_A_FRIEND);
  main.MenuButton()->OnMenuCommand(res::ID_MENU_PRODUCT_PAGE);
  main.MenuButton()->OnMenuCommand(res::ID_MENU_COMPANY_PAGE);
  main.MenuButton()->OnMenuCommand(res::ID_MENU_SUPPORT);
  main.MenuButton()->OnMenuCommand(res::ID_MENU_TELL_A_FRIEND);
  EXPECT_EQ(opener_.opened, (std::vector<std::string>{kTellAFriendPageUrl, kProductPageUrl, kCompanyPageUrl,
                                                      kSupportPageUrl, kTellAFriendPageUrl}));
}

TEST_F(MainDlgTest, TheMenuButtonsEntries) {
  CMainDlg& main = Main();
  const auto actions = main.MenuButton()->Menu().actions();
  ExpectMenuEntries(actions, {{161, "Help &Contents"},
                              {162, "Help &Index"},
                              {163, "Help &Search"},
                              {0, nullptr},
                              {164, "&Product Page"},
                              {165, "C&ompany Page"},
                              {0, nullptr},
                              {166, "&Get Support"},
                              {168, "&Tell a Friend"},
                              {0, nullptr},
                              {167, "&About"}});
}

TEST_F(MainDlgTest, AboutFromTheTrayTheSystemMenuAndTheMenuButton) {
  CMainDlg& main = Main();
  int opened = 0;
  auto check = [&opened](QWidget* modal) {
    EXPECT_NE(qobject_cast<CAboutDlg*>(modal), nullptr);
    ++opened;
  };
  OnNextModal(check);
  main.OnCommand(res::ID_ABOUT);
  OnNextModal(check);
  main.OnSysCommand(res::IDM_ABOUTBOX);
  OnNextModal(check);
  main.MenuButton()->OnMenuCommand(res::ID_ABOUT);
  EXPECT_EQ(opened, 3);
  EXPECT_TRUE(main.isVisible());
}

TEST_F(MainDlgTest, SystemMenuGetsTheAboutItemOnlyForAText) {
  CMainDlg& main = Main();
  const auto actions = main.SystemMenu()->actions();
  ASSERT_GE(actions.size(), 2);
  EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
  EXPECT_EQ(actions.back()->text().toStdString(), "&About Quillmark 2...");
  EXPECT_EQ(actions.back()->data().toInt(), res::IDM_ABOUTBOX);

  QMenu menu;
  EXPECT_FALSE(CMainDlg::AppendAboutItem(menu, ""));
  EXPECT_TRUE(menu.actions().isEmpty());
}

TEST_F(MainDlgTest, TheColourKeyShapesTheWindow) {
  CMainDlg& main = Main();
  QRegion shape = main.mask();
  ASSERT_FALSE(shape.isEmpty());
  // Corners and the strip right of the title tab are key colour.
  for (QPoint out : {QPoint(0, 0), QPoint(585, 0), QPoint(0, 400), QPoint(585, 400), QPoint(450, 5)}) {
    EXPECT_FALSE(shape.contains(out)) << out.x() << "," << out.y();
  }
  for (QPoint in : {QPoint(100, 20), QPoint(300, 200), QPoint(580, 390), QPoint(560, 40)}) {
    EXPECT_TRUE(shape.contains(in)) << in.x() << "," << in.y();
  }

  QImage sample(4, 1, QImage::Format_RGB32);
  sample.setPixel(0, 0, qRgb(229, 27, 255));
  sample.setPixel(1, 0, qRgb(229, 27, 254));
  sample.setPixel(2, 0, qRgb(0, 0, 0));
  sample.setPixel(3, 0, qRgb(229, 27, 255));
  QRegion r = CMainDlg::ColourKeyRegion(sample);
  EXPECT_FALSE(r.contains(QPoint(0, 0)));
  EXPECT_TRUE(r.contains(QPoint(1, 0)));
  EXPECT_TRUE(r.contains(QPoint(2, 0)));
  EXPECT_FALSE(r.contains(QPoint(3, 0)));
}

TEST_F(MainDlgTest, AFreeSpotDragsTheWindow) {
  CMainDlg& main = Main();
  main.move(100, 100);
  QApplication::processEvents();
  const QPoint start = main.pos();
  const QPoint spot(450, 60);
  ASSERT_EQ(main.childAt(spot), nullptr);
  Press(&main, spot);
  // Moves are reported in screen terms; the window follows the cursor.
  QPointF global(main.mapToGlobal(spot) + QPoint(30, 20));
  QMouseEvent move(QEvent::MouseMove, QPointF(spot + QPoint(30, 20)), QPointF(spot + QPoint(30, 20)), global,
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&main, &move);
  Release(&main, spot + QPoint(30, 20));
  QApplication::processEvents();
  EXPECT_EQ(main.pos(), start + QPoint(30, 20));
}

TEST_F(MainDlgTest, DefaultPrinterName) {
  EXPECT_EQ(App().GetDefaultPrinterName(), "No default printer");
  printer_.name = "";
  EXPECT_EQ(App().GetDefaultPrinterName(), "No default printer");
  // Names longer than 31 characters come back whole.
  printer_.name = "Third floor colour laser by the lifts";
  EXPECT_EQ(App().GetDefaultPrinterName(), "Third floor colour laser by the lifts");
  // A change of the default is seen at the next call.
  printer_.name = "Office";
  EXPECT_EQ(App().GetDefaultPrinterName(), "Office");
}

TEST_F(MainDlgTest, TheApplicationFolderIsReadOnceAtStart) {
  EXPECT_EQ(App().AppPathText(), QM_APP_DIR);
  SetText("AppPath", "/elsewhere");
  EXPECT_EQ(App().AppPathText(), QM_APP_DIR);
}
