#pragma once

// A report document rendered to HTML in-process with libxslt, following the
// stylesheet its own header names (the xml-stylesheet processing
// instruction, looked up beside the document), with EXSLT available.
//
// How to call (console):
//   common::ReportResult html = common::TransformReportFile(
//       docPath, common::ReportHtmlPath(docPath));    // ".../Logs/DisplayReport.html"
//   if (html) view.load(QUrl::fromLocalFile(QString::fromStdString(html.documentPath)));
// In memory (quillmark-report): TransformReportBytes(bytes, logsFolder).

#include <cstddef>
#include <string>
#include <string_view>

#include "common/report_assembly.h"

namespace common {

struct TransformOptions {
  // The job list shows at most this many of the newest jobs (the
  // stylesheets' "max-jobs" parameter).
  std::size_t maxJobs = 1000;
  // Where the stylesheet the document names is looked up; empty: beside
  // the document. The console keeps its documents in a folder of the
  // user's own, while the stylesheets stay in "<app>/Logs".
  std::string stylesheetFolder;
};

// The HTML path beside a document: "DisplayReport.xml" -> "DisplayReport.html".
std::string ReportHtmlPath(const std::string& documentPath);

// Transforms the document file and writes the HTML to `htmlPath`, replaced
// in one step. On failure `message` says what went wrong (a technical text:
// unreadable document, stylesheet missing or broken).
ReportResult TransformReportFile(const std::string& documentPath, const std::string& htmlPath,
                                 const TransformOptions& options = {});

// Transforms a document held in memory; the stylesheet is looked up in
// `stylesheetFolder` (normally "<app>/Logs"). The HTML is in `bytes`.
ReportResult TransformReportBytes(std::string_view documentBytes, const std::string& stylesheetFolder,
                                  const TransformOptions& options = {});

}  // namespace common
