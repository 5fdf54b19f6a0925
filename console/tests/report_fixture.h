#pragma once

// A console whose application folder is a scratch folder with a catalogue,
// logs written by the engine's own log store at a fixed date, and simple
// stylesheets beside them; plus the waits the report tests need.

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "console/tests/console_test_support.h"
#include "engine/app_folder.h"
#include "engine/job_log_store.h"
#include "tests/support/fake_clock.h"
#include "tests/support/read_file.h"

// The browser inside Qt WebEngine is Chromium, built without the
// sanitizers: in a sanitizer build it stops at its own allocations
// (new-delete-type-mismatch inside libQt6WebEngineCore) and its leaks,
// before a page is shown.
#if defined(__SANITIZE_ADDRESS__)
#define QM_SKIP_WITHOUT_BROWSER()                                                      \
  GTEST_SKIP() << "The embedded browser (Chromium in Qt WebEngine) cannot run in the " \
                  "sanitizer build: it trips AddressSanitizer inside libQt6WebEngineCore"
#else
#define QM_SKIP_WITHOUT_BROWSER() static_cast<void>(0)
#endif

// Polls the event loop until `done` holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Runs `inside` on the next modal window of type T that opens above the
// one active now (then closes it if it is still open); returns at once
// with the watch, which the caller may delete when nothing opened.
template <typename T>
QPointer<QTimer> OnNextModalOf(std::function<void(T*)> inside) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, inside] {
    auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
    if (modal == nullptr) return;
    timer->stop();
    timer->deleteLater();
    inside(modal);
    if (modal->isVisible()) modal->reject();
  });
  timer->start();
  return timer;
}

// Where the console puts the report documents it shows.
inline std::filesystem::path UserReports() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return std::filesystem::path(runtime != nullptr ? runtime : "/nonexistent") / "quillmark";
}

using testing_support::ReadWholeFile;

inline void WriteAll(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Every event as a table row, the period above it.
inline const char* kTestStylesheet =
    "<?xml version=\"1.0\"?>\n"
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n"
    "<xsl:param name=\"max-jobs\" select=\"1000\"/>\n"
    "<xsl:output method=\"html\" encoding=\"UTF-8\"/>\n"
    "<xsl:template match=\"/log\"><html><head><title>Report</title></head><body>\n"
    "<h1 id=\"period\"><xsl:value-of select=\"period\"/></h1><table>\n"
    "<xsl:for-each select=\"event[position() &lt;= $max-jobs]\"><tr><td><xsl:value-of "
    "select=\"doc\"/></td><td><xsl:value-of select=\"pages\"/></td><td><xsl:value-of "
    "select=\"user\"/></td></tr></xsl:for-each>\n"
    "</table></body></html></xsl:template>\n"
    "</xsl:stylesheet>\n";

class ReportFixture : public ConsoleFixture {
 protected:
  // Thursday 9 March 2006, 12:00 local time.
  static std::time_t FixedNow() {
    std::tm t{};
    t.tm_year = 2006 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 9;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    return std::mktime(&t);
  }

  void SetUp() override {
    appDir_ = registry_.Folder() / "app";
    std::filesystem::create_directories(appDir_ / "Logs");
    SetText("AppPath", appDir_.string());
    previousClock_ = platform::Clock::SetDefault(&clock_);
    engine::SetAppFolder(appDir_.string());
    WriteCatalogue(
        "<log><printers><name>Front Desk</name><ID>1</ID><cost>5</cost><monitored>1</monitored>"
        "<name>Back Office</name><ID>2</ID><cost>3</cost><monitored>0</monitored>"
        "<name>Lab</name><ID>3</ID><cost>2</cost><monitored>1</monitored>"
        "</printers><users><username>anna</username><username>ben</username></users></log>");
    for (const char* sheet : {"style.xsl", "printers.xsl", "users.xsl"}) {
      WriteAll(appDir_ / "Logs" / sheet, kTestStylesheet);
    }
  }

  void TearDown() override {
    ConsoleFixture::TearDown();
    platform::Clock::SetDefault(previousClock_);
  }

  void WriteCatalogue(const std::string& text) { WriteAll(appDir_ / "settings.xml", text); }

  // One job today, through the engine's log store.
  void LogJob(const std::string& document, std::uint32_t pages, const std::string& printer,
              const std::string& user) {
    engine::JobLogStore store(clock_);
    store.Log(9, 3, 2006, 10, 30, document, pages, "5", printer, user);
  }

  std::filesystem::path Logs() const { return appDir_ / "Logs"; }

  std::filesystem::path appDir_;
  testing_support::FakeClock clock_{FixedNow()};
  platform::Clock* previousClock_ = nullptr;
};
