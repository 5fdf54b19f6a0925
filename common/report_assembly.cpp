#include "common/report_assembly.h"

#include <algorithm>
#include <optional>

#include "common/catalogue_file.h"
#include "common/name_filter.h"
#include "common/report_messages.h"
#include "common/text_file.h"
#include "platform/file_system.h"

namespace common {
namespace {

ReportResult Failure(std::string_view message, platform::Status why = {}) {
  ReportResult r;
  r.message = std::string(message);
  r.why = std::move(why);
  return r;
}

std::string DocumentHeader(std::string_view headerText, std::string_view periodElement) {
  std::string header(headerText);
  header += periodElement;
  return header;
}

}  // namespace

std::string DisplayReportPath(const std::string& appPath) {
  return NativePath(appPath + "\\Logs\\DisplayReport.xml");
}

namespace {

// The log file's bytes with the header written over the start of the
// reservation; "</log>" is still to follow.
ReportResult CompletedHead(const std::string& logPath, std::string_view headerText,
                           std::string_view periodElement) {
  if (!platform::FileExists(logPath)) return Failure(kReportMissing);
  platform::Result<std::string> log = platform::ReadFileBytes(logPath);
  if (!log) return Failure(kReportCannotBeDisplayed, log.status());

  const std::string header = DocumentHeader(headerText, periodElement);
  // A file too short to hold the reservation, or with something other than
  // blanks where the header would land, has been damaged: writing the
  // header over it would destroy a record, so it is not shown.
  if (log->size() < kLogReservation || header.size() > kLogReservation ||
      !std::all_of(log->begin(), log->begin() + static_cast<std::ptrdiff_t>(header.size()),
                   [](char c) { return c == ' '; }))
    return Failure(kReportCannotBeDisplayed,
                   platform::Status(platform::StatusCode::kInvalidArgument, "the header space of " + logPath + " is damaged"));

  ReportResult r;
  r.ok = true;
  r.bytes = std::move(*log);
  r.bytes.replace(0, header.size(), header);
  return r;
}

constexpr std::string_view kDocumentEnd = "</log>";

}  // namespace

ReportResult AssembleReportBytes(const std::string& logPath, std::string_view headerText,
                                 std::string_view periodElement) {
  ReportResult r = CompletedHead(logPath, headerText, periodElement);
  if (r) r.bytes += kDocumentEnd;
  return r;
}

ReportResult AssembleReportDocument(const std::string& logPath, std::string_view headerText,
                                    std::string_view periodElement,
                                    const std::string& documentPath) {
  ReportResult r = CompletedHead(logPath, headerText, periodElement);
  if (!r) return r;
  // Completed in a temporary file and renamed into place: another console or
  // quillmark-report showing the same document reads it whole.
  if (platform::Status written = platform::PublishFileBytes(documentPath, {r.bytes, kDocumentEnd}); !written)
    return Failure(kReportCannotBeDisplayed, written);
  r.bytes = std::string();
  r.documentPath = documentPath;
  return r;
}

namespace {

struct ResolvedRequest {
  std::optional<PeriodFile> file;
  std::string message;
};

ResolvedRequest ResolveRequest(const std::string& appPath, const ReportRequest& request,
                               platform::Clock& clock) {
  std::string key;
  if (request.scope == ReportScope::Printer) {
    const std::string catalogue = ReadCatalogue(NativePath(appPath + "\\settings.xml"));
    key = ReportPrinterId(catalogue, CleanXmlName(request.name));
    if (key.empty())
      return {std::nullopt, std::string(request.defaultPrinter ? kReportDefaultPrinterNotMonitored
                                                               : kReportPrinterNotMonitored)};
  } else if (request.scope == ReportScope::User) {
    key = request.name;
  }
  return {ResolvePeriodFile(request.period, request.scope, appPath, key, clock), {}};
}

}  // namespace

ReportResult AssembleReport(const std::string& appPath, const ReportRequest& request,
                            platform::Clock& clock, const std::string& documentPath) {
  const ResolvedRequest resolved = ResolveRequest(appPath, request, clock);
  if (!resolved.file) return Failure(resolved.message);
  return AssembleReportDocument(resolved.file->path, ReportHeaderText(request.scope),
                                resolved.file->periodElement, documentPath);
}

ReportResult AssembleReportInMemory(const std::string& appPath, const ReportRequest& request,
                                    platform::Clock& clock) {
  const ResolvedRequest resolved = ResolveRequest(appPath, request, clock);
  if (!resolved.file) return Failure(resolved.message);
  return AssembleReportBytes(resolved.file->path, ReportHeaderText(request.scope),
                             resolved.file->periodElement);
}

}  // namespace common
