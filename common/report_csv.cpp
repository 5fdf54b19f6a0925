#include "common/report_csv.h"

#include <cstdio>
#include <optional>

#include "common/latin1.h"
#include "platform/file_system.h"
#include "platform/log.h"

namespace common {
namespace {

void AppendField(std::string& out, std::string_view latin1) {
  const std::string text = Latin1ToUtf8(latin1);
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

std::string ReportJobsToCsv(const std::vector<ReportJob>& jobs) {
  std::string out = "Date,Time,Document,Pages,Cost (cents),Printer,User\r\n";
  out.reserve(out.size() + jobs.size() * 96);
  char stamp[64];
  for (const ReportJob& job : jobs) {
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d,%02d:%02d,", job.year, job.month, job.day, job.hour,
                  job.minute);
    out += stamp;
    AppendField(out, job.document);
    out += ',';
    out += std::to_string(job.pages);
    out += ',';
    out += std::to_string(job.cost);
    out += ',';
    AppendField(out, job.printer);
    out += ',';
    AppendField(out, job.user);
    out += "\r\n";
  }
  return out;
}

bool ExportReportCsv(const std::string& sourcePath, const std::string& csvPath) {
  const platform::Result<std::string> text = platform::ReadFileBytes(sourcePath);
  if (!text) {
    platform::LogWarning("CSV not saved", text.Status());
    return false;
  }
  if (platform::Status written = platform::ReplaceFileBytes(csvPath, ReportJobsToCsv(ReadReportJobs(*text)));
      !written) {
    platform::LogWarning("CSV not saved", written);
    return false;
  }
  return true;
}

}  // namespace common
