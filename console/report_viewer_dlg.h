#pragma once

#include <QString>
#include <string>
#include <thread>

#include "console/resize_dlg.h"

class CFindBar;
class CSkinButton;
class QWebEngineView;

// The report viewer: a resizable dialog with the report in an embedded
// browser, a find bar over it, "Save as PDF" and "Save as CSV" on the lower
// left, find and close on the lower right.
//
// The browser never applies the stylesheet itself: the document is turned
// into HTML in-process (written beside it as "DisplayReport.html") and the
// browser loads that file. The transform runs on a worker thread while the
// browser starts up behind a "Preparing" page.
class CReportViewerDlg : public CResizeDlg {
  Q_OBJECT

 public:
  explicit CReportViewerDlg(QWidget* parent = nullptr);
  ~CReportViewerDlg() override;

  // The report document to show (a plain file path). Set once, before the
  // dialog is shown.
  void SetReportPath(std::string path);
  const std::string& ReportPath() const { return reportPath_; }
  // Where the stylesheet the document names is found, when not beside it
  // (the console's documents are in the user's own folder, the
  // stylesheets in the application folder's Logs).
  void SetStylesheetFolder(std::string folder) { stylesheetFolder_ = std::move(folder); }
  // The HTML the browser loads; empty until the document was transformed.
  const std::string& HtmlPath() const { return htmlPath_; }

  // Opens the find bar over the report (the find button).
  void FindKeyword();

  // The export buttons: ask where to save, then save.
  void SaveAsPdf();
  void SaveAsCsv();
  // Saves without asking. The PDF is written in the background and ends
  // with PdfSaved; CSV returns whether the file was written.
  void ExportPdf(const QString& path);
  bool ExportCsv(const QString& path);

  QWebEngineView* Browser() const { return browser_; }
  CFindBar* FindBar() const { return findBar_; }
  bool Painted() const { return painted_; }
  // Why the report is not shown; empty while it is being prepared or shown.
  const QString& Failure() const { return failure_; }

 signals:
  // The report page finished loading and one frame of it was drawn.
  void ReportPainted();
  // The report could not be loaded; the browser shows why.
  void ReportFailed(const QString& why);
  void PdfSaved(const QString& path, bool ok);

 protected:
  void OnInitDialog() override;

 private:
  void LoadReport();
  void ShowHtml(const std::string& htmlPath, const std::string& failure);
  void ShowFailure(const QString& why);
  void WaitForFirstPaint();
  void PollFirstPaint(int triesLeft);
  QString AskForDestination(const QString& title, const QString& suffix, const QString& filter);

  std::string reportPath_;
  std::string stylesheetFolder_;
  std::string htmlPath_;
  QWebEngineView* browser_ = nullptr;
  CFindBar* findBar_ = nullptr;
  CSkinButton* find_ = nullptr;
  CSkinButton* close_ = nullptr;
  CSkinButton* savePdf_ = nullptr;
  CSkinButton* saveCsv_ = nullptr;
  QString failure_;
  bool reportLoading_ = false;
  bool painted_ = false;
  // Declared last: joined before anything it reports to goes away.
  std::jthread transform_;
};
