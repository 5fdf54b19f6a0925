#pragma once

// The twelve report periods and the three report scopes: which log file a
// report of a period reads, and the header and period element its document
// starts with.
//
// How to call:
//   auto period = common::ReportPeriodFromLabel("Last month");   // nullopt if unknown
//   common::PeriodFile f = common::ResolvePeriodFile(*period, common::ReportScope::kUser,
//                                                    appPath, "anna", clock);
//   // f.path: native path of the log file, f.periodElement: "<period>02/2006</period>"
//   // then AssembleReportDocument(f.path, ReportHeaderText(scope), f.periodElement, ...)

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace platform {
class Clock;
}

namespace common {

enum class ReportPeriod {
  kToday,
  kYesterday,
  kThisWeek,
  kLastWeek,
  kThisMonth,
  kLastMonth,
  kThisQuarter,
  kLastQuarter,
  kThisSemester,
  kLastSemester,
  kThisYear,
  kLastYear,
};

// The labels in list order; index i is ReportPeriod(i).
inline constexpr std::array<std::string_view, 12> kReportPeriodLabels = {
    "Today",        "Yesterday",    "This week",     "Last week",     "This month", "Last month",
    "This quarter", "Last quarter", "This semester", "Last semester", "This year",  "Last year",
};

// Exact, case-sensitive match of a label; nothing for any other text.
std::optional<ReportPeriod> ReportPeriodFromLabel(std::string_view label);
std::string_view ReportPeriodLabel(ReportPeriod period);

enum class ReportScope {
  kPrinter,      // one printer's folder, "Logs\Printers\Printer_<ID>"
  kUser,         // one user's folder, "Logs\Users\<user>"
  kAllPrinting,  // "Logs" itself
};

// The document header of a scope: XML declaration, the scope's stylesheet
// ("printers.xsl", "users.xsl", "style.xsl") and "<log>".
std::string_view ReportHeaderText(ReportScope scope);

struct PeriodFile {
  std::string path;           // native path of the period's log file
  std::string periodElement;  // "<period>...</period>"
};

// The log file and period element of `period` in `scope`, from one reading
// of the local time `now`.
//   appPath:  the application folder, without a trailing separator.
//   scopeKey: Printer scope: the printer's identifier from the catalogue;
//             User scope: the user name as stored (Latin-1), mapped to its
//             folder with the log store's own SafeFolderName, so the path
//             never leaves "Logs"; AllPrinting: ignored.
PeriodFile ResolvePeriodFile(ReportPeriod period, ReportScope scope, const std::string& appPath,
                             std::string_view scopeKey, std::time_t now);
PeriodFile ResolvePeriodFile(ReportPeriod period, ReportScope scope, const std::string& appPath,
                             std::string_view scopeKey, platform::Clock& clock);

// The identifier of the printer named exactly `printerName` in the catalogue
// text (the last matching entry wins; the monitored flag is not consulted);
// empty when the printer has no entry.
std::string ReportPrinterId(std::string_view catalogueText, std::string_view printerName);

}  // namespace common
