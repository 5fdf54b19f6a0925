#pragma once

// The Windows spooler backend, split in two along the winspool calls it
// makes:
//
//   - WinspoolApi: the calls themselves (OpenPrinterW, GetPrinterW level 2,
//     EnumJobsW level 2, Find{First,Next,Close}PrinterChangeNotification,
//     EnumPrintersW level 5, GetDefaultPrinterW), each handing back what
//     the system gave in plain members: wide texts as they stand, the bytes
//     a notification record points to as they stand, error numbers as
//     GetLastError() gave them. The implementation on the real spooler is
//     platform/windows/spooler_winspool.cpp (MakeWinspoolApi); tests give a
//     scripted one.
//   - MakeWinspoolSpooler: the platform::Spooler on top of those calls
//     (platform/winspool_seam.cpp), which builds on every system: it turns
//     wide texts into Latin-1, decodes the notification records, counts a
//     job's copies into its pages, and turns failures into SpoolerError.
//
// Nothing here includes a system header.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/export.h"
#include "platform/spooler.h"
#include "platform/status.h"

namespace platform::winspool {

// One job as EnumJobsW level 2 (JOB_INFO_2W) gives it.
struct RawJob {
  std::uint32_t jobId = 0;
  std::optional<std::wstring> document;    // pDocument; absent when null
  std::optional<std::wstring> userName;    // pUserName
  std::optional<std::wstring> statusText;  // pStatus
  std::uint32_t status = 0;
  std::uint32_t totalPages = 0;  // of one copy
  std::uint32_t pagesPrinted = 0;
  SpoolTime submitted;  // UTC
  // The DEVMODEW pDevMode points to (its dmSize bytes); empty when null.
  std::vector<std::uint8_t> devMode;
};

// One PRINTER_NOTIFY_INFO_DATA. Which member of its union holds the value
// depends on the field (NotifyFieldValue): numbers are in adwData, every
// other value is cbBuf bytes at pBuf, copied here as they stand.
struct RawNotifyRecord {
  std::uint16_t type = 0;
  std::uint16_t field = 0;
  std::uint32_t id = 0;
  std::array<std::uint32_t, 2> number{};
  std::vector<std::uint8_t> buffer;
};

// What one FindNextPrinterChangeNotification gave.
struct RawNotifyBatch {
  std::uint32_t changes = 0;  // the change word
  std::uint32_t flags = 0;    // PRINTER_NOTIFY_INFO::Flags (kNotifyInfoDiscarded)
  std::vector<RawNotifyRecord> records;
};

// PRINTER_INFO_5W.
struct RawPrinter {
  std::wstring name;
  std::wstring port;
  std::uint32_t attributes = 0;  // PRINTER_ATTRIBUTE_*
};

inline constexpr std::uint32_t kPrinterAttributeNetwork = 0x00000010;

// How the value of a notification field is delivered.
enum class FieldValue : std::uint8_t {
  kNumber,   // adwData
  kText,     // a wide string, NUL-terminated, in pBuf
  kTime,     // a SYSTEMTIME in pBuf
  kDevMode,  // a DEVMODEW in pBuf
  kOther,    // something else in pBuf (a security descriptor)
};
QM_PLATFORM_API FieldValue NotifyFieldValue(std::uint16_t type, std::uint16_t field);

// JOB_NOTIFY_FIELD_DEVMODE: the job's DEVMODE, asked for by the backend
// itself to learn the number of copies.
inline constexpr std::uint16_t kJobNotifyDevMode = 0x09;

// The calls on one registration (FindFirstPrinterChangeNotification's
// handle). Destruction is FindClosePrinterChangeNotification.
class QM_PLATFORM_API WinspoolNotification {
 public:
  virtual ~WinspoolNotification();
  // WaitForMultipleObjects on the change handle and an event the stop
  // token sets.
  virtual WaitResult Wait(std::chrono::milliseconds timeout, std::stop_token stop) = 0;
  // FindNextPrinterChangeNotification with PRINTER_NOTIFY_OPTIONS_REFRESH
  // when `refresh`; the records only when `wantRecords`.
  virtual Result<RawNotifyBatch> Next(bool refresh, bool wantRecords) = 0;
};

// The calls on one printer handle. Destruction is ClosePrinter.
class QM_PLATFORM_API WinspoolPrinter {
 public:
  virtual ~WinspoolPrinter();
  virtual Result<std::uint32_t> JobCount() = 0;  // GetPrinterW level 2, cJobs
  virtual Result<std::vector<RawJob>> EnumJobs(std::uint32_t firstJob, std::uint32_t count) = 0;
  // FindFirstPrinterChangeNotification with PRINTER_NOTIFY_OPTIONS made of
  // `options` (none when it names no type).
  virtual Result<std::unique_ptr<WinspoolNotification>> FindFirstChange(std::uint32_t filter,
                                                                        const NotifyOptions& options) = 0;
};

class QM_PLATFORM_API WinspoolApi {
 public:
  virtual ~WinspoolApi();
  virtual Result<std::unique_ptr<WinspoolPrinter>> OpenPrinter(const std::wstring& name) = 0;
  // EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, level 5).
  virtual Result<std::vector<RawPrinter>> EnumPrinters() = 0;
  // GetDefaultPrinterW; nothing when there is no default printer.
  virtual Result<std::optional<std::wstring>> DefaultPrinter() = 0;
};

// The calls on the system's spooler. Defined on Windows only.
QM_PLATFORM_API std::unique_ptr<WinspoolApi> MakeWinspoolApi();

// The spooler on `api`.
QM_PLATFORM_API std::unique_ptr<Spooler> MakeWinspoolSpooler(std::unique_ptr<WinspoolApi> api);

}  // namespace platform::winspool
