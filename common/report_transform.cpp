#include "common/report_transform.h"

#include <libexslt/exslt.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <cstdarg>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>

#include "common/text_file.h"
#include "platform/file_system.h"
#include "platform/log.h"

namespace common {
namespace {

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct StyleFree {
  void operator()(xsltStylesheet* s) const { xsltFreeStylesheet(s); }
};
struct ContextFree {
  void operator()(xsltTransformContext* c) const { xsltFreeTransformContext(c); }
};
struct SecurityFree {
  void operator()(xsltSecurityPrefs* p) const { xsltFreeSecurityPrefs(p); }
};
struct XmlCharFree {
  void operator()(xmlChar* p) const { xmlFree(p); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;
using StylePtr = std::unique_ptr<xsltStylesheet, StyleFree>;

// libxml2 reports through a callback of the calling thread, libxslt through
// a process-wide one; while a transform runs, what they say is collected for
// the thread that runs it instead of being printed.
thread_local std::string* errorSink = nullptr;

void CollectError(void*, const char* format, ...) {
  if (!errorSink) return;
  char buf[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (errorSink->size() < 4096) *errorSink += buf;
}

class ErrorCapture {
 public:
  explicit ErrorCapture(std::string& sink) : previous_(errorSink) {
    errorSink = &sink;
    xmlSetGenericErrorFunc(nullptr, CollectError);
    xsltSetGenericErrorFunc(nullptr, CollectError);
  }
  ~ErrorCapture() { errorSink = previous_; }
  ErrorCapture(const ErrorCapture&) = delete;
  ErrorCapture& operator=(const ErrorCapture&) = delete;

 private:
  std::string* previous_;
};

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    exsltRegisterAll();
  });
}

ReportResult Failure(std::string message, const std::string& detail) {
  ReportResult r;
  r.message = std::move(message);
  if (!detail.empty()) {
    r.message += ": ";
    r.message += detail;
    while (!r.message.empty() && (r.message.back() == '\n' || r.message.back() == ' ')) r.message.pop_back();
  }
  return r;
}

// The document's stylesheet applied; `doc`'s URL decides where the
// stylesheet named by its processing instruction is looked up.
ReportResult Transform(xmlDoc* doc, const TransformOptions& options, std::string& errors) {
  StylePtr style(xsltLoadStylesheetPI(doc));
  if (!style) return Failure("The report's stylesheet could not be loaded", errors);

  // A stylesheet only reads: it may neither write files nor reach the network.
  std::unique_ptr<xsltSecurityPrefs, SecurityFree> prefs(xsltNewSecurityPrefs());
  std::unique_ptr<xsltTransformContext, ContextFree> context(xsltNewTransformContext(style.get(), doc));
  if (!prefs || !context) return Failure("Out of memory", {});
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
  xsltSetCtxtSecurityPrefs(prefs.get(), context.get());

  const std::string maxJobs = std::to_string(options.maxJobs);
  const char* params[] = {"max-jobs", maxJobs.c_str(), nullptr};
  DocPtr result(xsltApplyStylesheetUser(style.get(), doc, params, nullptr, nullptr, context.get()));
  if (!result || context->state != XSLT_STATE_OK) return Failure("The report's stylesheet failed", errors);

  xmlChar* raw = nullptr;
  int size = 0;
  if (xsltSaveResultToString(&raw, &size, result.get(), style.get()) != 0)
    return Failure("The report could not be written", errors);
  std::unique_ptr<xmlChar, XmlCharFree> owned(raw);
  ReportResult r;
  r.ok = true;
  if (raw)
    r.bytes =
        ToTextMode(std::string_view(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(size)));
  return r;
}

}  // namespace

std::string ReportHtmlPath(const std::string& documentPath) {
  const std::size_t slash = documentPath.find_last_of("/\\");
  const std::size_t dot = documentPath.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return documentPath + ".html";
  return documentPath.substr(0, dot) + ".html";
}

ReportResult TransformReportFile(const std::string& documentPath, const std::string& htmlPath,
                                 const TransformOptions& options) {
  InitOnce();
  std::string errors;
  ErrorCapture capture(errors);
  DocPtr doc(xmlReadFile(documentPath.c_str(), nullptr,
                         XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOBLANKS | XML_PARSE_COMPACT));
  if (!doc) return Failure("The report document could not be read", errors);
  if (!options.stylesheetFolder.empty()) {
    // Taken as if it lay in that folder, so that its relative stylesheet
    // reference resolves there.
    const std::string base = options.stylesheetFolder + "/DisplayReport.xml";
    xmlFree(const_cast<xmlChar*>(doc->URL));
    doc->URL = xmlStrdup(reinterpret_cast<const xmlChar*>(base.c_str()));
  }
  ReportResult r = Transform(doc.get(), options, errors);
  if (!r) return r;
  if (platform::Status written = platform::PublishFileBytes(htmlPath, {r.bytes}); !written) {
    platform::LogWarning("report page not written", written);
    return Failure("The report could not be written to " + htmlPath, {});
  }
  r.bytes.clear();
  r.bytes.shrink_to_fit();
  r.documentPath = htmlPath;
  return r;
}

ReportResult TransformReportBytes(std::string_view documentBytes, const std::string& stylesheetFolder,
                                  const TransformOptions& options) {
  InitOnce();
  std::string errors;
  ErrorCapture capture(errors);
  // The document is taken as if it lay in `stylesheetFolder`, so that its
  // relative stylesheet reference resolves there.
  if (documentBytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
    return Failure("The report document is too large", {});
  const std::string base = stylesheetFolder + "/DisplayReport.xml";
  DocPtr doc(xmlReadMemory(documentBytes.data(), static_cast<int>(documentBytes.size()), base.c_str(),
                           nullptr,
                           XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOBLANKS | XML_PARSE_COMPACT));
  if (!doc) return Failure("The report document could not be read", errors);
  return Transform(doc.get(), options, errors);
}

}  // namespace common
