#pragma once

// Every job of a report as CSV (RFC 4180: CR LF row ends, fields with a
// comma, quote or line break quoted, quotes doubled), UTF-8. A header row
// "Date,Time,Document,Pages,Cost (cents),Printer,User" comes first; dates
// are written YYYY-MM-DD and times HH:MM.
//
// How to call ("Save as CSV"):
//   if (!common::ExportReportCsv(docPath, chosenPath)) ... cannot write

#include <string>
#include <vector>

#include "common/report_jobs.h"

namespace common {

std::string ReportJobsToCsv(const std::vector<ReportJob>& jobs);

// Reads the document (or log file) at `sourcePath` and writes all its jobs
// to `csvPath`, replaced in one step. False when either file fails.
bool ExportReportCsv(const std::string& sourcePath, const std::string& csvPath);

}  // namespace common
