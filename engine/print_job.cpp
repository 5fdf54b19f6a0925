#include "engine/print_job.h"

#include "engine/submitted_time.h"

namespace engine {

PrintJob PrintJob::FromSpooler(const platform::SpoolJob& job) {
  PrintJob out;
  out.jobId = job.jobId;
  out.document = job.document;
  out.userName = job.userName;
  out.statusText = job.statusText;
  out.status = job.status;
  out.pagesPrinted = job.pagesPrinted;
  out.totalPages = job.totalPages;
  out.submitted = UtcToLocalTime(job.submitted);
  return out;
}

PrintJob PrintJob::Blank(std::uint32_t jobId) {
  PrintJob out;
  out.jobId = jobId;
  return out;
}

}  // namespace engine
