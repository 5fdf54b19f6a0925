#include "console/report_viewer_dlg.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMarginsF>
#include <QMetaObject>
#include <QPageLayout>
#include <QPageSize>
#include <QSizeGrip>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "common/report_csv.h"
#include "common/report_transform.h"
#include "console/control_id.h"
#include "console/find_bar.h"
#include "console/message_dlg.h"
#include "console/resources.h"
#include "console/skin_button.h"

namespace {

// Template 137 is 403 x 214 dialog units; in pixels the browser is at
// (7, 7) 389 x 177, the find and close buttons at (240, 191) and
// (326, 191), 66 x 16 each. The two exports sit on the lower left, level
// with them.
constexpr QRect kBrowser(10, 11, 584, 288);
constexpr QRect kFindButton(360, 311, 99, 25);
constexpr QRect kCloseButton(489, 311, 99, 25);
constexpr QRect kSavePdfButton(10, 311, 99, 25);
constexpr QRect kSaveCsvButton(119, 311, 99, 25);
constexpr int kFindBarWidth = 330;
constexpr int kFindBarHeight = 34;

constexpr const char* kPdfFailed = "The report could not be saved as PDF.";
constexpr const char* kCsvFailed = "The report could not be saved as CSV.";

// Two animation frames after the load: the first runs before the page's
// first frame is drawn, the second once it was.
constexpr const char* kMarkFirstPaint =
    "requestAnimationFrame(() => requestAnimationFrame(() => { window.qmPainted = true; }));";
constexpr int kPaintPollMs = 10;
constexpr int kPaintPollTries = 3000;  // 30 s

std::string ToNative(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString FromNative(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

CSkinButton* MakeButton(QWidget* parent, int id, QRect where, int normal, int pressed) {
  auto* button = new CSkinButton(parent);
  SetControlId(button, id);
  button->setGeometry(where);
  button->LoadImages(normal, pressed, normal);
  return button;
}

}  // namespace

CReportViewerDlg::CReportViewerDlg(QWidget* parent) : CResizeDlg(res::IDD_REPORT_VIEWER, parent) {
  setModal(true);
  setWindowTitle(QStringLiteral("Quillmark Report"));
  // White under everything, and black static text.
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::white);
  p.setColor(QPalette::WindowText, Qt::black);
  setPalette(p);
  setAutoFillBackground(true);

  browser_ = new QWebEngineView(this);
  SetControlId(browser_, res::IDC_BROWSER);
  browser_->setGeometry(kBrowser);
  browser_->setContextMenuPolicy(Qt::NoContextMenu);

  findBar_ = new CFindBar(browser_->page(), this);
  SetControlId(findBar_, res::IDC_FIND_BAR);
  findBar_->setGeometry(kBrowser.right() + 1 - kFindBarWidth - 16, kBrowser.top() + 6, kFindBarWidth,
                        kFindBarHeight);

  find_ = MakeButton(this, res::IDC_FIND_KEYWORD, kFindButton, res::IDB_FIND_NORMAL, res::IDB_FIND_PRESSED);
  close_ =
      MakeButton(this, res::IDC_CANCEL, kCloseButton, res::IDB_VIEWER_OK_NORMAL, res::IDB_VIEWER_OK_PRESSED);
  savePdf_ = MakeButton(this, res::IDC_SAVE_PDF, kSavePdfButton, res::IDB_SAVE_PDF_NORMAL,
                        res::IDB_SAVE_PDF_PRESSED);
  saveCsv_ = MakeButton(this, res::IDC_SAVE_CSV, kSaveCsvButton, res::IDB_SAVE_CSV_NORMAL,
                        res::IDB_SAVE_CSV_PRESSED);
  find_->setToolTip(QStringLiteral("Find a word in the report"));
  savePdf_->setToolTip(QStringLiteral("Save the report as shown as a PDF file"));
  saveCsv_->setToolTip(QStringLiteral("Save every job of the period as a CSV file"));

  savePdf_->setEnabled(false);

  connect(find_, &QAbstractButton::clicked, this, &CReportViewerDlg::FindKeyword);
  connect(close_, &QAbstractButton::clicked, this, &QDialog::reject);
  connect(savePdf_, &QAbstractButton::clicked, this, &CReportViewerDlg::SaveAsPdf);
  connect(saveCsv_, &QAbstractButton::clicked, this, &CReportViewerDlg::SaveAsCsv);

  connect(browser_, &QWebEngineView::loadFinished, this, [this](bool ok) {
    // The "Preparing" page and the failure page are not the report.
    if (!reportLoading_) return;
    reportLoading_ = false;
    if (ok) {
      WaitForFirstPaint();
    } else {
      emit ReportFailed(QStringLiteral("The browser could not load the report."));
    }
    // The PDF is printed from the page shown: only once it is the report.
    savePdf_->setEnabled(ok);
  });
  connect(browser_->page(), &QWebEnginePage::pdfPrintingFinished, this, [this](const QString& path, bool ok) {
    if (!ok) ShowMessage(this, kPdfFailed);
    emit PdfSaved(path, ok);
  });
}

CReportViewerDlg::~CReportViewerDlg() = default;

void CReportViewerDlg::SetReportPath(std::string path) { reportPath_ = std::move(path); }

void CReportViewerDlg::OnInitDialog() {
  CResizeDlg::OnInitDialog();
  if (SizeGrip() != nullptr) SizeGrip()->hide();
  // The browser follows every edge; find and close keep their distance to
  // the lower-right corner, the exports to the lower-left one, the find
  // bar to the upper-right one.
  AddAnchor(res::IDC_BROWSER, kAnchorStretch, kAnchorStretch, kAnchorStretch, kAnchorStretch, true);
  AddAnchor(res::IDC_FIND_KEYWORD, kAnchorMove, kAnchorMove, kAnchorMove, kAnchorMove, true);
  AddAnchor(res::IDC_CANCEL, kAnchorMove, kAnchorMove, kAnchorMove, kAnchorMove, true);
  AddAnchor(res::IDC_SAVE_PDF, kAnchorStay, kAnchorStay, kAnchorMove, kAnchorMove, true);
  AddAnchor(res::IDC_SAVE_CSV, kAnchorStay, kAnchorStay, kAnchorMove, kAnchorMove, true);
  AddAnchor(res::IDC_FIND_BAR, kAnchorMove, kAnchorMove, kAnchorStay, kAnchorStay, true);
  LoadReport();
  find_->setFocus();
}

void CReportViewerDlg::LoadReport() {
  if (reportPath_.empty()) {
    ShowFailure(QStringLiteral("No report was given."));
    return;
  }
  // The browser starts its helper processes on this page while the worker
  // writes the report's HTML.
  browser_->setHtml(
      QStringLiteral("<html><body style=\"font-family: sans-serif; color: #808080; margin: 2em\">"
                     "Preparing the report\u2026</body></html>"));
  common::TransformOptions options;
  options.stylesheetFolder = stylesheetFolder_;
  transform_ = std::jthread([this, document = reportPath_, options] {
    common::ReportResult r = common::TransformReportFile(document, common::ReportHtmlPath(document), options);
    std::string html = r ? r.documentPath : std::string();
    if (r && html.empty()) html = common::ReportHtmlPath(document);
    // Runs on the dialog's thread; dropped if the dialog is gone.
    QMetaObject::invokeMethod(
        this, [this, html, failure = r ? std::string() : r.message] { ShowHtml(html, failure); },
        Qt::QueuedConnection);
  });
}

void CReportViewerDlg::ShowHtml(const std::string& htmlPath, const std::string& failure) {
  if (htmlPath.empty()) {
    ShowFailure(QString::fromLatin1(failure.data(), static_cast<qsizetype>(failure.size())));
    return;
  }
  htmlPath_ = htmlPath;
  reportLoading_ = true;
  browser_->load(QUrl::fromLocalFile(FromNative(htmlPath_)));
}

void CReportViewerDlg::ShowFailure(const QString& why) {
  failure_ = why.isEmpty() ? QStringLiteral("The report could not be prepared.") : why;
  QString page = QStringLiteral(
                     "<html><body style=\"font-family: sans-serif; color: #505050; margin: 2em\">"
                     "<h3 style=\"color: #23415f\">The report cannot be shown</h3><p>%1</p>"
                     "</body></html>")
                     .arg(failure_.toHtmlEscaped());
  browser_->setHtml(page);
  emit ReportFailed(failure_);
}

void CReportViewerDlg::WaitForFirstPaint() {
  browser_->page()->runJavaScript(QString::fromLatin1(kMarkFirstPaint));
  PollFirstPaint(kPaintPollTries);
}

void CReportViewerDlg::PollFirstPaint(int triesLeft) {
  browser_->page()->runJavaScript(
      QStringLiteral("window.qmPainted === true"), [this, triesLeft](const QVariant& v) {
        if (painted_) return;
        if (v.toBool()) {
          painted_ = true;
          emit ReportPainted();
        } else if (triesLeft > 0) {
          QTimer::singleShot(kPaintPollMs, this, [this, triesLeft] { PollFirstPaint(triesLeft - 1); });
        }
      });
}

void CReportViewerDlg::FindKeyword() {
  // Before the browser has a page there is nothing to search; the bar
  // simply finds nothing.
  findBar_->Open();
}

QString CReportViewerDlg::AskForDestination(const QString& title, const QString& suffix,
                                            const QString& filter) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
  QFileDialog dialog(this, title, folder, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(suffix);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.selectFile(QStringLiteral("Report.") + suffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void CReportViewerDlg::SaveAsPdf() {
  QString path = AskForDestination(QStringLiteral("Save as PDF"), QStringLiteral("pdf"),
                                   QStringLiteral("PDF files (*.pdf)"));
  if (!path.isEmpty()) ExportPdf(path);
}

void CReportViewerDlg::SaveAsCsv() {
  QString path = AskForDestination(QStringLiteral("Save as CSV"), QStringLiteral("csv"),
                                   QStringLiteral("CSV files (*.csv)"));
  if (!path.isEmpty() && !ExportCsv(path)) ShowMessage(this, kCsvFailed);
}

void CReportViewerDlg::ExportPdf(const QString& path) {
  QPageLayout layout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(12, 12, 12, 12),
                     QPageLayout::Millimeter);
  browser_->page()->printToPdf(path, layout);
}

bool CReportViewerDlg::ExportCsv(const QString& path) {
  // Every job of the period, from the document, not only those shown.
  return !reportPath_.empty() && common::ExportReportCsv(reportPath_, ToNative(path));
}
