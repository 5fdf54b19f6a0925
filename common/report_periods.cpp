#include "common/report_periods.h"

#include <chrono>

#include "common/catalogue_text.h"
#include "common/name_filter.h"
#include "common/period_keys.h"
#include "common/text_file.h"
#include "platform/clock.h"
#include "platform/local_time.h"

namespace common {
namespace {

constexpr std::string_view kPrinterHeader =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><?xml-stylesheet href='printers.xsl' "
    "type='text/xsl'?><log>";
constexpr std::string_view kUserHeader =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><?xml-stylesheet href='users.xsl' "
    "type='text/xsl'?><log>";
constexpr std::string_view kAllHeader =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><?xml-stylesheet href='style.xsl' "
    "type='text/xsl'?><log>";

std::string Element(std::string_view text) { return "<period>" + std::string(text) + "</period>"; }

std::string Num(int v) { return std::to_string(v); }

// "%0.2d/%0.2d/%d" of month, day, year.
std::string DayText(int year, int month, int day) {
  return MonthKey(month) + "/" + MonthKey(day) + "/" + Num(year);
}

// The calendar day before `now`'s local date. Stepping back 86400 seconds
// would land two days back shortly after the midnight that follows the
// 23-hour day at the start of summer time.
LocalDateTime DayBefore(std::time_t now) {
  const LocalDateTime today = ToLocalDateTime(now);
  return ToLocalDateTime(std::chrono::system_clock::to_time_t(
      platform::FromLocalTime(today.year, today.month, today.day - 1, 12, 0, 0)));
}

struct StemAndElement {
  std::string kind;  // "d", "w", ...
  std::string stem;
  std::string element;
};

StemAndElement Resolve(ReportPeriod period, bool userScope, std::time_t now) {
  const LocalDateTime t = ToLocalDateTime(now);
  const int year = t.year;
  const int month = t.month;
  switch (period) {
    case ReportPeriod::kToday:
      return {"d", DayStamp(year, month, t.day), Element(DayText(year, month, t.day))};
    case ReportPeriod::kYesterday: {
      const LocalDateTime y = DayBefore(now);
      return {"d", DayStamp(y.year, y.month, y.day), Element(DayText(y.year, y.month, y.day))};
    }
    case ReportPeriod::kThisWeek:
    case ReportPeriod::kLastWeek: {
      int week = WeekNumber(now);
      int weekYear = year;
      if (period == ReportPeriod::kLastWeek) {
        if (week == 1) {
          week = 53;
          weekYear = year - 1;
        } else {
          week -= 1;
        }
      }
      const std::string stem = std::to_string(week) + "_" + std::to_string(weekYear);
      std::string element;
      if (userScope)
        element = Element("Week " + Num(week) + " of " + Num(weekYear));
      else
        element =
            period == ReportPeriod::kThisWeek ? "<period>This Week</period>" : "<period>Last Week</period>";
      return {"w", stem, element};
    }
    case ReportPeriod::kThisMonth:
    case ReportPeriod::kLastMonth: {
      int m = month;
      int y = year;
      if (period == ReportPeriod::kLastMonth) {
        if (m == 1) {
          m = 12;
          y -= 1;
        } else {
          m -= 1;
        }
      }
      return {"m", MonthKey(m) + "_" + std::to_string(y), Element(MonthKey(m) + "/" + Num(y))};
    }
    case ReportPeriod::kThisQuarter:
    case ReportPeriod::kLastQuarter: {
      int q = (month - 1) / 3 + 1;
      int y = year;
      if (period == ReportPeriod::kLastQuarter) {
        if (q == 1) {
          q = 4;
          y -= 1;
        } else {
          q -= 1;
        }
      }
      return {"q", std::to_string(q) + "_" + std::to_string(y),
              Element("Quarter " + Num(q) + "  of " + Num(y))};
    }
    case ReportPeriod::kThisSemester:
    case ReportPeriod::kLastSemester: {
      int s = month <= 6 ? 1 : 2;
      int y = year;
      if (period == ReportPeriod::kLastSemester) {
        if (s == 1) {
          s = 2;
          y -= 1;
        } else {
          s = 1;
        }
      }
      return {"s", std::to_string(s) + "_" + std::to_string(y),
              Element((s == 1 ? "1st Semester of " : "2nd Semester of ") + Num(y))};
    }
    case ReportPeriod::kThisYear: return {"y", std::to_string(year), Element(Num(year))};
    case ReportPeriod::kLastYear: return {"y", std::to_string(year - 1), Element(Num(year - 1))};
  }
  return {"d", DayStamp(year, month, t.day), Element(DayText(year, month, t.day))};
}

}  // namespace

std::optional<ReportPeriod> ReportPeriodFromLabel(std::string_view label) {
  for (std::size_t i = 0; i < kReportPeriodLabels.size(); ++i) {
    if (kReportPeriodLabels[i] == label) return static_cast<ReportPeriod>(i);
  }
  return std::nullopt;
}

std::string_view ReportPeriodLabel(ReportPeriod period) {
  return kReportPeriodLabels[static_cast<std::size_t>(period)];
}

std::string_view ReportHeaderText(ReportScope scope) {
  switch (scope) {
    case ReportScope::kPrinter: return kPrinterHeader;
    case ReportScope::kUser: return kUserHeader;
    case ReportScope::kAllPrinting: return kAllHeader;
  }
  return kAllHeader;
}

PeriodFile ResolvePeriodFile(ReportPeriod period, ReportScope scope, const std::string& appPath,
                             std::string_view scopeKey, std::time_t now) {
  const StemAndElement r = Resolve(period, scope == ReportScope::kUser, now);
  std::string folder = "\\Logs";
  // The same folder names the log store writes: a name that could climb out
  // of "Logs" is mapped, never used as it stands.
  if (scope == ReportScope::kPrinter)
    folder += "\\Printers\\" + SafeFolderName("Printer_" + std::string(scopeKey));
  else if (scope == ReportScope::kUser)
    folder += "\\Users\\" + SafeFolderName(CleanXmlName(scopeKey));
  PeriodFile file;
  file.path = NativePath(appPath + folder + "\\" + r.kind + "_" + r.stem + ".xml");
  file.periodElement = r.element;
  return file;
}

PeriodFile ResolvePeriodFile(ReportPeriod period, ReportScope scope, const std::string& appPath,
                             std::string_view scopeKey, platform::Clock& clock) {
  return ResolvePeriodFile(period, scope, appPath, scopeKey,
                           std::chrono::system_clock::to_time_t(clock.Now()));
}

std::string ReportPrinterId(std::string_view catalogueText, std::string_view printerName) {
  return FindPrinterId(catalogueText, printerName);
}

}  // namespace common
