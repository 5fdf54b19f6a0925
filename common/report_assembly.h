#pragma once

// Report assembly: a period log file made into a complete XML document. The
// log file's bytes are taken as they stand; the header and period element
// are written over the start of its 525-space reservation and "</log>" is
// appended. Records are never moved or changed.
//
// How to call (console, "Logs/DisplayReport.xml"):
//   common::ReportRequest request{common::ReportPeriod::kToday, common::ReportScope::kPrinter,
//                                 printerName};
//   common::ReportResult r = common::AssembleReport(appPath, request, clock,
//                                                   common::DisplayReportPath(appPath));
//   if (!r) ShowMessage(r.message);         // one of the texts of report_messages.h
//   else    view r.documentPath (after TransformReportFile, see report_transform.h)
// Lower level: AssembleReportDocument(logPath, header, periodElement, destination).
// Without any file written (quillmark-report): AssembleReportBytes(...).

#include <cstddef>
#include <string>
#include <string_view>

#include "common/report_periods.h"
#include "platform/status.h"

namespace platform {
class Clock;
}

namespace common {

// The reservation every log file starts with.
inline constexpr std::size_t kLogReservation = 525;

struct ReportResult {
  bool ok = false;
  // On failure: the exact text to show. Empty on success.
  std::string message;
  // On a failure shown with a generic text: what failed and why, for the
  // log (the reports tool shows the text alone).
  platform::Status why;
  // On success: where the document was written (file variants only).
  std::string documentPath;
  // On success of AssembleReportBytes: the document itself.
  std::string bytes;

  explicit operator bool() const { return ok; }
};

// Native path of "<app>\Logs\DisplayReport.xml".
std::string DisplayReportPath(const std::string& appPath);

// The document for `logPath` in memory.
// Fails with kReportMissing when the log file does not exist, and with
// kReportCannotBeDisplayed when it cannot be read, is shorter than the
// reservation, or its reservation does not hold blanks where the header
// would go (a damaged file would otherwise lose a record under the header).
ReportResult AssembleReportBytes(const std::string& logPath, std::string_view headerText,
                                 std::string_view periodElement);

// The same, written to `documentPath`: a temporary file beside it is
// completed and renamed over it in one step, so a reader never sees a
// half-written document. Fails with kReportCannotBeDisplayed when the
// document cannot be written.
ReportResult AssembleReportDocument(const std::string& logPath, std::string_view headerText,
                                    std::string_view periodElement, const std::string& documentPath);

// What a person asks for: a period, a scope and, for the printer and user
// scopes, the printer's or the user's name as stored (Latin-1).
struct ReportRequest {
  ReportPeriod period = ReportPeriod::kToday;
  ReportScope scope = ReportScope::kAllPrinting;
  std::string name;
  // Printer scope: the name is the default printer's (status page), which
  // changes the text shown when it has no catalogue entry.
  bool defaultPrinter = false;
};

// Resolves the request (the printer's identifier from "<app>/settings.xml",
// kReportPrinterNotMonitored or kReportDefaultPrinterNotMonitored when it
// has none), then assembles the period's document into `documentPath`.
ReportResult AssembleReport(const std::string& appPath, const ReportRequest& request, platform::Clock& clock,
                            const std::string& documentPath);
// The same, in memory only (ReportResult::bytes).
ReportResult AssembleReportInMemory(const std::string& appPath, const ReportRequest& request,
                                    platform::Clock& clock);

}  // namespace common
