// report_viewer_bench APPDIR PERIOD_LABEL
//
// Opens the aggregated report of the period from the application folder
// APPDIR exactly as the reports page's show button does (assembly of
// "Logs/DisplayReport.xml", the in-process HTML transform, the modal
// report viewer) and prints:
//
//   first paint: S s    from the button's call to the first complete frame
//                       of the loaded report: the browser's loadFinished,
//                       then two animation frames inside the page (the
//                       second one runs once the first frame with the
//                       report was drawn), seen by the viewer
//   peak memory: N MiB  the peak resident memory (VmHWM) of this process
//                       plus that of each of its descendants (the
//                       browser's helper processes), sampled every 50 ms
//                       while the viewer runs and once more at the paint
//
// On standard error it also tells when the browser started and finished
// loading the report page (the "Preparing" page comes first).
// Run it on a display (xvfb-run -a) or with QT_QPA_PLATFORM=offscreen.
// Exits 1 when the report cannot be shown (the message is printed).

#include <QApplication>
#include <QTimer>
#include <QWebEngineView>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "console/message_dlg.h"
#include "console/report_operations.h"
#include "console/report_viewer_dlg.h"
#include "console/web_engine_setup.h"

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

// Parent process id of /proc/<pid>, or -1. A process may end while it is
// read (the library then throws from its read).
long ParentOf(const fs::path& procEntry) try {
  std::ifstream in(procEntry / "stat");
  std::string stat;
  std::getline(in, stat);
  // "pid (name) state ppid ...": the name may hold spaces and parentheses.
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(stat.substr(close + 1));
  std::string state;
  long parent = -1;
  rest >> state >> parent;
  return parent;
} catch (const std::exception&) {
  return -1;
}

// VmHWM of /proc/<pid> in KiB, or 0.
long PeakKiB(const fs::path& procEntry) try {
  std::ifstream in(procEntry / "status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
} catch (const std::exception&) {
  return 0;
}

// The highest VmHWM seen for this process and each of its descendants.
class MemorySampler {
 public:
  void Sample() {
    std::map<long, long> parents;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
      parents[std::stol(name)] = ParentOf(entry.path());
    }
    std::set<long> family{self_};
    for (bool grew = true; grew;) {
      grew = false;
      for (const auto& [pid, parent] : parents) {
        if (family.count(parent) != 0 && family.insert(pid).second) grew = true;
      }
    }
    for (long pid : family) {
      long kib = PeakKiB(fs::path("/proc") / std::to_string(pid));
      long& best = peaks_[pid];
      if (kib > best) best = kib;
    }
  }

  double TotalMiB() const {
    long sum = 0;
    for (const auto& [pid, kib] : peaks_) sum += kib;
    return static_cast<double>(sum) / 1024.0;
  }

 private:
  long self_ = std::stol(fs::read_symlink("/proc/self").string());
  std::map<long, long> peaks_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: report_viewer_bench APPDIR PERIOD_LABEL\n");
    return 2;
  }
  const std::string appDir = argv[1];
  const std::string period = argv[2];

  PrepareWebEngine();
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);

  MemorySampler memory;
  QTimer sampling;
  QObject::connect(&sampling, &QTimer::timeout, [&memory] { memory.Sample(); });
  sampling.start(50);

  double firstPaint = -1;
  std::string message;
  Steady::time_point start;

  // Watches for what the button opens: the viewer, or a message.
  QTimer watch;
  watch.setInterval(2);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    // Looked up among the windows: on some platforms the modal window the
    // toolkit reports is the browser's own.
    CMessageDlg* box = nullptr;
    CReportViewerDlg* viewer = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (!w->isVisible()) continue;
      if (auto* b = qobject_cast<CMessageDlg*>(w)) box = b;
      if (auto* v = qobject_cast<CReportViewerDlg*>(w)) viewer = v;
    }
    if (box != nullptr) {
      watch.stop();
      message = box->Text();
      box->reject();
    } else if (viewer != nullptr) {
      watch.stop();
      auto done = [&, viewer] {
        firstPaint = std::chrono::duration<double>(Steady::now() - start).count();
        memory.Sample();
        viewer->reject();
      };
      // Where the time goes, on standard error.
      QObject::connect(viewer->Browser(), &QWebEngineView::loadStarted, viewer, [&, viewer] {
        std::fprintf(stderr, "%s load started: %.2f s\n",
                     viewer->HtmlPath().empty() ? "preparing page" : "report",
                     std::chrono::duration<double>(Steady::now() - start).count());
      });
      QObject::connect(viewer->Browser(), &QWebEngineView::loadFinished, viewer, [&, viewer] {
        std::fprintf(stderr, "%s load finished: %.2f s\n",
                     viewer->HtmlPath().empty() ? "preparing page" : "report",
                     std::chrono::duration<double>(Steady::now() - start).count());
      });
      if (viewer->Painted()) {
        done();
      } else {
        QObject::connect(viewer, &CReportViewerDlg::ReportPainted, viewer, done);
        QObject::connect(viewer, &CReportViewerDlg::ReportFailed, viewer, [&, viewer](const QString& why) {
          message = why.toStdString();
          viewer->reject();
        });
      }
    }
  });

  QTimer::singleShot(0, [&] {
    watch.start();
    start = Steady::now();
    if (!ShowAggregatedReport(nullptr, appDir, period) && message.empty()) {
      message = "unknown period label: " + period;
    }
    QApplication::quit();
  });
  QApplication::exec();

  if (firstPaint < 0) {
    std::fprintf(stderr, "the report was not shown: %s\n", message.c_str());
    return 1;
  }
  std::printf("first paint: %.2f s\n", firstPaint);
  std::printf("peak memory: %.0f MiB\n", memory.TotalMiB());
  return 0;
}
