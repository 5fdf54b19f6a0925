#include <QFont>
#include <QMenu>

#include "console/resources.h"
#include "console/tray_dlg.h"
#include "console_test_support.h"

namespace {

using platform::TrayMouse;

class ScriptedTrayDlg : public CTrayDlg {
 public:
  explicit ScriptedTrayDlg(platform::TrayArea& area) : CTrayDlg(area, res::IDD_MAIN) {
    SetTrayMenu(res::IDR_TRAY_MENU);
    SetTrayIcon(res::IDI_MONITORING);
    SetTrayTip("Quillmark - Monitoring");
  }

  int chooses = 0;
  int menuOpenings = 0;
  std::vector<bool> boldShowAtOpening;
  std::vector<int> commands;

  void OnCommand(int id) override { commands.push_back(id); }

 protected:
  int TrackTrayMenu(QMenu& menu, QPoint) override {
    ++menuOpenings;
    boldShowAtOpening.push_back(menu.defaultAction() != nullptr &&
                                menu.defaultAction()->data().toInt() == res::ID_TRAY_SHOW);
    return chooses;
  }
};

std::uint32_t M(TrayMouse m) { return static_cast<std::uint32_t>(m); }

}  // namespace

TEST(TrayDlg, MinimiseAndRestoreKeepExactlyOneIconWhileHidden) {
  platform::SimTrayArea area;
  ScriptedTrayDlg dlg(area);
  dlg.show();
  EXPECT_TRUE(area.Icons().empty());

  dlg.OnSysCommand(res::SC_MINIMIZE);
  EXPECT_FALSE(dlg.isVisible());
  ASSERT_EQ(area.Icons().size(), 1u);
  EXPECT_EQ(area.Icons()[0].icon, res::IDI_MONITORING);
  EXPECT_EQ(area.Icons()[0].tip, "Quillmark - Monitoring");
  EXPECT_EQ(area.Icons()[0].id, 1u);
  EXPECT_EQ(area.Icons()[0].flags, platform::kTrayMessage | platform::kTrayIcon | platform::kTrayTip);

  // A second add while shown is refused.
  EXPECT_FALSE(dlg.AddTrayIcon());
  EXPECT_EQ(area.Icons().size(), 1u);

  ASSERT_TRUE(area.Notify(&dlg, 1, M(TrayMouse::kLButtonDblClk)));
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_TRUE(area.Icons().empty());

  // Close (any low bits) does the same as Minimise.
  dlg.OnSysCommand(res::SC_CLOSE | 0x2);
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(area.Icons().size(), 1u);
}

TEST(TrayDlg, CloseRequestsAndMinimisingHideInsteadOfClosing) {
  platform::SimTrayArea area;
  ScriptedTrayDlg dlg(area);
  dlg.show();
  EXPECT_FALSE(dlg.close());  // refused: hidden into the tray instead
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(area.Icons().size(), 1u);

  area.Notify(&dlg, 1, M(TrayMouse::kLButtonDblClk));
  ASSERT_TRUE(dlg.isVisible());
  dlg.setWindowState(Qt::WindowMinimized);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_FALSE(dlg.isMinimized());  // comes back in its normal state
  EXPECT_EQ(area.Icons().size(), 1u);
}

TEST(TrayDlg, AFailedAddIsTriedOnceMoreAndTheWindowHidesRegardless) {
  platform::SimTrayArea area;
  ScriptedTrayDlg dlg(area);
  dlg.show();
  area.RefuseAdds(1);
  dlg.OnSysCommand(res::SC_MINIMIZE);
  EXPECT_EQ(area.AddCalls(), 2);
  EXPECT_EQ(area.Icons().size(), 1u);
  EXPECT_TRUE(dlg.TrayIconShown());

  area.Notify(&dlg, 1, M(TrayMouse::kLButtonDblClk));
  area.RefuseAdds(2);
  dlg.OnSysCommand(res::SC_MINIMIZE);
  EXPECT_EQ(area.AddCalls(), 4);
  EXPECT_TRUE(area.Icons().empty());
  EXPECT_FALSE(dlg.TrayIconShown());
  EXPECT_FALSE(dlg.isVisible());
}

TEST(TrayDlg, AFailedRemovalOnDoubleClickLeavesIconAndHiddenWindow) {
  platform::SimTrayArea area;
  ScriptedTrayDlg dlg(area);
  dlg.show();
  dlg.OnSysCommand(res::SC_MINIMIZE);
  area.RefuseDeletes(1);
  area.Notify(&dlg, 1, M(TrayMouse::kLButtonDblClk));
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(area.Icons().size(), 1u);
  EXPECT_TRUE(dlg.TrayIconShown());
}

TEST(TrayDlg, MouseOnTheIcon) {
  platform::SimTrayArea area;
  ScriptedTrayDlg dlg(area);
  dlg.OnSysCommand(res::SC_MINIMIZE);

  // A left click, a move and a right double-click do nothing.
  area.Notify(&dlg, 1, M(TrayMouse::kLButtonDown));
  area.Notify(&dlg, 1, M(TrayMouse::kMouseMove));
  area.Notify(&dlg, 1, M(TrayMouse::kRButtonDblClk));
  area.Notify(&dlg, 1, M(TrayMouse::kRButtonUp));
  EXPECT_EQ(dlg.menuOpenings, 0);
  EXPECT_FALSE(dlg.isVisible());

  // The menu opens on the press itself, and on a context request.
  area.Notify(&dlg, 1, M(TrayMouse::kRButtonDown));
  EXPECT_EQ(dlg.menuOpenings, 1);
  area.Notify(&dlg, 1, M(TrayMouse::kContextMenu));
  EXPECT_EQ(dlg.menuOpenings, 2);

  // Another icon id is not ours.
  dlg.OnTrayNotify(2, M(TrayMouse::kRButtonDown));
  EXPECT_EQ(dlg.menuOpenings, 2);
}

TEST(TrayDlg, ShowIsBoldFromTheSecondOpeningAndTheChoiceIsACommand) {
  platform::SimTrayArea area;
  ScriptedTrayDlg dlg(area);
  dlg.OnSysCommand(res::SC_MINIMIZE);
  dlg.chooses = res::ID_TRAY_START_MONITORING;
  area.Notify(&dlg, 1, M(TrayMouse::kRButtonDown));
  dlg.chooses = 0;
  area.Notify(&dlg, 1, M(TrayMouse::kRButtonDown));
  EXPECT_EQ(dlg.boldShowAtOpening, (std::vector<bool>{false, true}));
  EXPECT_EQ(dlg.commands, std::vector<int>{res::ID_TRAY_START_MONITORING});
}

TEST(TrayDlg, TheTrayMenu) {
  platform::SimTrayArea area;
  ScriptedTrayDlg dlg(area);
  ASSERT_NE(dlg.TrayMenu(), nullptr);
  const auto actions = dlg.TrayMenu()->actions();
  ExpectMenuEntries(actions, {{32772, "Show"},
                              {0, nullptr},
                              {32778, "Start monitoring"},
                              {32779, "Stop monitoring"},
                              {0, nullptr},
                              {32774, "Help Contents"},
                              {32773, "Help Index"},
                              {32775, "Help Search"},
                              {0, nullptr},
                              {167, "About"},
                              {32777, "Tell a friend"},
                              {0, nullptr},
                              {32771, "Exit"}});
}

TEST(TrayDlg, TipAndIconChangesReachTheAreaOnlyWhenShownOrAtTheNextAdd) {
  platform::SimTrayArea area;
  ScriptedTrayDlg dlg(area);
  // A tip longer than 63 characters is cut to 63.
  const std::string longTip(80, 'x');
  dlg.SetTrayTip(longTip);
  EXPECT_EQ(dlg.TrayData().tip, std::string(63, 'x'));

  EXPECT_FALSE(dlg.UpdateTrayIcon());
  EXPECT_EQ(area.ModifyCalls(), 0);

  // An icon that does not load leaves the previous one.
  EXPECT_FALSE(dlg.SetTrayIcon(4242));
  EXPECT_EQ(dlg.TrayData().icon, res::IDI_MONITORING);

  dlg.OnSysCommand(res::SC_MINIMIZE);
  EXPECT_EQ(area.Icons()[0].tip, std::string(63, 'x'));

  ASSERT_TRUE(dlg.SetTrayIcon(res::IDI_NOT_MONITORING));
  dlg.SetTrayTip("Quillmark - Not Monitoring");
  EXPECT_EQ(area.Icons()[0].icon, res::IDI_MONITORING);  // not told yet
  EXPECT_TRUE(dlg.UpdateTrayIcon());
  EXPECT_EQ(area.Icons()[0].icon, res::IDI_NOT_MONITORING);
  EXPECT_EQ(area.Icons()[0].tip, "Quillmark - Not Monitoring");
}

TEST(TrayDlg, DestroyingTheWindowRemovesItsIcon) {
  platform::SimTrayArea area;
  {
    ScriptedTrayDlg dlg(area);
    dlg.OnSysCommand(res::SC_MINIMIZE);
    ASSERT_EQ(area.Icons().size(), 1u);
  }
  EXPECT_TRUE(area.Icons().empty());
}
