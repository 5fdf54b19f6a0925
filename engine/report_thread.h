#pragma once

#include <chrono>
#include <string>

#include "engine/worker_thread.h"

namespace platform {
class Clock;
}

namespace engine {

// Mails the previous day's log shortly after every local midnight: the
// day file becomes "Logs\Report.xml" (a header over its reservation and
// "</log>" at the end), "ToSendFile" names it and the mailer is started.
class ReportThread : public WorkerThread {
 public:
  struct Options {
    // How long the mailer may take before the attempt counts as failed.
    std::chrono::milliseconds mailerTimeout{std::chrono::minutes(10)};
    // After a failed attempt the report is tried again this much later
    // (within the same day).
    std::chrono::milliseconds retryAfter{std::chrono::minutes(15)};
    // The folder the mailer is started from: empty for the folder of the
    // running program, where the engine was installed with it.
    std::string programFolder;
  };

  ReportThread();
  ReportThread(platform::Clock& clock, Options options);
  ~ReportThread() override { Stop(); }

  // One pass; returns how long to wait before the next one.
  std::chrono::milliseconds RunPass(std::stop_token stop = {});

 protected:
  std::uint32_t Run(std::int32_t parameter, std::stop_token stop) override;

 private:
  platform::Clock* clock_;
  Options options_;
};

// The stylesheet named by a mailed report.
inline constexpr const char* kReportStylesheet = "https://www.quillmark.net/Quillcore/style_web.xsl";

// The report header for a report made on the given date: declaration,
// stylesheet, "<log><period>" month/day/year "</period>".
std::string ReportHeader(int year, int month, int day);

// A log file's bytes made into a report document: the header written over
// the start of the reservation, "</log>" appended.
std::string MakeReportDocument(std::string logBytes, const std::string& header);

}  // namespace engine
