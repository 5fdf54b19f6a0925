#include "platform/posix/cups_ipp.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

#include "platform/latin1.h"
#include "platform/status.h"

namespace platform::cups {

namespace {

// How long connecting to the print server may take.
constexpr int kConnectTimeoutMs = 30000;

}  // namespace

Connection::Connection() {
  http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectTimeoutMs,
                       nullptr);
  if (!http_) {
    // libcups leaves no reliable reason; a local socket that is not there
    // is the usual one (no scheduler running).
    const std::string server = cupsServer();
    int reason = 0;
    if (!server.empty() && server[0] == '/' && ::access(server.c_str(), F_OK) != 0) reason = errno;
    throw SpoolerError(kErrorServerUnavailable, "cannot reach the CUPS server " + server, reason);
  }
}

Connection::~Connection() {
  if (http_) httpClose(http_);
}

Ipp Connection::NewRequest(ipp_op_t op, const std::string& printerUri) {
  Ipp request(ippNewRequest(op));
  if (!printerUri.empty()) {
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri.c_str());
  }
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  return request;
}

Ipp Connection::Do(Ipp request, std::int32_t notFound) {
  const ipp_op_t op = ippGetOperation(request.get());
  // cupsDoRequest takes the request and frees it.
  Ipp response(cupsDoRequest(http_, request.release(), "/"));
  ipp_status_t status = cupsLastError();
  if (response && status <= IPP_STATUS_OK_EVENTS_COMPLETE) return response;
  // "CUPS Get-Jobs at localhost: No such file or directory". A broken
  // connection is worded with the system's text for whatever error number
  // is at hand, which may be "Success": then the IPP status says it.
  std::string reason = cupsLastErrorString() ? cupsLastErrorString() : "";
  if (reason.empty() || (status > IPP_STATUS_OK_EVENTS_COMPLETE && reason == "Success")) {
    reason = ippErrorString(status);
  }
  std::string message = std::string("CUPS ") + ippOpString(op) + " at " + cupsServer() + ": " + reason;
  switch (status) {
    case IPP_STATUS_ERROR_NOT_FOUND: throw SpoolerError(notFound, message);
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED:
    case IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED: throw SpoolerError(kErrorAccessDenied, message);
    case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
    case IPP_STATUS_ERROR_INTERNAL:
    case IPP_STATUS_ERROR_TEMPORARY:
    case IPP_STATUS_ERROR_BUSY: throw SpoolerError(kErrorServerUnavailable, message);
    default: throw SpoolerError(kErrorNotSupported, message);
  }
}

std::string PrinterUri(std::string_view latin1Name) {
  std::string name = Latin1ToUtf8(latin1Name);
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                   name.c_str());
  return uri;
}

const std::vector<const char*>& JobAttributes() {
  static const std::vector<const char*> names = {
      "job-id",
      "job-name",
      "job-originating-user-name",
      "job-state",
      "job-printer-state-message",
      "job-impressions",
      "job-impressions-completed",
      "job-media-sheets-completed",
      "time-at-creation",
      "time-at-completed",
      "copies",
  };
  return names;
}

std::uint32_t StatusOf(int state) {
  switch (state) {
    case kJobHeld: return kJobStatusPaused;
    case kJobProcessing: return kJobStatusPrinting;
    case kJobStopped: return kJobStatusPaused | kJobStatusBlockedDevq;
    case kJobCanceled: return kJobStatusDeleted;
    case kJobAborted: return kJobStatusError | kJobStatusDeleted;
    case kJobCompleted: return kJobStatusPrinted;
    default: return 0;
  }
}

namespace {

std::uint32_t Count(int value) { return value > 0 ? static_cast<std::uint32_t>(value) : 0; }

void Finish(CupsJob& cj, int impressions, int impressionsCompleted, int sheetsCompleted, int copies) {
  std::uint32_t printed = Count(impressionsCompleted);
  if (printed == 0) printed = Count(sheetsCompleted);
  cj.job.pagesPrinted = printed;
  // A job's pages are the pages actually printed, copies included: the
  // count the printer reported once the job has ended. The size a client
  // sent (job-impressions) is that of one copy; it stands in while the job
  // is queued, and for a job that ended without reporting any page.
  const std::uint32_t sized = Count(impressions) * std::max<std::uint32_t>(1, Count(copies));
  if (cj.Ended() && printed > 0) {
    cj.job.totalPages = printed;
  } else if (sized > 0) {
    cj.job.totalPages = sized;
  } else {
    cj.job.totalPages = cj.Ended() ? printed : 0;
  }
  cj.job.status = StatusOf(cj.state);
}

}  // namespace

void AddRequestedAttributes(ipp_t* request) {
  const auto& names = JobAttributes();
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(names.size()), nullptr, names.data());
}

std::vector<CupsJob> QueuedJobs(Connection& connection, const std::string& printerUri) {
  Ipp request = Connection::NewRequest(IPP_OP_GET_JOBS, printerUri);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  AddRequestedAttributes(request.get());
  return JobsOf(connection.Do(std::move(request), kErrorInvalidPrinterName).get());
}

std::vector<CupsJob> EndedJobs(Connection& connection, const std::string& printerUri) {
  Ipp request = Connection::NewRequest(IPP_OP_GET_JOBS, printerUri);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "completed");
  AddRequestedAttributes(request.get());
  std::vector<CupsJob> jobs = JobsOf(connection.Do(std::move(request), kErrorInvalidPrinterName).get());
  std::erase_if(jobs, [](const CupsJob& j) { return !j.Ended(); });
  std::sort(jobs.begin(), jobs.end(),
            [](const CupsJob& a, const CupsJob& b) { return a.job.jobId < b.job.jobId; });
  return jobs;
}

std::vector<CupsJob> EndedJobsFrom(Connection& connection, const std::string& printerUri,
                                   std::uint32_t firstId) {
  Ipp request = Connection::NewRequest(IPP_OP_GET_JOBS, printerUri);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "completed");
  ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "first-job-id", static_cast<int>(firstId));
  AddRequestedAttributes(request.get());
  std::vector<CupsJob> jobs = JobsOf(connection.Do(std::move(request), kErrorInvalidPrinterName).get());
  std::erase_if(jobs, [&](const CupsJob& j) { return j.job.jobId < firstId; });
  std::sort(jobs.begin(), jobs.end(),
            [](const CupsJob& a, const CupsJob& b) { return a.job.jobId < b.job.jobId; });
  return jobs;
}

std::optional<CupsJob> JobById(Connection& connection, const std::string& printerUri, std::uint32_t id) {
  Ipp request = Connection::NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, printerUri);
  ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", static_cast<int>(id));
  AddRequestedAttributes(request.get());
  try {
    auto jobs = JobsOf(connection.Do(std::move(request), kErrorInvalidParameter).get());
    if (!jobs.empty()) return std::move(jobs.front());
  } catch (const SpoolerError& e) {
    if (e.code() != kErrorInvalidParameter) throw;
  }
  return std::nullopt;
}

std::vector<CupsJob> JobsOf(ipp_t* response) {
  std::vector<CupsJob> jobs;
  CupsJob current;
  bool open = false;
  int impressions = 0, impressionsCompleted = 0, sheetsCompleted = 0, copies = 1;
  auto close = [&] {
    if (open && current.job.jobId != 0) {
      Finish(current, impressions, impressionsCompleted, sheetsCompleted, copies);
      jobs.push_back(std::move(current));
    }
    current = CupsJob{};
    open = false;
    impressions = impressionsCompleted = sheetsCompleted = 0;
    copies = 1;
  };
  for (ipp_attribute_t* attr = ippFirstAttribute(response); attr; attr = ippNextAttribute(response)) {
    const char* name = ippGetName(attr);
    if (!name || ippGetGroupTag(attr) != IPP_TAG_JOB) {
      close();
      continue;
    }
    open = true;
    std::string_view n(name);
    ipp_tag_t tag = ippGetValueTag(attr);
    bool integer = tag == IPP_TAG_INTEGER || tag == IPP_TAG_ENUM;
    bool text =
        tag == IPP_TAG_NAME || tag == IPP_TAG_TEXT || tag == IPP_TAG_NAMELANG || tag == IPP_TAG_TEXTLANG;
    if (n == "job-id" && integer) {
      current.job.jobId = Count(ippGetInteger(attr, 0));
    } else if (n == "job-state" && integer) {
      current.state = ippGetInteger(attr, 0);
    } else if (n == "job-impressions" && integer) {
      impressions = ippGetInteger(attr, 0);
    } else if (n == "job-impressions-completed" && integer) {
      impressionsCompleted = ippGetInteger(attr, 0);
    } else if (n == "job-media-sheets-completed" && integer) {
      sheetsCompleted = ippGetInteger(attr, 0);
    } else if (n == "copies" && integer) {
      copies = ippGetInteger(attr, 0);
    } else if (n == "time-at-creation" && integer) {
      current.job.submitted = ToSpoolTime(std::chrono::system_clock::from_time_t(ippGetInteger(attr, 0)));
    } else if (n == "time-at-completed" && integer && ippGetInteger(attr, 0) > 0) {
      current.job.completed = ToSpoolTime(std::chrono::system_clock::from_time_t(ippGetInteger(attr, 0)));
    } else if (text) {
      const char* value = ippGetString(attr, 0, nullptr);
      if (!value) continue;
      if (n == "job-name") {
        current.job.document = Utf8ToLatin1(value);
      } else if (n == "job-originating-user-name") {
        current.job.userName = Utf8ToLatin1(value);
      } else if (n == "job-printer-state-message" && *value) {
        current.job.statusText = Utf8ToLatin1(value);
      }
    }
  }
  close();
  return jobs;
}

}  // namespace platform::cups
