#include <QLabel>
#include <cstdio>

#include "console/control_id.h"
#include "console/engine_heartbeat.h"
#include "console/main_dlg.h"
#include "console/page_panel.h"
#include "console/resources.h"
#include "console/skin_button.h"
#include "console/status_page.h"
#include "page_test_support.h"
#include "tests/support/fake_clock.h"

namespace {

std::string ShownText(QWidget* page, int id) {
  auto* label = qobject_cast<QLabel*>(FindControl(page, id));
  return label != nullptr ? label->text().toLatin1().toStdString() : "<none>";
}

std::string IdOutput() {
  std::string out;
  if (FILE* p = ::popen("id -un", "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    ::pclose(p);
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

class StatusPageTest : public PageFixture {
 protected:
  CStatusPage& Page() {
    if (!page_) page_ = std::make_unique<CStatusPage>(nullptr, nullptr);
    return *page_;
  }
  void ExpectState(bool on) {
    EXPECT_EQ(Page().StartButton()->isEnabled(), !on);
    EXPECT_EQ(Page().StopButton()->isEnabled(), on);
    EXPECT_EQ(ShownText(&Page(), res::IDC_STATUS_TEXT), on ? "Monitoring" : "NOT Monitoring");
  }
  std::unique_ptr<CStatusPage> page_;
};

}  // namespace

TEST_F(StatusPageTest, ShowsTheStoredStateTheUserAndTheDefaultPrinter) {
  printer_.name = "Front Desk";
  CStatusPage& page = Page();
  ExpectState(false);  // "Monitoring" missing
  EXPECT_EQ(ShownText(&page, res::IDC_USER_TEXT), IdOutput());
  EXPECT_EQ(page.UserText(), IdOutput());
  EXPECT_EQ(ShownText(&page, res::IDC_PRINTER_TEXT), "Front Desk");
  EXPECT_EQ(page.PrinterText(), "Front Desk");

  printer_.name.reset();
  SetDword("Monitoring", 1);
  page.Refresh();
  ExpectState(true);
  EXPECT_EQ(page.PrinterText(), "No default printer");

  // Anything but exactly 1 is off.
  SetDword("Monitoring", 2);
  page.Refresh();
  ExpectState(false);

  // The buttons carry their art; the disabled one shows its normal face.
  EXPECT_EQ(page.StopButton()->CurrentImageId(), res::IDB_STOP_NORMAL);
  EXPECT_EQ(page.PrinterReportButton()->CurrentImageId(), res::IDB_PRINTER_REPORT_NORMAL);
  EXPECT_EQ(page.UserReportButton()->CurrentImageId(), res::IDB_USER_REPORT_NORMAL);
}

TEST_F(StatusPageTest, TheDefaultPrinterComesFromTheSpooler) {
  spooler_->AddPrinter("Back Office");
  spooler_->AddPrinter("Front Desk");
  spooler_->SetDefaultPrinter("Front Desk");
  CSpoolerDefaultPrinter source;
  CQuillmarkApp app({&tray_, &opener_, &source});
  CStatusPage page(nullptr, nullptr);
  EXPECT_EQ(page.PrinterText(), "Front Desk");
  spooler_->SetDefaultPrinter("");
  page.Refresh();
  EXPECT_EQ(page.PrinterText(), "No default printer");
}

TEST_F(StatusPageTest, StartAndStopWriteEveryTime) {
  CountingRegistry counting(registry_.Registry());
  CStatusPage& page = Page();
  ClickButton(page.StartButton());
  EXPECT_EQ(StoredDword(registry_.Registry(), "Monitoring"), 1u);
  ExpectState(true);

  // Already 1 (set behind the page's back): Start still writes 1 again.
  int before = counting.Writes("Monitoring");
  page.SetMonitoring(true);
  EXPECT_EQ(counting.Writes("Monitoring"), before + 1);
  ExpectState(true);

  ClickButton(page.StopButton());
  EXPECT_EQ(StoredDword(registry_.Registry(), "Monitoring"), 0u);
  ExpectState(false);
  before = counting.Writes("Monitoring");
  ClickButton(page.StopButton());  // disabled: nothing happens
  page.SetMonitoring(false);       // the tray's Stop path writes all the same
  EXPECT_EQ(counting.Writes("Monitoring"), before + 1);

  // 2, written by something else: the page's Start writes 1.
  SetDword("Monitoring", 2);
  page.Refresh();
  ClickButton(page.StartButton());
  EXPECT_EQ(StoredDword(registry_.Registry(), "Monitoring"), 1u);
}

TEST_F(StatusPageTest, SelectingThePageShowsAChangeMadeElsewhere) {
  CMainDlg& main = App().CreateMainWindow();
  main.show();
  CStatusPage* page = main.StatusPage();
  EXPECT_EQ(page->StatusText(), "NOT Monitoring");
  ClickButton(main.Panel()->Button(1));
  SetDword("Monitoring", 1);
  ClickButton(main.Panel()->Button(0));
  EXPECT_EQ(page->StatusText(), "Monitoring");
  EXPECT_FALSE(page->StartButton()->isEnabled());

  // Stopped from the tray while hidden: the page shows it when shown again.
  main.HideToTray();
  main.OnCommand(res::ID_TRAY_STOP_MONITORING);
  EXPECT_EQ(page->StatusText(), "NOT Monitoring");
  EXPECT_TRUE(page->StartButton()->isEnabled());
}

TEST_F(StatusPageTest, WarnsWhenTheEngineGivesNoSignOfLife) {
  const std::time_t now = 1796688000;  // 2026-12-08 00:00:00 UTC
  testing_support::FakeClock clock(now);
  platform::Clock* previous = platform::Clock::SetDefault(&clock);
  CStatusPage& page = Page();
  EXPECT_FALSE(page.EngineWarningShown());  // not monitoring: nothing to say

  SetDword("Monitoring", 1);
  page.Refresh();
  EXPECT_TRUE(page.EngineWarningShown());  // monitoring, but never a beat

  SetDword("Heartbeat", static_cast<std::uint32_t>(now - 20));
  page.Refresh();
  EXPECT_FALSE(page.EngineWarningShown());
  SetDword("Heartbeat", static_cast<std::uint32_t>(now - 60));
  page.Refresh();
  EXPECT_FALSE(page.EngineWarningShown());  // three passes: still alive
  SetDword("Heartbeat", static_cast<std::uint32_t>(now - 61));
  page.Refresh();
  EXPECT_TRUE(page.EngineWarningShown());
  SetDword("Heartbeat", static_cast<std::uint32_t>(now + 30));  // the engine's clock runs ahead
  page.Refresh();
  EXPECT_FALSE(page.EngineWarningShown());

  // Stopping removes the line; the stale beat no longer matters.
  SetDword("Heartbeat", static_cast<std::uint32_t>(now - 3600));
  ClickButton(page.StopButton());
  EXPECT_FALSE(page.EngineWarningShown());
  ClickButton(page.StartButton());
  EXPECT_TRUE(page.EngineWarningShown());
  platform::Clock::SetDefault(previous);
}
