// The report viewer with its real browser: the HTML written beside the
// document and loaded, anchors on resize, Escape, the find bar and the two
// exports; reached through the reports page's buttons.

#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <QWebEngineView>

#include "console/control_id.h"
#include "console/find_bar.h"
#include "console/main_dlg.h"
#include "console/report_operations.h"
#include "console/report_viewer_dlg.h"
#include "console/reports_page.h"
#include "console/resources.h"
#include "console/skin_button.h"
#include "console/tests/report_fixture.h"

namespace {

class ReportViewerTest : public ReportFixture {
 protected:
  void SetUp() override {
    ReportFixture::SetUp();
    LogJob("budget.pdf", 2, "Front Desk", "anna");
    LogJob("budget.pdf", 3, "Lab", "ben");
    LogJob("Budget notes.txt", 1, "Front Desk", "ben");
    LogJob("memo.txt", 4, "Lab", "anna");
  }

  CReportsPage& Page() {
    CMainDlg& main = App().CreateMainWindow();
    auto* page = dynamic_cast<CReportsPage*>(main.Page(2));
    page->FillReportLists();
    return *page;
  }

  // Presses `button` and runs `inside` on the viewer once it painted the
  // report; the viewer is closed afterwards. False when no viewer opened.
  bool InViewer(const std::function<void()>& press, const std::function<void(CReportViewerDlg*)>& inside) {
    bool opened = false;
    QPointer<QTimer> watch = OnNextModalOf<CReportViewerDlg>([&](CReportViewerDlg* viewer) {
      opened = true;
      EXPECT_TRUE(WaitUntil([viewer] { return viewer->Painted(); })) << "the report was not painted";
      inside(viewer);
    });
    press();
    delete watch.data();
    return opened;
  }
};

QRect Geometry(QWidget* dialog, int id) { return FindControl(dialog, id)->geometry(); }

TEST_F(ReportViewerTest, ShowsTheHtmlWrittenBesideTheDocument) {
  QM_SKIP_WITHOUT_BROWSER();
  CReportsPage& page = Page();
  ASSERT_TRUE(InViewer([&] { page.AggregatedButton()->click(); },
                       [&](CReportViewerDlg* viewer) {
                         const std::filesystem::path html = UserReports() / "DisplayReport.html";
                         EXPECT_EQ(viewer->ReportPath(), (UserReports() / "DisplayReport.xml").string());
                         EXPECT_EQ(viewer->HtmlPath(), html.string());
                         EXPECT_EQ(viewer->Browser()->url(),
                                   QUrl::fromLocalFile(QString::fromStdString(html.string())));
                         const std::string text = ReadWholeFile(html);
                         EXPECT_NE(text.find("03/09/2006"), std::string::npos);
                         EXPECT_NE(text.find("memo.txt"), std::string::npos);
                         // What the browser shows is that page.
                         QString period;
                         viewer->Browser()->page()->runJavaScript(
                             QStringLiteral("document.getElementById('period').textContent"),
                             [&period](const QVariant& v) { period = v.toString(); });
                         EXPECT_TRUE(WaitUntil([&] { return !period.isEmpty(); }));
                         EXPECT_EQ(period, "03/09/2006");
                       }));

  // A user's report goes through the same viewer.
  page.UserList()->setCurrentIndex(0);
  ASSERT_TRUE(InViewer([&] { page.UserButton()->click(); },
                       [&](CReportViewerDlg*) {
                         const std::string text = ReadWholeFile(UserReports() / "DisplayReport.html");
                         EXPECT_NE(text.find("memo.txt"), std::string::npos);
                         EXPECT_EQ(text.find("Budget notes.txt"), std::string::npos);  // ben's
                       }));
}

TEST_F(ReportViewerTest, TheShippedStylesheetsShowThePeriodsTotals) {
  QM_SKIP_WITHOUT_BROWSER();
  for (const char* sheet : {"style.xsl", "printers.xsl", "users.xsl", "report-layout.xsl"}) {
    std::filesystem::copy_file(std::filesystem::path(QM_SOURCE_DIR) / "data" / sheet, Logs() / sheet,
                               std::filesystem::copy_options::overwrite_existing);
  }
  CReportsPage& page = Page();
  auto shown = [](CReportViewerDlg* viewer, const char* id) {
    QString text;
    viewer->Browser()->page()->runJavaScript(
        QStringLiteral("document.getElementById('%1').textContent.trim()").arg(QLatin1String(id)),
        [&text](const QVariant& v) { text = v.toString(); });
    EXPECT_TRUE(WaitUntil([&] { return !text.isEmpty(); })) << id;
    return text;
  };
  // All printing: four jobs, 10 pages at 5 cents.
  ASSERT_TRUE(InViewer([&] { page.AggregatedButton()->click(); },
                       [&](CReportViewerDlg* viewer) {
                         EXPECT_EQ(shown(viewer, "total-jobs"), "4");
                         EXPECT_EQ(shown(viewer, "total-pages"), "10");
                         EXPECT_EQ(shown(viewer, "total-cost"), "0.50");
                       }));
  // The printer "Lab": ben's 3 pages and anna's 4.
  page.PrinterList()->setCurrentIndex(1);
  ASSERT_TRUE(InViewer([&] { page.PrinterButton()->click(); },
                       [&](CReportViewerDlg* viewer) {
                         EXPECT_EQ(shown(viewer, "total-jobs"), "2");
                         EXPECT_EQ(shown(viewer, "total-pages"), "7");
                         EXPECT_EQ(shown(viewer, "total-cost"), "0.35");
                       }));
}

TEST_F(ReportViewerTest, BrowserStretchesAndButtonsFollowTheirCorners) {
  QM_SKIP_WITHOUT_BROWSER();
  CReportsPage& page = Page();
  ASSERT_TRUE(InViewer([&] { page.AggregatedButton()->click(); },
                       [&](CReportViewerDlg* viewer) {
                         const QSize opened = viewer->size();
                         const QRect browser = Geometry(viewer, res::IDC_BROWSER);
                         const QRect find = Geometry(viewer, res::IDC_FIND_KEYWORD);
                         const QRect close = Geometry(viewer, res::IDC_CANCEL);
                         const QRect pdf = Geometry(viewer, res::IDC_SAVE_PDF);
                         const QRect csv = Geometry(viewer, res::IDC_SAVE_CSV);
                         const QRect bar = Geometry(viewer, res::IDC_FIND_BAR);

                         viewer->resize(opened + QSize(100, 60));
                         QApplication::processEvents();
                         EXPECT_EQ(Geometry(viewer, res::IDC_BROWSER), browser.adjusted(0, 0, 100, 60));
                         EXPECT_EQ(Geometry(viewer, res::IDC_FIND_KEYWORD), find.translated(100, 60));
                         EXPECT_EQ(Geometry(viewer, res::IDC_CANCEL), close.translated(100, 60));
                         EXPECT_EQ(Geometry(viewer, res::IDC_SAVE_PDF), pdf.translated(0, 60));
                         EXPECT_EQ(Geometry(viewer, res::IDC_SAVE_CSV), csv.translated(0, 60));
                         EXPECT_EQ(Geometry(viewer, res::IDC_FIND_BAR), bar.translated(100, 0));
                         EXPECT_EQ(viewer->Browser()->size(), browser.size() + QSize(100, 60));

                         // Never smaller than it opened.
                         viewer->resize(opened - QSize(200, 100));
                         QApplication::processEvents();
                         EXPECT_GE(viewer->width(), opened.width());
                         EXPECT_GE(viewer->height(), opened.height());
                       }));
}

TEST_F(ReportViewerTest, EscapeAndTheCloseButtonCloseIt) {
  QM_SKIP_WITHOUT_BROWSER();
  CReportsPage& page = Page();
  bool visibleAfter = true;
  ASSERT_TRUE(InViewer([&] { page.AggregatedButton()->click(); },
                       [&](CReportViewerDlg* viewer) {
                         QTest::keyClick(viewer, Qt::Key_Escape);
                         visibleAfter = viewer->isVisible();
                       }));
  EXPECT_FALSE(visibleAfter);

  visibleAfter = true;
  ASSERT_TRUE(InViewer([&] { page.AggregatedButton()->click(); },
                       [&](CReportViewerDlg* viewer) {
                         qobject_cast<CSkinButton*>(FindControl(viewer, res::IDC_CANCEL))->click();
                         visibleAfter = viewer->isVisible();
                       }));
  EXPECT_FALSE(visibleAfter);
}

TEST_F(ReportViewerTest, FindBarCountsAndStepsThroughMatches) {
  QM_SKIP_WITHOUT_BROWSER();
  CReportsPage& page = Page();
  ASSERT_TRUE(InViewer([&] { page.AggregatedButton()->click(); },
                       [&](CReportViewerDlg* viewer) {
                         CFindBar* bar = viewer->FindBar();
                         EXPECT_FALSE(bar->isVisible());
                         qobject_cast<CSkinButton*>(FindControl(viewer, res::IDC_FIND_KEYWORD))->click();
                         EXPECT_TRUE(bar->isVisible());
                         EXPECT_TRUE(viewer->isVisible());

                         // Typing searches at once, case-insensitively: two "budget.pdf" and
                         // "Budget notes.txt".
                         QSignalSpy finished(bar, &CFindBar::SearchFinished);
                         QTest::keyClicks(bar->Field(), "budget");
                         ASSERT_TRUE(WaitUntil([&] {
                           return bar->Matches() == 3 && bar->CountText() == "1 of 3";
                         })) << bar->CountText().toStdString();

                         bar->NextButton()->click();
                         EXPECT_TRUE(WaitUntil([&] { return bar->ActiveMatch() == 2; }));
                         QTest::keyClick(bar->Field(), Qt::Key_Return);
                         EXPECT_TRUE(WaitUntil([&] { return bar->ActiveMatch() == 3; }));
                         bar->PreviousButton()->click();
                         EXPECT_TRUE(WaitUntil([&] { return bar->ActiveMatch() == 2; }));

                         bar->Field()->setText("no such word");
                         EXPECT_TRUE(WaitUntil([&] { return bar->CountText() == "No matches"; }));
                         EXPECT_EQ(bar->Matches(), 0);

                         // Escape in the bar closes the bar, not the viewer; the find button
                         // opens it again with the report still shown.
                         QTest::keyClick(bar->Field(), Qt::Key_Escape);
                         EXPECT_FALSE(bar->isVisible());
                         EXPECT_TRUE(viewer->isVisible());
                         qobject_cast<CSkinButton*>(FindControl(viewer, res::IDC_FIND_KEYWORD))->click();
                         EXPECT_TRUE(bar->isVisible());
                         EXPECT_TRUE(viewer->Painted());
                       }));
}

TEST_F(ReportViewerTest, ExportsWriteAPdfAndACsvOfEveryJob) {
  QM_SKIP_WITHOUT_BROWSER();
  CReportsPage& page = Page();
  const std::filesystem::path pdf = registry_.Folder() / "out" / "report.pdf";
  const std::filesystem::path csv = registry_.Folder() / "out" / "report.csv";
  std::filesystem::create_directories(pdf.parent_path());

  ASSERT_TRUE(InViewer(
      [&] { page.AggregatedButton()->click(); },
      [&](CReportViewerDlg* viewer) {
        // "Save as PDF", with the destination typed into the file dialog.
        QSignalSpy saved(viewer, &CReportViewerDlg::PdfSaved);
        QPointer<QTimer> chooser = OnNextModalOf<QFileDialog>([&](QFileDialog* dialog) {
          dialog->selectFile(QString::fromStdString(pdf.string()));
          static_cast<QDialog*>(dialog)->accept();
        });
        qobject_cast<CSkinButton*>(FindControl(viewer, res::IDC_SAVE_PDF))->click();
        delete chooser.data();
        ASSERT_TRUE(WaitUntil([&] { return saved.count() == 1; }));
        EXPECT_TRUE(saved.at(0).at(1).toBool());
        EXPECT_EQ(ReadWholeFile(pdf).substr(0, 5), "%PDF-");

        // "Save as CSV": every job, not only the shown ones.
        chooser = OnNextModalOf<QFileDialog>([&](QFileDialog* dialog) {
          dialog->selectFile(QString::fromStdString(csv.string()));
          static_cast<QDialog*>(dialog)->accept();
        });
        qobject_cast<CSkinButton*>(FindControl(viewer, res::IDC_SAVE_CSV))->click();
        delete chooser.data();
        const std::string text = ReadWholeFile(csv);
        EXPECT_EQ(text.rfind("Date,Time,Document,Pages,Cost (cents),Printer,User\r\n", 0), 0u) << text;
        EXPECT_NE(text.find("memo.txt,4,20,Lab,anna"), std::string::npos) << text;
        std::size_t rows = 0;
        for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
          ++rows;
        EXPECT_EQ(rows, 5u);

        // A cancelled dialog writes nothing.
        std::filesystem::remove(csv);
        chooser = OnNextModalOf<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
        qobject_cast<CSkinButton*>(FindControl(viewer, res::IDC_SAVE_CSV))->click();
        delete chooser.data();
        EXPECT_FALSE(std::filesystem::exists(csv));
      }));
}

TEST_F(ReportViewerTest, ABrokenStylesheetIsShownNotFatal) {
  QM_SKIP_WITHOUT_BROWSER();
  WriteAll(Logs() / "style.xsl", "not a stylesheet");
  std::filesystem::remove(UserReports() / "DisplayReport.html");
  CReportsPage& page = Page();
  bool failed = false;
  QPointer<QTimer> watch = OnNextModalOf<CReportViewerDlg>([&](CReportViewerDlg* viewer) {
    failed = WaitUntil([viewer] { return !viewer->Failure().isEmpty(); }) && viewer->HtmlPath().empty() &&
             !viewer->Painted();
    QTest::keyClick(viewer, Qt::Key_Escape);
  });
  page.AggregatedButton()->click();
  delete watch.data();
  EXPECT_TRUE(failed);
  EXPECT_FALSE(std::filesystem::exists(UserReports() / "DisplayReport.html"));
}

}  // namespace
