#pragma once

// The jobs of a report document or a log file, read back from their event
// records by substring search, the way every reader of these files works.
// Texts stay as stored (Latin-1).

#include <string>
#include <string_view>
#include <vector>

namespace common {

struct ReportJob {
  int day = 0;
  int month = 0;
  int year = 0;
  int hour = 0;
  int minute = 0;
  std::string document;
  long long pages = 0;
  long long cost = 0;  // cents
  std::string printer;
  std::string user;
};

// Every complete "<event>...</event>" record of `text` (a log file or a
// document, CR LF or LF), in file order. A damaged record is skipped.
std::vector<ReportJob> ReadReportJobs(std::string_view text);

// The text of the document's "<period>" element; empty when there is none.
std::string ReportPeriodText(std::string_view documentText);

}  // namespace common
