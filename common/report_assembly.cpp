#include "common/report_assembly.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "common/catalogue_file.h"
#include "common/name_filter.h"
#include "common/report_messages.h"
#include "common/text_file.h"
#include "platform/file_system.h"
#include "platform/log.h"
#include "platform/replacement_file.h"

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
  if (!log) return Failure(kReportCannotBeDisplayed, log.Status());

  const std::string header = DocumentHeader(headerText, periodElement);
  // A file too short to hold the reservation, or with something other than
  // blanks where the header would land, has been damaged: writing the
  // header over it would destroy a record, so it is not shown.
  if (log->size() < kLogReservation || header.size() > kLogReservation ||
      !std::all_of(log->begin(), log->begin() + static_cast<std::ptrdiff_t>(header.size()),
                   [](char c) { return c == ' '; }))
    return Failure(kReportCannotBeDisplayed,
                   platform::Status(platform::StatusCode::kInvalidArgument,
                                    "the header space of " + logPath + " is damaged"));

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
                                    std::string_view periodElement, const std::string& documentPath) {
  if (!platform::FileExists(logPath)) return Failure(kReportMissing);
  const std::string header = DocumentHeader(headerText, periodElement);
  auto damaged = [&] {
    return Failure(kReportCannotBeDisplayed,
                   platform::Status(platform::StatusCode::kInvalidArgument,
                                    "the header space of " + logPath + " is damaged"));
  };
  if (header.size() > kLogReservation) return damaged();

  // Completed in a temporary copy and moved into place in one step: another
  // console or quillmark-report showing the same document reads it whole.
  // The log is copied by the system, not through memory; the checks look at
  // the copy, which is what will be shown even if the log grew or was
  // changed meanwhile.
  // The reason goes to the caller, which logs it (or shows it) once.
  auto fail = [&](const platform::Status& status) { return Failure(kReportCannotBeDisplayed, status); };
  platform::Result<platform::ReplacementFile> document = platform::ReplacementFile::Create(documentPath);
  if (!document) return fail(document.Status());
  const platform::Result<std::uint64_t> copied = document->CopyFrom(logPath);
  if (!copied) return fail(copied.Status());
  // A file too short to hold the reservation, or with something other than
  // blanks where the header would land, has been damaged: writing the
  // header over it would destroy a record, so it is not shown.
  if (*copied < kLogReservation) return damaged();
  const platform::Result<std::string> head = document->ReadAt(0, header.size());
  if (!head) return fail(head.Status());
  if (head->size() != header.size() ||
      !std::all_of(head->begin(), head->end(), [](char c) { return c == ' '; }))
    return damaged();
  if (platform::Status s = document->WriteAt(0, header); !s) return fail(s);
  if (platform::Status s = document->Append(kDocumentEnd); !s) return fail(s);
  // Made again on demand, so not flushed; the replaced document, as large
  // as the log, is freed after the caller has its own.
  if (platform::Status s = document->Commit(platform::ReplacementFile::OldFile::kRemoveLater); !s)
    return fail(s);
  ReportResult r;
  r.ok = true;
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
  if (request.scope == ReportScope::kPrinter) {
    const std::string catalogue = ReadCatalogue(NativePath(appPath + "\\settings.xml"));
    key = ReportPrinterId(catalogue, CleanXmlName(request.name));
    if (key.empty())
      return {std::nullopt, std::string(request.defaultPrinter ? kReportDefaultPrinterNotMonitored
                                                               : kReportPrinterNotMonitored)};
  } else if (request.scope == ReportScope::kUser) {
    key = request.name;
  }
  return {ResolvePeriodFile(request.period, request.scope, appPath, key, clock), {}};
}

}  // namespace

ReportResult AssembleReport(const std::string& appPath, const ReportRequest& request, platform::Clock& clock,
                            const std::string& documentPath) {
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
