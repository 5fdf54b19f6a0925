// The reports page: its lists, its messages, and buttons that do nothing
// without a selection.

#include <QComboBox>

#include "console/main_dlg.h"
#include "console/message_dlg.h"
#include "console/report_operations.h"
#include "console/reports_page.h"
#include "console/resources.h"
#include "console/skin_button.h"
#include "console/tests/report_fixture.h"

namespace {

QStringList Items(const QComboBox* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
  return items;
}

class ReportsPageTest : public ReportFixture {
 protected:
  CReportsPage& Page() {
    CMainDlg& main = App().CreateMainWindow();
    auto* page = dynamic_cast<CReportsPage*>(main.Page(2));
    EXPECT_NE(page, nullptr);
    return *page;
  }

  // Clicks the button and returns the text of the message it shows (empty
  // when no message box opened).
  std::string MessageAfter(const std::function<void()>& click) {
    std::string text;
    QPointer<QTimer> watch = OnNextModalOf<CMessageDlg>([&text](CMessageDlg* box) { text = box->Text(); });
    click();
    delete watch.data();  // nothing opened: stop watching
    return text;
  }
};

TEST_F(ReportsPageTest, ListsHoldThePeriodsTheMonitoredPrintersAndTheUsers) {
  CReportsPage& page = Page();
  page.Refresh();
  EXPECT_EQ(
      Items(page.PeriodList()),
      QStringList({"Today", "Yesterday", "This week", "Last week", "This month", "Last month", "This quarter",
                   "Last quarter", "This semester", "Last semester", "This year", "Last year"}));
  EXPECT_EQ(page.PeriodList()->currentText(), "Today");
  EXPECT_EQ(Items(page.PrinterList()), QStringList({"Front Desk", "Lab"}));
  EXPECT_EQ(page.PrinterList()->currentIndex(), -1);
  EXPECT_EQ(Items(page.UserList()), QStringList({"anna", "ben"}));
  EXPECT_EQ(page.UserList()->currentIndex(), -1);

  // A printer set to monitored and a new user show up at the next refill,
  // with the selections reset.
  page.PeriodList()->setCurrentIndex(5);
  page.UserList()->setCurrentIndex(1);
  WriteCatalogue(
      "<log><printers><name>Back Office</name><ID>2</ID><cost>3</cost><monitored>1</monitored>"
      "</printers><users><username>anna</username><username>caf\xE9</username></users></log>");
  page.Refresh();
  EXPECT_EQ(page.PeriodList()->currentText(), "Today");
  EXPECT_EQ(Items(page.PrinterList()), QStringList({"Back Office"}));
  EXPECT_EQ(Items(page.UserList()), QStringList({"anna", QString::fromUtf8("caf\u00e9")}));
  EXPECT_EQ(page.UserList()->currentIndex(), -1);

  // No catalogue: both lists empty.
  std::filesystem::remove(appDir_ / "settings.xml");
  page.FillReportLists();
  EXPECT_EQ(page.PrinterList()->count(), 0);
  EXPECT_EQ(page.UserList()->count(), 0);
}

TEST_F(ReportsPageTest, ShowButtonsWithoutASelectionDoNothing) {
  CReportsPage& page = Page();
  page.FillReportLists();
  LogJob("budget.pdf", 2, "Front Desk", "anna");
  EXPECT_EQ(MessageAfter([&] { page.PrinterButton()->click(); }), "");
  EXPECT_EQ(MessageAfter([&] { page.UserButton()->click(); }), "");
  page.PeriodList()->setCurrentIndex(-1);
  EXPECT_EQ(MessageAfter([&] { page.AggregatedButton()->click(); }), "");
  EXPECT_FALSE(std::filesystem::exists(UserReports() / "DisplayReport.xml"));
  QApplication::processEvents();
}

TEST_F(ReportsPageTest, MissingReportsAndUnmonitoredPrintersAreTold) {
  CReportsPage& page = Page();
  page.FillReportLists();
  const std::string missing = "The report your are trying to view does not exists.";

  // Nothing was printed today.
  EXPECT_EQ(MessageAfter([&] { page.AggregatedButton()->click(); }), missing);
  page.PrinterList()->setCurrentIndex(0);
  EXPECT_EQ(MessageAfter([&] { page.PrinterButton()->click(); }), missing);
  page.UserList()->setCurrentIndex(1);
  EXPECT_EQ(MessageAfter([&] { page.UserButton()->click(); }), missing);

  // The printer lost its catalogue entry after the list was filled.
  WriteCatalogue("<log><printers></printers><users></users></log>");
  EXPECT_EQ(MessageAfter([&] { page.PrinterButton()->click(); }),
            "The selected printer is not monitored. Please check the Printers menu.");

  // The status page's buttons: a default printer without an entry, the
  // placeholder for none, and a user who printed nothing today.
  const std::string notMonitored = "The default printer is not monitored. Please check the Printers menu.";
  EXPECT_EQ(MessageAfter([&] { ShowDefaultPrinterReport(&page, "Front Desk"); }), notMonitored);
  EXPECT_EQ(MessageAfter([&] { ShowDefaultPrinterReport(&page, "No default printer"); }), notMonitored);
  EXPECT_EQ(MessageAfter([&] { ShowCurrentUserReport(&page, "anna"); }), missing);
  EXPECT_FALSE(std::filesystem::exists(UserReports() / "DisplayReport.xml"));
}

TEST_F(ReportsPageTest, AUserNameNeverReadsOutsideTheLogs) {
  // A report file planted where the raw name would lead.
  std::filesystem::create_directories(appDir_ / "x");
  WriteAll(appDir_ / "x" / "d_20060309.xml", std::string(525, ' ') + "\n<event></event>");
  CReportsPage& page = Page();
  EXPECT_EQ(MessageAfter([&] { ShowCurrentUserReport(&page, "../../x"); }),
            "The report your are trying to view does not exists.");
}

}  // namespace
