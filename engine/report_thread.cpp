#include "engine/report_thread.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "common/period_keys.h"
#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "engine/app_folder.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/log.h"
#include "platform/process.h"
#include "platform/program_folder.h"

namespace engine {
namespace {

std::string Stamp(std::time_t t) {
  const common::LocalDateTime d = common::ToLocalDateTime(t);
  return common::DayStamp(d.year, d.month, d.day);
}

// The stamp of the calendar day before `now`'s local date. Stepping back
// 86400 seconds would skip a day shortly after midnight following the
// 23-hour day at the start of summer time.
std::string YesterdayStamp(std::time_t now) {
  const platform::LocalTime today = platform::ToLocalTime(std::chrono::system_clock::from_time_t(now));
  return Stamp(std::chrono::system_clock::to_time_t(
      platform::FromLocalTime(today.year, today.month, today.day - 1, 12, 0, 0)));
}

// Seconds from `now` to the next 00:00:00 local time. The date is stepped
// by one calendar day rather than by 86400 seconds, so the 25-hour day at
// the end of summer time does not end early.
long long SecondsToNextMidnight(std::time_t now) {
  const platform::LocalTime today = platform::ToLocalTime(std::chrono::system_clock::from_time_t(now));
  const std::time_t midnight = std::chrono::system_clock::to_time_t(
      platform::FromLocalTime(today.year, today.month, today.day + 1, 0, 0, 0));
  long long wait = static_cast<long long>(midnight) - static_cast<long long>(now);
  return wait > 0 ? wait : 1;
}

}  // namespace

std::string ReportHeader(int year, int month, int day) {
  char period[32];
  std::snprintf(period, sizeof period, "%02d/%02d/%d", month, day, year);
  std::string h = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><?xml-stylesheet href='";
  h += kReportStylesheet;
  h += "' type='text/xsl'?><log><period>";
  h += period;
  h += "</period>";
  return h;
}

std::string MakeReportDocument(std::string logBytes, const std::string& header) {
  if (logBytes.size() < header.size()) logBytes.resize(header.size(), ' ');
  logBytes.replace(0, header.size(), header);
  logBytes += "</log>";
  return logBytes;
}

namespace {

void RemoveReport(const std::string& path) {
  if (platform::Status removed = platform::ForceRemoveFile(path); !removed && !removed.IsNotFound())
    platform::LogWarning("report file left behind", removed);
}

}  // namespace

ReportThread::ReportThread() : clock_(&platform::Clock::Default()) {}
ReportThread::ReportThread(platform::Clock& clock, Options options) : clock_(&clock), options_(options) {}

std::chrono::milliseconds ReportThread::RunPass(std::stop_token stop) {
  const std::string lastDay = CRegString(common::QuillmarkValue("ToSendDay")).Get();
  const std::time_t now = std::chrono::system_clock::to_time_t(clock_->Now());
  const std::string today = Stamp(now);
  const std::string yesterday = YesterdayStamp(now);
  const std::chrono::milliseconds untilMidnight = std::chrono::seconds(SecondsToNextMidnight(now));
  const auto retry = std::min(options_.retryAfter, untilMidnight);

  if (lastDay != yesterday) {
    if (lastDay != today) CRegString(common::QuillmarkValue("ToSendDay")).Set(today);
    return untilMidnight;
  }

  const std::string source = AppFile("\\Logs\\d_" + lastDay + ".xml");
  if (!platform::FileExists(source)) return untilMidnight;

  const platform::Result<std::string> log = platform::ReadFileBytes(source);
  if (!log) {
    // Exists but unreadable just now: try again later today.
    platform::LogWarning("daily report not sent, tried again later", log.Status());
    return retry;
  }
  const common::LocalDateTime d = common::ToLocalDateTime(now);
  const std::string header = ReportHeader(d.year, d.month, d.day);
  const std::string destination = AppFile("\\Logs\\Report.xml");
  if (platform::Status made = platform::ReplaceFileBytes(destination, MakeReportDocument(*log, header));
      !made) {
    platform::LogWarning("daily report not sent, tried again later", made);
    return retry;
  }

  CRegString(common::QuillmarkValue("ToSendFile")).Set(destination).Write();
  // The mailer comes from where the engine was installed, never from the
  // data folder a setting names, and only when nobody else can change it.
  const platform::Result<std::string> program = platform::TrustedProgramFile(
      options_.programFolder.empty() ? platform::ProgramFolder() : options_.programFolder,
      platform::ExecutableName("Postrider"));
  platform::Result<platform::Process> mailer =
      program ? platform::Process::Start(*program) : program.Status();
  if (!mailer) {
    platform::LogWarning("daily report not sent, the mailer was not started; tried again later",
                         mailer.Status());
    RemoveReport(destination);
    return retry;
  }
  platform::LogDebug("daily report of " + lastDay + " handed to the mailer");
  const std::optional<int> status = mailer->Wait(options_.mailerTimeout, stop);
  if (!status) {
    // Stopped, or the mailer hangs. A stopped engine leaves the mailer to
    // finish with its file; a hanging one is ended and the report retried.
    if (stop.stop_requested()) return untilMidnight;
    platform::LogWarning("daily report not sent: the mailer did not end in time; ended, tried again later");
    mailer->Terminate();
    mailer->Wait(std::chrono::seconds(5));
    RemoveReport(destination);
    return retry;
  }
  RemoveReport(destination);
  if (*status != 0) {
    // "ToSendDay" unchanged: the report is sent again. The mailer wrote
    // why on its standard error, which is ours.
    platform::LogWarning("daily report not sent: the mailer exited with status " + std::to_string(*status) +
                         "; tried again later");
    return retry;
  }
  platform::LogDebug("daily report of " + lastDay + " sent");
  CRegString(common::QuillmarkValue("ToSendDay")).Set(today);
  return untilMidnight;
}

std::uint32_t ReportThread::Run(std::int32_t, std::stop_token stop) {
  // Read once at start; reports are daily whatever they hold.
  CRegDword frequency(common::QuillmarkValue("EmailAlertFreq"), 0);
  CRegString address(common::QuillmarkValue("EmailAddress"));
  (void)frequency;
  (void)address;
  while (!stop.stop_requested()) {
    const std::chrono::milliseconds wait = RunPass(stop);
    if (!clock_->SleepFor(wait, stop)) break;
  }
  return 0;
}

}  // namespace engine
