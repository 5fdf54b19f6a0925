#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/catalogue_cache.h"
#include "engine/job_mark.h"

namespace platform {
class Clock;
}

namespace engine {

// Turns one finished job into an event record and appends it to the
// eighteen period files (day, week, month, quarter, semester, year for all
// printing, the user and the printer), registering the user in the
// catalogue on the way. Holds no state that affects what is written: the
// output depends on the arguments, the application folder, the catalogue
// and the clock. The catalogue is kept in memory between jobs and read
// again only when the file changed.
class JobLogStore {
 public:
  // The number of spaces every new log file starts with, reserved for a
  // report header written over a copy of the file.
  static constexpr std::size_t kReservation = 525;

  JobLogStore();  // the default clock
  explicit JobLogStore(platform::Clock& clock);
  virtual ~JobLogStore() = default;

  // The five time values are the job's submitted time (local); the texts
  // may be empty. Never throws: a file that cannot be written is skipped.
  virtual void Log(int day, int month, int year, int hour, int minute, std::string_view document,
                   std::uint32_t totalPages, std::string_view costText, std::string_view printerName,
                   std::string_view userName);

  // Waits until the users this store added are in the catalogue file (a
  // moment after their first job; see common::CatalogueCache).
  void FlushCatalogue() { catalogue_.Flush(); }

  // How often the catalogue file was read.
  unsigned long long CatalogueReads() const { return catalogue_.Reads(); }

  // Called by Log() with the job's record and its files (the sizes they
  // have before it), while it holds the log lock and before it appends to
  // any of them: the caller notes it durably, so that a record cut short
  // by a crash can be completed by Complete() (the job id is left 0).
  using BeforeAppend = std::function<void(const JobMark::Pending&)>;
  void SetBeforeAppend(BeforeAppend before) { beforeAppend_ = std::move(before); }

  // Appends the record of `pending` to each of its files that does not
  // hold it yet where it was to go, so that after a crash in the middle
  // of Log() every file has the record exactly once.
  static void Complete(const JobMark::Pending& pending);

 private:
  platform::Clock* clock_;
  common::CatalogueCache catalogue_;
  BeforeAppend beforeAppend_;
};

// The event record, beginning with its line feed.
std::string FormatEventRecord(int day, int month, int year, int hour, int minute, std::string_view document,
                              std::uint32_t totalPages, long long cost, std::string_view printerName,
                              std::string_view userName);

}  // namespace engine
