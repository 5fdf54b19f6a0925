#include "common/report_jobs.h"

#include "common/catalogue_text.h"

namespace common {
namespace {

// The text between `open` and the next `close` at or after `from` within
// `record`; false when either tag is missing.
bool Field(std::string_view record, std::string_view open, std::string_view close, std::size_t& from,
           std::string_view& value) {
  const std::size_t start = record.find(open, from);
  if (start == std::string_view::npos) return false;
  const std::size_t begin = start + open.size();
  const std::size_t end = record.find(close, begin);
  if (end == std::string_view::npos) return false;
  value = record.substr(begin, end - begin);
  from = end + close.size();
  return true;
}

int Number(std::string_view text) { return static_cast<int>(ParseLeadingInt(text)); }

}  // namespace

std::vector<ReportJob> ReadReportJobs(std::string_view text) {
  static constexpr std::string_view kOpen = "<event>";
  static constexpr std::string_view kClose = "</event>";
  std::vector<ReportJob> jobs;
  std::size_t pos = 0;
  while ((pos = text.find(kOpen, pos)) != std::string_view::npos) {
    const std::size_t end = text.find(kClose, pos + kOpen.size());
    if (end == std::string_view::npos) break;
    // A record cut short (a partial write) runs into the next one: only the
    // part up to the next "<event>" counts.
    const std::size_t next = text.find(kOpen, pos + kOpen.size());
    if (next != std::string_view::npos && next < end) {
      pos = next;
      continue;
    }
    const std::string_view record = text.substr(pos + kOpen.size(), end - pos - kOpen.size());
    pos = end + kClose.size();

    std::string_view day, month, year, hour, minute, doc, pages, cost, printer, user;
    std::size_t at = 0;
    if (!Field(record, "<day>", "</day>", at, day) || !Field(record, "<month>", "</month>", at, month) ||
        !Field(record, "<year>", "</year>", at, year) || !Field(record, "<hour>", "</hour>", at, hour) ||
        !Field(record, "<min>", "</min>", at, minute) || !Field(record, "<doc>", "</doc>", at, doc) ||
        !Field(record, "<pages>", "</pages>", at, pages) || !Field(record, "<cost>", "</cost>", at, cost) ||
        !Field(record, "<printer>", "</printer>", at, printer) ||
        !Field(record, "<user>", "</user>", at, user))
      continue;
    ReportJob job;
    job.day = Number(day);
    job.month = Number(month);
    job.year = Number(year);
    job.hour = Number(hour);
    job.minute = Number(minute);
    job.document = std::string(doc);
    job.pages = ParseLeadingInt(pages);
    job.cost = ParseLeadingInt(cost);
    job.printer = std::string(printer);
    job.user = std::string(user);
    jobs.push_back(std::move(job));
  }
  return jobs;
}

std::string ReportPeriodText(std::string_view documentText) {
  const std::size_t start = documentText.find("<period>");
  if (start == std::string_view::npos) return {};
  const std::size_t begin = start + 8;
  const std::size_t end = documentText.find("</period>", begin);
  if (end == std::string_view::npos) return {};
  return std::string(documentText.substr(begin, end - begin));
}

}  // namespace common
