#pragma once

// The print spooler as the engine and the console see it: printers opened
// by name, their job queues, and change notifications about those queues.
// The shape follows the Windows spooler (OpenPrinter, GetPrinter level 2,
// EnumJobs level 2, Find{First,Next,Close}PrinterChangeNotification,
// EnumPrinters level 5, the default printer), with every handle an RAII
// object: closing is destruction.
//
// Backends:
//   - CUPS (platform/posix/spooler_cups.cpp, MakeCupsSpooler), the default
//     on Linux;
//   - winspool (platform/winspool_seam.h over the calls in
//     platform/windows/spooler_winspool.cpp), the default on Windows;
//   - the simulated spooler (platform/sim/), kept in a spool folder that
//     several processes can share (MakeFolderSpooler), selected when the
//     environment variable QUILLMARK_SPOOLER names that folder.
//
// Every text crossing this interface (printer, document, user and status
// names) is 8-bit Latin-1; a backend that speaks UTF-8 converts at its
// boundary. Every failure is thrown as SpoolerError (a StatusError) carrying
// a Windows error code (the constants below), which callers report as the "last
// error".

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "platform/export.h"
#include "platform/status.h"

namespace platform {

// ---- Error codes (Windows numbering) -------------------------------------

inline constexpr std::int32_t kErrorFileNotFound = 2;
inline constexpr std::int32_t kErrorAccessDenied = 5;
inline constexpr std::int32_t kErrorInvalidHandle = 6;
inline constexpr std::int32_t kErrorNotEnoughMemory = 8;
inline constexpr std::int32_t kErrorNotSupported = 50;
inline constexpr std::int32_t kErrorInvalidParameter = 87;
inline constexpr std::int32_t kErrorInsufficientBuffer = 122;
inline constexpr std::int32_t kErrorServerUnavailable = 1722;  // spooler not running
inline constexpr std::int32_t kErrorInvalidPrinterName = 1801;

// A spooler call failed. code() is the Windows error code of the failure
// (not a std::error_code: callers report it as the "last error"), what()
// the text given, and Status() the platform's Status for it (the code
// mapped to a StatusCode, the text as context).
class QM_PLATFORM_API SpoolerError : public StatusError {
 public:
  // `systemError`: the system's error number behind the failure, when there
  // is one; its text then follows `what`.
  SpoolerError(std::int32_t code, const std::string& what, int systemError = 0);
  std::int32_t code() const noexcept { return code_; }

 private:
  std::int32_t code_;
};

// The StatusCode that fits a spooler's Windows error code.
QM_PLATFORM_API StatusCode CodeOfSpoolerError(std::int32_t code);

// ---- Jobs ----------------------------------------------------------------

// A SYSTEMTIME: eight 16-bit members. Times delivered by the spooler are in
// universal time (UTC), both in enumerations and in notification records.
struct SpoolTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;      // 1-12
  std::uint16_t dayOfWeek = 0;  // 0 = Sunday
  std::uint16_t day = 0;        // 1-31
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
  friend bool operator==(const SpoolTime&, const SpoolTime&) = default;
};

// The SYSTEMTIME of a moment, in UTC.
inline SpoolTime ToSpoolTime(std::chrono::system_clock::time_point moment) {
  using namespace std::chrono;
  auto day = floor<days>(moment);
  year_month_day date{day};
  hh_mm_ss<milliseconds> time{floor<milliseconds>(moment - day)};
  SpoolTime out;
  out.year = static_cast<std::uint16_t>(static_cast<int>(date.year()));
  out.month = static_cast<std::uint16_t>(static_cast<unsigned>(date.month()));
  out.dayOfWeek = static_cast<std::uint16_t>(weekday{day}.c_encoding());
  out.day = static_cast<std::uint16_t>(static_cast<unsigned>(date.day()));
  out.hour = static_cast<std::uint16_t>(time.hours().count());
  out.minute = static_cast<std::uint16_t>(time.minutes().count());
  out.second = static_cast<std::uint16_t>(time.seconds().count());
  out.milliseconds = static_cast<std::uint16_t>(time.subseconds().count());
  return out;
}

// The moment a SYSTEMTIME in UTC names (the day of week is not looked at).
inline std::chrono::system_clock::time_point FromSpoolTime(const SpoolTime& utc) {
  using namespace std::chrono;
  sys_days day{year{utc.year} / month{utc.month} / std::chrono::day{utc.day}};
  return time_point_cast<system_clock::duration>(day + hours{utc.hour} + minutes{utc.minute} +
                                                 seconds{utc.second} + milliseconds{utc.milliseconds});
}

// Job status bits (JOB_STATUS_*).
inline constexpr std::uint32_t kJobStatusPaused = 0x0001;
inline constexpr std::uint32_t kJobStatusError = 0x0002;
inline constexpr std::uint32_t kJobStatusDeleting = 0x0004;
inline constexpr std::uint32_t kJobStatusSpooling = 0x0008;
inline constexpr std::uint32_t kJobStatusPrinting = 0x0010;
inline constexpr std::uint32_t kJobStatusOffline = 0x0020;
inline constexpr std::uint32_t kJobStatusPaperOut = 0x0040;
inline constexpr std::uint32_t kJobStatusPrinted = 0x0080;
inline constexpr std::uint32_t kJobStatusDeleted = 0x0100;
inline constexpr std::uint32_t kJobStatusBlockedDevq = 0x0200;
inline constexpr std::uint32_t kJobStatusUserIntervention = 0x0400;
inline constexpr std::uint32_t kJobStatusRestart = 0x0800;
inline constexpr std::uint32_t kJobStatusComplete = 0x1000;

// One job of a queue: the JOB_INFO_2 members that are used. A text the
// spooler does not know is absent (a null pointer in JOB_INFO_2).
struct SpoolJob {
  std::uint32_t jobId = 0;
  std::optional<std::string> document;
  std::optional<std::string> userName;
  std::optional<std::string> statusText;
  std::uint32_t status = 0;
  std::uint32_t totalPages = 0;
  std::uint32_t pagesPrinted = 0;
  SpoolTime submitted;  // UTC
  // When the job left the queue (UTC); all zero while it is queued or when
  // the spooler does not tell.
  SpoolTime completed;
};

// ---- Change notifications --------------------------------------------------

// Change word bits (PRINTER_CHANGE_*), used both as the registration filter
// and in the change word of a fetch.
inline constexpr std::uint32_t kPrinterChangeAddJob = 0x0100;
inline constexpr std::uint32_t kPrinterChangeSetJob = 0x0200;
inline constexpr std::uint32_t kPrinterChangeDeleteJob = 0x0400;
inline constexpr std::uint32_t kPrinterChangeWriteJob = 0x0800;
inline constexpr std::uint32_t kPrinterChangeJob = 0xFF00;

// Notification types.
inline constexpr std::uint16_t kPrinterNotifyType = 0;
inline constexpr std::uint16_t kJobNotifyType = 1;

// Printer fields (PRINTER_NOTIFY_FIELD_*).
inline constexpr std::uint16_t kPrinterNotifyServerName = 0x00;
inline constexpr std::uint16_t kPrinterNotifyPrinterName = 0x01;
inline constexpr std::uint16_t kPrinterNotifyShareName = 0x02;
inline constexpr std::uint16_t kPrinterNotifyStatus = 0x12;
inline constexpr std::uint16_t kPrinterNotifyCJobs = 0x14;

// Job fields (JOB_NOTIFY_FIELD_*).
inline constexpr std::uint16_t kJobNotifyUserName = 0x03;
inline constexpr std::uint16_t kJobNotifyStatus = 0x0A;
inline constexpr std::uint16_t kJobNotifyStatusString = 0x0B;
inline constexpr std::uint16_t kJobNotifyDocument = 0x0D;
inline constexpr std::uint16_t kJobNotifySubmitted = 0x10;
inline constexpr std::uint16_t kJobNotifyTotalPages = 0x14;
inline constexpr std::uint16_t kJobNotifyPagesPrinted = 0x15;

// PRINTER_NOTIFY_OPTIONS_REFRESH, in NotifyOptions::flags.
inline constexpr std::uint32_t kNotifyOptionsRefresh = 0x01;
// PRINTER_NOTIFY_INFO_DISCARDED, in NotifyInfo::flags.
inline constexpr std::uint32_t kNotifyInfoDiscarded = 0x01;

// PRINTER_NOTIFY_OPTIONS_TYPE: one notification type and its fields.
struct NotifyOptionsType {
  std::uint16_t type = 0;
  std::vector<std::uint16_t> fields;
};

// PRINTER_NOTIFY_OPTIONS.
struct NotifyOptions {
  std::uint32_t version = 2;
  std::uint32_t flags = 0;
  std::vector<NotifyOptionsType> types;
};

// PRINTER_NOTIFY_INFO_DATA: one field of one job (or of the printer).
struct NotifyData {
  enum class Kind : std::uint8_t { kNumber, kText, kTime };

  std::uint16_t type = 0;
  std::uint16_t field = 0;
  std::uint32_t id = 0;  // job id; 0 for printer records
  Kind kind = Kind::kNumber;
  std::array<std::uint32_t, 2> number{};  // Kind::kNumber
  std::string text;                       // Kind::kText
  SpoolTime time;                         // Kind::kTime, UTC

  static NotifyData Number(std::uint16_t type, std::uint16_t field, std::uint32_t id, std::uint32_t value) {
    NotifyData data;
    data.type = type;
    data.field = field;
    data.id = id;
    data.kind = Kind::kNumber;
    data.number = {value, 0};
    return data;
  }
  static NotifyData Text(std::uint16_t type, std::uint16_t field, std::uint32_t id, std::string value) {
    NotifyData data;
    data.type = type;
    data.field = field;
    data.id = id;
    data.kind = Kind::kText;
    data.text = std::move(value);
    return data;
  }
};

// PRINTER_NOTIFY_INFO. Freeing it is destruction.
struct NotifyInfo {
  std::uint32_t version = 2;
  std::uint32_t flags = 0;  // kNotifyInfoDiscarded
  std::vector<NotifyData> records;
};

enum class WaitResult {
  kSignalled,  // a change matching the filter is waiting to be fetched
  kTimedOut,
  kStopped,  // the stop token was requested
};

inline constexpr std::chrono::milliseconds kInfinite = std::chrono::milliseconds::max();

// A registration for change notifications on one printer. Closing
// (FindClosePrinterChangeNotification) is destruction; it must be
// destroyed before the printer it was registered on.
class QM_PLATFORM_API ChangeNotification {
 public:
  virtual ~ChangeNotification();

  // Waits until the notification is signalled, `timeout` passed (kInfinite:
  // never) or `stop` was requested. A signal stays set until Next().
  virtual WaitResult Wait(std::chrono::milliseconds timeout, std::stop_token stop) = 0;

  // FindNextPrinterChangeNotification. Returns the change word: every
  // kPrinterChange* bit of the filter for which a change happened since
  // the previous call; clears the signal.
  //
  // `info` (may be null: no records wanted) receives records for the
  // fields named in the options given at registration:
  //   - when `options` is non-null and has kNotifyOptionsRefresh set: the
  //     current value of every registered field of every job now in the
  //     queue, and of the printer; pending changes are dropped;
  //   - otherwise: one record per registered field that changed since the
  //     previous call, in the order of the changes, including those of jobs
  //     that have left the queue since. When more changes piled up than the
  //     spooler keeps, the records are dropped and info->flags has
  //     kNotifyInfoDiscarded set: the caller should fetch again with the
  //     refresh flag.
  // Only the flags of `options` are looked at.
  virtual std::uint32_t Next(const NotifyOptions* options, NotifyInfo* info) = 0;
};

// ---- Printers --------------------------------------------------------------

// An open printer (OpenPrinter with default access). Closing is
// destruction.
class QM_PLATFORM_API SpoolPrinter {
 public:
  virtual ~SpoolPrinter();

  virtual const std::string& Name() const = 0;

  // GetPrinter level 2, cJobs: the number of jobs in the queue.
  virtual std::uint32_t JobCount() = 0;

  // EnumJobs level 2: at most `count` jobs, starting at queue position
  // `firstJob`, in queue order.
  virtual std::vector<SpoolJob> EnumJobs(std::uint32_t firstJob, std::uint32_t count) = 0;

  // FindFirstPrinterChangeNotification for the kPrinterChange* bits of
  // `filter`, reporting the fields of `options` (its refresh flag is not
  // looked at here).
  virtual std::unique_ptr<ChangeNotification> FindFirstChangeNotification(std::uint32_t filter,
                                                                          const NotifyOptions& options) = 0;

  // The jobs that have left the queue and that the spooler still keeps a
  // history of, oldest first, each with its final values and `completed`
  // time. A spooler that keeps no history of ended jobs (the Windows
  // spooler forgets a job as soon as it leaves) returns nothing: this base
  // version.
  virtual std::vector<SpoolJob> EndedJobs();
};

// PRINTER_INFO_5 of an installed printer.
struct InstalledPrinter {
  std::string name;
  std::string portName;
  bool connection = false;  // a printer of another machine, not local
};

class QM_PLATFORM_API Spooler {
 public:
  virtual ~Spooler();

  // OpenPrinter. A printer that does not exist throws
  // kErrorInvalidPrinterName.
  virtual std::unique_ptr<SpoolPrinter> OpenPrinter(std::string_view name) = 0;

  // EnumPrinters(local | connections, level 5).
  virtual std::vector<InstalledPrinter> EnumPrinters() = 0;

  // The default printer's name; nothing when there is none.
  virtual std::optional<std::string> DefaultPrinterName() = 0;

  // The process-wide spooler: unless replaced, the one MakeSpooler() gives,
  // made on first use.
  static Spooler& Default();
  // Replaces the process-wide spooler (tests); returns the previous one.
  // The caller keeps ownership and must restore it before destroying it.
  static Spooler* SetDefault(Spooler* spooler);
};

// The simulated spooler kept in `folder` (created when missing), shared by
// every process that opens the same folder.
QM_PLATFORM_API std::unique_ptr<Spooler> MakeFolderSpooler(std::filesystem::path folder);

// The system's spooler through CUPS. Defined in platform/posix/spooler_cups.cpp.
QM_PLATFORM_API std::unique_ptr<Spooler> MakeCupsSpooler();

// The system's own spooler, chosen by the build: CUPS on POSIX, winspool
// on Windows.
QM_PLATFORM_API std::unique_ptr<Spooler> MakeSystemSpooler();

// $QUILLMARK_SPOOLER when set and not empty.
QM_PLATFORM_API std::optional<std::filesystem::path> SpoolFolderFromEnvironment();

// The simulated spooler when QUILLMARK_SPOOLER names a spool folder, else
// the system's own spooler (MakeSystemSpooler).
QM_PLATFORM_API std::unique_ptr<Spooler> MakeSpooler();

}  // namespace platform
