#include "engine/control_thread.h"

#include <algorithm>

#include "common/catalogue_text.h"
#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "common/value_write_time.h"
#include "engine/app_folder.h"
#include "engine/report_thread.h"
#include "engine/retention_thread.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/registry.h"

namespace engine {

using common::QuillmarkValue;

namespace {

// Tells the console the loop is alive: the time of this pass in seconds
// since 1970, UTC. A DWORD holds it until 2106.
void WriteHeartbeat() {
  auto now = platform::Clock::Default().Now();
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  CRegDword(QuillmarkValue("Heartbeat")).Set(static_cast<std::uint32_t>(seconds));
}

}  // namespace

ControlThread::ControlThread() : ControlThread(Options{}) {}

ControlThread::ControlThread(Options options) : options_(std::move(options)) {
  if (!options_.makeWatcher) options_.makeWatcher = [] { return std::make_unique<PrinterWatcher>(); };
  if (!options_.makeRetention) options_.makeRetention = [] { return std::make_unique<RetentionThread>(); };
  if (!options_.makeReport) options_.makeReport = [] { return std::make_unique<ReportThread>(); };
}

std::uint32_t ControlThread::Run(std::int32_t, std::stop_token stop) {
  // Slot i of the table is watchers[i - 1].
  std::vector<std::unique_ptr<PrinterWatcher>> watchers;
  watchers.reserve(kCapacity);
  for (std::size_t i = 0; i < kCapacity; ++i) watchers.push_back(options_.makeWatcher());
  std::size_t n = 0;
  std::unique_ptr<WorkerThread> retention = options_.makeRetention();
  std::unique_ptr<WorkerThread> report = options_.makeReport();

  // A change of a switch wakes the loop before its interval is up. Made
  // before the first pass reads them, so no change is missed.
  std::unique_ptr<platform::ValueWatch> switches =
      platform::Registry::Default().WatchValues(platform::Hive::kLocalMachine, common::kQuillmarkKey,
                                                {"Reset", "Monitoring", "EmailAlert", "DeleteOldLogs"});

  CRegDword(QuillmarkValue("Reset")).Set(1).Write();

  for (int pass = 1; !stop.stop_requested(); ++pass) {
    WriteHeartbeat();
    std::uint32_t reset = CRegDword(QuillmarkValue("Reset")).Get();
    std::uint32_t monitoring = CRegDword(QuillmarkValue("Monitoring")).Get();
    std::uint32_t emailAlert = CRegDword(QuillmarkValue("EmailAlert")).Get();
    std::uint32_t deleteOldLogs = CRegDword(QuillmarkValue("DeleteOldLogs")).Get();
    // When the switches were thrown: monitoring of a printer starts or
    // ends at the change that caused it, not when this pass noticed it.
    const auto now = platform::Clock::Default().Now();
    const auto resetTime = common::QuillmarkValueWriteTime("Reset", now);
    const auto monitoringTime = common::QuillmarkValueWriteTime("Monitoring", now);

    if (reset == 1) {
      // Every running watcher is stopped before its name and cost change.
      for (auto& watcher : watchers) {
        if (watcher->Running()) watcher->Stop(true);
      }
      auto printers = common::ScanMonitoredPrinters(ReadTextFile(AppFile("\\settings.xml")), kCapacity);
      // A printer that is no longer monitored stops being so at the reload.
      for (std::size_t i = 0; i < n; ++i) {
        bool kept = std::any_of(printers.begin(), printers.end(),
                                [&](const auto& p) { return p.name == watchers[i]->PrinterName(); });
        if (!kept) watchers[i]->Suspend(resetTime);
      }
      n = printers.size();
      for (std::size_t i = 0; i < n; ++i) watchers[i]->Configure(printers[i].name, printers[i].cost);
      platform::LogDebug("catalogue read: " + std::to_string(n) + " monitored printers");
      CRegDword(QuillmarkValue("Reset")).Set(0).Write();
    }

    for (std::size_t i = 0; i < n; ++i) {
      if (monitoring == 1) {
        if (!watchers[i]->Running()) {
          watchers[i]->SetMonitoringSince(std::max(resetTime, monitoringTime));
          watchers[i]->Start();
        }
      } else if (watchers[i]->Running()) {
        watchers[i]->Suspend(monitoringTime);
      }
    }

    if (deleteOldLogs == 1) {
      if (!retention->Running()) retention->Start();
    } else if (retention->Running()) {
      retention->Stop(true);
    }

    if (emailAlert == 1 && monitoring == 1) {
      if (!report->Running()) report->Start();
    } else if (report->Running()) {
      report->Stop(true);
    }

    if (options_.afterPass) options_.afterPass(pass);
    switches->Wait(options_.interval, stop);
  }

  // Nothing the engine started outlives it.
  for (auto& watcher : watchers) watcher->Stop(true);
  retention->Stop(true);
  report->Stop(true);
  return 0;
}

}  // namespace engine
