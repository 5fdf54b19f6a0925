#pragma once

// Totals of a report and their breakdown per user or per printer, as a
// plain-text table (UTF-8) for terminals and scripts.

#include <string>
#include <string_view>
#include <vector>

#include "common/report_jobs.h"
#include "common/report_periods.h"

namespace common {

struct ReportTotals {
  long long jobs = 0;
  long long pages = 0;
  long long cost = 0;  // cents
};

struct ReportBreakdownRow {
  std::string name;  // user or printer, Latin-1 as stored
  ReportTotals totals;
};

struct ReportSummary {
  std::string period;  // the period element's text
  ReportTotals totals;
  bool byPrinter = false;                // rows are printers (user reports) or users
  std::vector<ReportBreakdownRow> rows;  // highest cost first, then by name
};

// Printer and all-printing reports break down by user, user reports by
// printer.
ReportSummary SummarizeReport(std::string_view documentText, ReportScope scope);

// Cents as currency units with two decimals: 1234 -> "12.34", -5 -> "-0.05".
std::string FormatCents(long long cents);

// The summary as a table: period line, totals, then one line per row.
std::string FormatReportSummary(const ReportSummary& summary);

}  // namespace common
