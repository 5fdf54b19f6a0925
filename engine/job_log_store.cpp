#include "engine/job_log_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <iterator>
#include <optional>
#include <string_view>

#include "common/catalogue_text.h"
#include "common/name_bound.h"
#include "common/name_filter.h"
#include "common/period_keys.h"
#include "common/text_file.h"
#include "engine/app_folder.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/log.h"

namespace engine {
namespace {

std::string TwoDigits(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

std::string FormatEventRecord(int day, int month, int year, int hour, int minute, std::string_view document,
                              std::uint32_t totalPages, long long cost, std::string_view printerName,
                              std::string_view userName) {
  std::string r;
  r.reserve(200 + document.size() + printerName.size() + userName.size());
  r += "\n<event><day>";
  r += TwoDigits(day);
  r += "</day><month>";
  r += TwoDigits(month);
  r += "</month><year>";
  r += TwoDigits(year);
  r += "</year><hour>";
  r += TwoDigits(hour);
  r += "</hour><min>";
  r += TwoDigits(minute);
  r += "</min><doc>";
  r += document;
  r += "</doc><pages>";
  r += std::to_string(totalPages);
  r += "</pages><cost>";
  r += std::to_string(cost);
  r += "</cost><printer>";
  r += printerName;
  r += "</printer><user>";
  r += userName;
  r += "</user></event>";
  return r;
}

JobLogStore::JobLogStore() : clock_(&platform::Clock::Default()) {}
JobLogStore::JobLogStore(platform::Clock& clock) : clock_(&clock) {}

void JobLogStore::Log(int day, int month, int year, int hour, int minute, std::string_view document,
                      std::uint32_t totalPages, std::string_view costText, std::string_view printerName,
                      std::string_view userName) {
  try {
    // Over-long names are cut to one file name's length before anything
    // uses them, so a record is never lost to a name the disk refuses.
    const std::string doc = common::BoundName(common::CleanXmlName(document));
    const std::string printer = common::CleanXmlName(printerName);
    const std::string user = common::BoundName(common::CleanXmlName(userName));
    const long long cost =
        static_cast<long long>(common::ParseLeadingInt(costText)) * static_cast<long long>(totalPages);
    const std::string record =
        FormatEventRecord(day, month, year, hour, minute, doc, totalPages, cost, printer, user);

    const std::time_t now = std::chrono::system_clock::to_time_t(clock_->Now());
    const common::PeriodKeys k = common::ComputePeriodKeys(now);

    const std::string id = catalogue_.PrinterIdRegisteringUser(AppFile("\\settings.xml"), printer, user);
    const std::string printerFolder = id.empty() ? std::string() : common::SafeFolderName("Printer_" + id);
    const std::string userFolder = common::SafeFolderName(user);

    platform::CreateFolder(AppFile("\\Logs"));
    platform::CreateFolder(AppFile("\\Logs\\Users"));
    platform::CreateFolder(AppFile("\\Logs\\Printers"));
    if (!userFolder.empty()) platform::CreateFolder(AppFile("\\Logs\\Users\\" + userFolder));
    if (!printerFolder.empty()) platform::CreateFolder(AppFile("\\Logs\\Printers\\" + printerFolder));

    const std::string scopes[3] = {
        "\\Logs",
        userFolder.empty() ? "\\Logs\\Users" : "\\Logs\\Users\\" + userFolder,
        printerFolder.empty() ? "\\Logs\\Printers" : "\\Logs\\Printers\\" + printerFolder,
    };
    const std::string names[6] = {
        "\\d_" + k.dayStamp + ".xml",
        "\\w_" + k.week + "_" + k.year + ".xml",
        "\\m_" + k.month + "_" + k.year + ".xml",
        "\\q_" + k.quarter + "_" + k.year + ".xml",
        "\\s_" + k.semester + "_" + k.year + ".xml",
        "\\y_" + k.year + ".xml",
    };
    static const std::string reservation(kReservation, ' ');

    // Watchers of several printers, and of several processes, log at the
    // same time; the lock keeps a new file's reservation ahead of every
    // record written to it.
    platform::FileLock lock(AppFile("\\Logs\\quillcore.lock"));
    if (beforeAppend_) {
      JobMark::Pending pending;
      pending.record = common::ToTextMode(record);
      for (const auto& scope : scopes) {
        for (const auto& name : names) {
          const platform::FileStamp stamp = platform::StampOf(AppFile(scope + name));
          JobMark::Pending::Target target{scope + name, std::nullopt};
          if (stamp.exists) target.size = stamp.size;
          pending.targets.push_back(std::move(target));
        }
      }
      beforeAppend_(pending);
    }
    int failed = 0;
    platform::Status firstFailure;
    for (const auto& scope : scopes) {
      for (const auto& name : names) {
        // A file that cannot be opened is skipped; the others are written.
        platform::Status written = common::AppendTextFile(AppFile(scope + name), record, reservation);
        if (!written && failed++ == 0) firstFailure = std::move(written);
      }
    }
    if (failed > 0) {
      platform::LogWarning("job of printer " + printer + " by " + user + " not logged in " +
                               std::to_string(failed) + " of " +
                               std::to_string(std::size(scopes) * std::size(names)) + " log files",
                           firstFailure);
    } else {
      platform::LogDebug("job logged: printer " + printer + ", user " + user + ", " +
                         std::to_string(totalPages) + " pages, cost " + std::to_string(cost));
      if (!lock.Locked()) {
        platform::LogFailureOnce("log lock", "log files written without their lock", lock.Status());
      } else {
        platform::LogRecovered("log lock", "locking the log files");
      }
    }
  } catch (const std::exception& error) {
    // Out of memory or the like: this record is lost, the watcher goes on.
    platform::LogWarning(std::string("job record lost: ") + error.what());
  }
}

namespace {

// How much of `bytes` the file holds at `offset` when the file ends
// within them: all of them, the first k (a write cut short: a kill can end
// a write between two pages of the file), or none (the file ends at
// `offset`). Nothing when the file is shorter or holds something else.
std::optional<std::size_t> HeldAt(const std::string& path, std::uint64_t offset, std::string_view bytes) {
  try {
    platform::InputFile file(path);
    const std::uint64_t size = file.Size();
    if (size < offset) return std::nullopt;
    std::string buffer(64 * 1024, '\0');
    for (std::uint64_t skip = offset; skip > 0;) {
      const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(skip, buffer.size()));
      if (file.Read(buffer.data(), piece) != piece) return std::nullopt;
      skip -= piece;
    }
    // Whatever follows a whole record (later records) does not matter.
    const std::size_t there = static_cast<std::size_t>(std::min<std::uint64_t>(size - offset, bytes.size()));
    buffer.resize(there);
    if (file.Read(buffer.data(), there) != there || bytes.substr(0, there) != buffer) return std::nullopt;
    return there;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

void JobLogStore::Complete(const JobMark::Pending& pending) {
  try {
    static const std::string reservation = common::ToTextMode(std::string(kReservation, ' '));
    platform::FileLock lock(AppFile("\\Logs\\quillcore.lock"));
    int appended = 0;
    for (const auto& target : pending.targets) {
      const std::string path = AppFile(target.path);
      // Appended under the lock: right at the old end, or after the
      // reservation of a file the record created.
      const std::uint64_t at = target.size.value_or(reservation.size());
      const std::optional<std::size_t> held = HeldAt(path, at, pending.record);
      if (held == pending.record.size()) continue;
      if (!held && target.size && platform::StampOf(path).size < *target.size) {
        platform::LogWarning("job log: " + target.path +
                             " is shorter than before the record; appending it anyway");
      }
      // The start of the record a write left behind is followed by the rest.
      const std::string_view missing = std::string_view(pending.record).substr(held.value_or(0));
      if (platform::Status s = platform::AppendFileBytes(path, missing, reservation); !s) {
        platform::LogWarning("job log: the interrupted record not completed in " + target.path, s);
        continue;
      }
      ++appended;
    }
    platform::LogDebug("job log: completed the record of job " + std::to_string(pending.jobId) + " in " +
                       std::to_string(appended) + " of " + std::to_string(pending.targets.size()) + " files");
  } catch (const std::exception& e) {
    platform::LogWarning(std::string("job log: could not complete an interrupted record: ") + e.what());
  }
}

}  // namespace engine
