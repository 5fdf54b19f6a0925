// Report figures for a year file of 100,000 records (50 users, 5 printers),
// written with the log store's own record format:
//   assembly / plain copy: R      making the document, against copying the file
//   html transform: S s           libxslt with style.xsl, document to HTML file
//   viewer first paint: S s       from the console's report program, see below
//   viewer first paint, 10 records: S s
//
// The viewer figures come from report_viewer_bench beside this program,
// called as
//   report_viewer_bench APPDIR PERIOD_LABEL
// which shows the all-printing report of that period from the application
// folder APPDIR and prints "first paint: S s" and "peak memory: N MiB". It
// runs under xvfb-run when there is no DISPLAY.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/report_assembly.h"
#include "common/report_periods.h"
#include "common/report_transform.h"
#include "common/text_file.h"
#include "engine/job_log_store.h"
#include "platform/file_system.h"

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

namespace {

double MedianSeconds(int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = SteadyClock::now();
    work();
    times.push_back(std::chrono::duration<double>(SteadyClock::now() - t0).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// An application folder whose this-year all-printing file holds `records`
// jobs; returns the log file's path.
std::string MakeAppFolder(const fs::path& app, int records, std::time_t now) {
  fs::create_directories(app / "Logs");
  for (const char* sheet : {"style.xsl", "printers.xsl", "users.xsl", "report-layout.xsl"})
    fs::copy_file(fs::path(QM_SOURCE_DIR) / "data" / sheet, app / "Logs" / sheet,
                  fs::copy_options::overwrite_existing);
  common::WriteTextFile((app / "settings.xml").string(), "<log><printers></printers><users></users></log>");
  const common::PeriodFile file = common::ResolvePeriodFile(
      common::ReportPeriod::kThisYear, common::ReportScope::kAllPrinting, app.string(), "", now);
  const int year = std::stoi(fs::path(file.path).stem().string().substr(2));
  std::string text(engine::JobLogStore::kReservation, ' ');
  text.reserve(static_cast<std::size_t>(records) * 210);
  for (int i = 0; i < records; ++i) {
    const int dayOfYear = i * 360 / std::max(records, 1);
    const int pages = 1 + (i * 7) % 23;
    text += engine::FormatEventRecord(
        1 + dayOfYear % 30, 1 + dayOfYear / 30, year, 8 + i % 10, i % 60,
        "Quarterly statement " + std::to_string(i) + ".pdf", static_cast<std::uint32_t>(pages), pages * 5,
        "Printer " + std::to_string(i % 5), "user" + std::to_string((i * 31) % 50));
  }
  common::WriteTextFile(file.path, text);
  return file.path;
}

void ViewerFigures(const fs::path& self, const fs::path& bigApp, const fs::path& smallApp,
                   const fs::path& log) {
  const fs::path viewer = self.parent_path() / "report_viewer_bench";
  if (!fs::exists(viewer)) {
    std::printf("viewer first paint: n/a (report_viewer_bench not built)\n");
    return;
  }
  const bool display = std::getenv("DISPLAY") && *std::getenv("DISPLAY");
  auto run = [&](const fs::path& app, const char* label, const char* memoryLabel) {
    std::string command = display ? "" : "xvfb-run -a ";
    // The browser talks a lot on standard error; it is kept for failures.
    command += "'" + viewer.string() + "' '" + app.string() + "' 'This year' 2>'" + log.string() + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
      std::printf("%s: n/a (report_viewer_bench could not be started)\n", label);
      return;
    }
    char line[256];
    bool printed = false;
    while (std::fgets(line, sizeof line, pipe)) {
      std::string text(line);
      if (text.rfind("first paint: ", 0) == 0) {
        std::printf("%s: %s", label, text.substr(13).c_str());
        printed = true;
      } else if (text.rfind("peak memory: ", 0) == 0) {
        std::printf("%s: %s", memoryLabel, text.substr(13).c_str());
      }
    }
    const int status = ::pclose(pipe);
    if (!printed) {
      std::printf("%s: n/a (report_viewer_bench ended with status %d)\n", label, status);
      const auto text = platform::ReadFileBytes(log.string()).ValueOr("");
      std::fprintf(stderr, "%s\n", text.substr(text.size() > 2000 ? text.size() - 2000 : 0).c_str());
    }
  };
  run(bigApp, "viewer first paint", "viewer peak memory");
  run(smallApp, "viewer first paint, 10 records", "viewer peak memory, 10 records");
}

}  // namespace

int main(int, char** argv) {
  char tmpl[] = "/tmp/quillmark-report-bench-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  const fs::path root = tmpl;
  const std::time_t now = std::time(nullptr);
  const fs::path bigApp = root / "big", smallApp = root / "small";
  const std::string log = MakeAppFolder(bigApp, 100000, now);
  MakeAppFolder(smallApp, 10, now);
  std::fprintf(stderr, "year file: %ju bytes\n", static_cast<std::uintmax_t>(fs::file_size(log)));

  const std::string document = common::DisplayReportPath(bigApp.string());
  const std::string copy = (bigApp / "Logs" / "copy.xml").string();
  const common::PeriodFile file = common::ResolvePeriodFile(
      common::ReportPeriod::kThisYear, common::ReportScope::kAllPrinting, bigApp.string(), "", now);
  const auto header = common::ReportHeaderText(common::ReportScope::kAllPrinting);

  // Alternated so that both see the same cache state; the fastest of each
  // is compared, since on a shared machine the slower runs measure the
  // neighbours.
  double plain = 1e9, assembly = 1e9;
  for (int i = 0; i < 11; ++i) {
    plain = std::min(plain, MedianSeconds(1, [&] {
                       const auto bytes = platform::ReadFileBytes(log);
                       platform::WriteFileBytes(copy, *bytes);
                     }));
    assembly = std::min(assembly, MedianSeconds(1, [&] {
                          if (!common::AssembleReportDocument(log, header, file.periodElement, document))
                            std::fprintf(stderr, "assembly failed\n");
                        }));
  }
  std::fprintf(stderr, "plain copy %.1f ms, assembly %.1f ms\n", plain * 1e3, assembly * 1e3);
  std::printf("assembly / plain copy: %.2f\n", assembly / plain);

  const std::string html = common::ReportHtmlPath(document);
  // Processor time as well: on a shared machine the wall time says more
  // about the neighbours than about the stylesheet.
  const std::clock_t cpu0 = std::clock();
  const double transform = MedianSeconds(3, [&] {
    const common::ReportResult r = common::TransformReportFile(document, html);
    if (!r) std::fprintf(stderr, "transform failed: %s\n", r.message.c_str());
  });
  std::fprintf(stderr, "html transform, processor time per run: %.2f s\n",
               static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC / 3);
  std::printf("html transform: %.2f s\n", transform);

  ViewerFigures(fs::absolute(argv[0]), bigApp, smallApp, root / "viewer.log");
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
