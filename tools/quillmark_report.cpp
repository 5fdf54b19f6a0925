// quillmark-report: a report of one period for a printer, a user or all
// printing, for servers without a desktop and for scripts.
//
//   quillmark-report --period LABEL (--printer NAME | --user NAME | --all)
//                    [--format xml|html|csv|summary] [--output FILE] [--app DIR]
//
// The document is assembled by the same code as the console's; "html"
// applies the stylesheet the document names, "csv" lists every job, and
// "summary" prints the totals and the per-user (per-printer for a user)
// breakdown. Reports that cannot be made exit 1 with the reason on standard
// error; bad arguments print the usage and exit 2.

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/latin1.h"
#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/report_assembly.h"
#include "common/report_csv.h"
#include "common/report_summary.h"
#include "common/report_transform.h"
#include "common/text_file.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/log.h"

namespace {

int Usage(const std::string& message) {
  std::cerr << "quillmark-report: " << message << "\n"
            << "Usage: quillmark-report --period LABEL (--printer NAME | --user NAME | --all)\n"
            << "                        [--format xml|html|csv|summary] [--output FILE] [--app DIR]\n"
            << "LABEL is one of:";
  for (std::string_view label : common::kReportPeriodLabels) std::cerr << " \"" << label << "\"";
  std::cerr << "\n";
  return 2;
}

int Fail(std::string_view message) {
  std::cerr << "quillmark-report: " << message << "\n";
  return 1;
}

enum class Format { kXml, kHtml, kCsv, kSummary };

struct Arguments {
  std::optional<common::ReportPeriod> period;
  std::optional<common::ReportScope> scope;
  std::string name;  // UTF-8, as typed
  Format format = Format::kXml;
  std::optional<std::string> output;
  std::optional<std::string> app;
};

// Empty on success, else what is wrong.
std::string Parse(const std::vector<std::string>& args, Arguments& out) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    auto setScope = [&](common::ReportScope scope) -> std::string {
      if (out.scope) return "give only one of --printer, --user and --all";
      out.scope = scope;
      return {};
    };
    if (option == "--period") {
      const auto label = value();
      if (!label) return "--period needs a label";
      if (out.period) return "--period given twice";
      out.period = common::ReportPeriodFromLabel(*label);
      if (!out.period) return "unknown period \"" + *label + "\"";
    } else if (option == "--printer" || option == "--user") {
      const auto name = value();
      if (!name) return option + " needs a name";
      if (auto e =
              setScope(option == "--printer" ? common::ReportScope::kPrinter : common::ReportScope::kUser);
          !e.empty())
        return e;
      out.name = *name;
    } else if (option == "--all") {
      if (auto e = setScope(common::ReportScope::kAllPrinting); !e.empty()) return e;
    } else if (option == "--format") {
      const auto format = value();
      if (!format) return "--format needs xml, html, csv or summary";
      if (*format == "xml")
        out.format = Format::kXml;
      else if (*format == "html")
        out.format = Format::kHtml;
      else if (*format == "csv")
        out.format = Format::kCsv;
      else if (*format == "summary")
        out.format = Format::kSummary;
      else
        return "unknown format \"" + *format + "\"";
    } else if (option == "--output") {
      out.output = value();
      if (!out.output || out.output->empty()) return "--output needs a file";
    } else if (option == "--app") {
      out.app = value();
      if (!out.app || out.app->empty()) return "--app needs a folder";
    } else {
      return "unknown argument \"" + option + "\"";
    }
  }
  if (!out.period) return "--period is missing";
  if (!out.scope) return "one of --printer, --user and --all is missing";
  return {};
}

bool WriteStdout(std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
}

int Run(const std::vector<std::string>& args) {
  Arguments a;
  if (const std::string problem = Parse(args, a); !problem.empty()) return Usage(problem);

  std::string app = a.app ? *a.app : CRegString(common::QuillmarkValue("AppPath")).Get();
  while (app.size() > 1 && (app.back() == '/' || app.back() == '\\')) app.pop_back();
  if (app.empty()) return Fail("\"AppPath\" is not set in the registry; name the folder with --app DIR");

  common::ReportRequest request;
  request.period = *a.period;
  request.scope = *a.scope;
  request.name = common::Utf8ToLatin1(a.name);
  const common::ReportResult document =
      common::AssembleReportInMemory(app, request, platform::Clock::Default());
  if (!document) return Fail(document.message);

  std::string bytes;
  switch (a.format) {
    case Format::kXml: bytes = document.bytes; break;
    case Format::kHtml: {
      common::ReportResult html =
          common::TransformReportBytes(document.bytes, common::NativePath(app + "\\Logs"));
      if (!html) return Fail(html.message);
      bytes = std::move(html.bytes);
      break;
    }
    case Format::kCsv: bytes = common::ReportJobsToCsv(common::ReadReportJobs(document.bytes)); break;
    case Format::kSummary:
      bytes = common::FormatReportSummary(common::SummarizeReport(document.bytes, request.scope));
      break;
  }

  if (a.output) {
    // Replaced in one step: a reader of the file sees the old or the new report.
    if (!platform::ReplaceFileBytes(*a.output, bytes)) return Fail("cannot write " + *a.output);
  } else if (!WriteStdout(bytes)) {
    return Fail("cannot write to standard output");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::SetLogIdentity("quillmark-report");
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
