#include "platform/windows/win32.h"  // first: before any other system header

// The winspool calls of the Windows spooler backend (platform/winspool_seam.h
// has the backend itself). Each call hands back what the system gave,
// untouched; a failure is a Status carrying GetLastError().

#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/log.h"
#include "platform/spooler.h"
#include "platform/status.h"
#include "platform/windows/stoppable_wait.h"
#include "platform/windows/unique_handle.h"
#include "platform/winspool_seam.h"

namespace platform::winspool {

namespace {

static_assert(offsetof(DEVMODEW, dmFields) == 72, "DEVMODEW layout the backend decodes");
static_assert(offsetof(DEVMODEW, dmCopies) == 86, "DEVMODEW layout the backend decodes");
static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME layout the backend decodes");

std::string Narrow(const std::wstring& wide) {
  std::string out;
  for (const wchar_t c : wide) out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  return out;
}

std::optional<std::wstring> TextOf(const wchar_t* text) {
  if (!text) return std::nullopt;
  return std::wstring(text);
}

SpoolTime TimeOf(const SYSTEMTIME& time) {
  return SpoolTime{time.wYear, time.wMonth,  time.wDayOfWeek, time.wDay,
                   time.wHour, time.wMinute, time.wSecond,    time.wMilliseconds};
}

// The failure of the winspool call just made. Some spoolers (wine's) leave
// calls they do not implement failing without setting an error number; the
// number is cleared before each call so that such a failure does not
// borrow an older one.
Status Failure(const std::string& what) {
  const DWORD error = ::GetLastError();
  if (error == ERROR_SUCCESS) return Status(StatusCode::kIoError, what + ": failed without an error number");
  return Status::FromSystem(static_cast<int>(error), what);
}

// The two-call pattern of the enumerations: ask with the buffer there is,
// grow it to what the system says it needs, and ask again, as long as the
// answer keeps growing in between (jobs arriving).
template <typename Call>
Status FillBuffer(std::vector<BYTE>& buffer, const std::string& what, Call call) {
  for (;;) {
    DWORD needed = 0;
    const DWORD size = static_cast<DWORD>(buffer.size());
    ::SetLastError(ERROR_SUCCESS);
    if (call(buffer.empty() ? nullptr : buffer.data(), size, &needed)) return Status();
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= size) return Failure(what);
    buffer.assign(needed, 0);
  }
}

struct PrinterCloser {
  void operator()(HANDLE printer) const {
    if (!::ClosePrinter(printer)) LogWarning("ClosePrinter", Status::LastError("close a printer handle"));
  }
};
using UniquePrinter = std::unique_ptr<std::remove_pointer_t<HANDLE>, PrinterCloser>;

struct ChangeCloser {
  void operator()(HANDLE change) const {
    if (!::FindClosePrinterChangeNotification(change)) {
      LogWarning("FindClosePrinterChangeNotification", Status::LastError("close a change notification"));
    }
  }
};
using UniqueChange = std::unique_ptr<std::remove_pointer_t<HANDLE>, ChangeCloser>;

struct NotifyInfoFree {
  void operator()(PRINTER_NOTIFY_INFO* info) const { ::FreePrinterNotifyInfo(info); }
};
using UniqueNotifyInfo = std::unique_ptr<PRINTER_NOTIFY_INFO, NotifyInfoFree>;

class RealNotification final : public WinspoolNotification {
 public:
  RealNotification(UniqueChange change, std::string printer)
      : change_(std::move(change)), printer_(std::move(printer)) {}

  WaitResult Wait(std::chrono::milliseconds timeout, std::stop_token stop) override {
    if (stop.stop_requested()) return WaitResult::kStopped;
    const HANDLE change = change_.get();
    const windows::StoppableWait woke =
        windows::WaitForAnyOrStop(std::span<const HANDLE>(&change, 1), timeout, stop);
    if (woke.kind == windows::StoppableWait::kSignalled) return WaitResult::kSignalled;
    if (woke.kind == windows::StoppableWait::kStopped) return WaitResult::kStopped;
    if (woke.kind == windows::StoppableWait::kTimedOut) return WaitResult::kTimedOut;
    // A failed wait is reported as a signal: the fetch that follows fails
    // in turn and tells why.
    LogWarning("WaitForMultipleObjects", Status::LastError("wait for changes of " + printer_));
    return WaitResult::kSignalled;
  }

  Result<RawNotifyBatch> Next(bool refresh, bool wantRecords) override {
    PRINTER_NOTIFY_OPTIONS options{};
    options.Version = 2;
    options.Flags = refresh ? PRINTER_NOTIFY_OPTIONS_REFRESH : 0;
    DWORD change = 0;
    PRINTER_NOTIFY_INFO* info = nullptr;
    ::SetLastError(ERROR_SUCCESS);
    if (!::FindNextPrinterChangeNotification(change_.get(), &change, &options,
                                             wantRecords ? reinterpret_cast<void**>(&info) : nullptr)) {
      return Failure("FindNextPrinterChangeNotification on " + printer_);
    }
    UniqueNotifyInfo owned(info);
    RawNotifyBatch batch;
    batch.changes = change;
    if (!owned) return batch;
    batch.flags = owned->Flags;
    for (DWORD i = 0; i < owned->Count; ++i) {
      const PRINTER_NOTIFY_INFO_DATA& data = owned->aData[i];
      RawNotifyRecord record;
      record.type = data.Type;
      record.field = data.Field;
      record.id = data.Id;
      if (NotifyFieldValue(data.Type, data.Field) == FieldValue::kNumber) {
        record.number = {data.NotifyData.adwData[0], data.NotifyData.adwData[1]};
      } else if (data.NotifyData.Data.pBuf) {
        const auto* bytes = static_cast<const std::uint8_t*>(data.NotifyData.Data.pBuf);
        record.buffer.assign(bytes, bytes + data.NotifyData.Data.cbBuf);
      }
      batch.records.push_back(std::move(record));
    }
    return batch;
  }

 private:
  UniqueChange change_;
  std::string printer_;
};

class RealPrinter final : public WinspoolPrinter {
 public:
  RealPrinter(UniquePrinter handle, std::string name) : handle_(std::move(handle)), name_(std::move(name)) {}

  Result<std::uint32_t> JobCount() override {
    std::vector<BYTE> buffer;
    Status status =
        FillBuffer(buffer, "GetPrinterW level 2 of " + name_, [&](BYTE* data, DWORD size, DWORD* needed) {
          return ::GetPrinterW(handle_.get(), 2, data, size, needed);
        });
    if (!status) return status;
    return static_cast<std::uint32_t>(reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data())->cJobs);
  }

  Result<std::vector<RawJob>> EnumJobs(std::uint32_t firstJob, std::uint32_t count) override {
    std::vector<BYTE> buffer;
    DWORD returned = 0;
    Status status =
        FillBuffer(buffer, "EnumJobsW level 2 of " + name_, [&](BYTE* data, DWORD size, DWORD* needed) {
          return ::EnumJobsW(handle_.get(), firstJob, count, 2, data, size, needed, &returned);
        });
    if (!status) return status;
    std::vector<RawJob> jobs;
    const auto* infos = reinterpret_cast<const JOB_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) {
      const JOB_INFO_2W& info = infos[i];
      RawJob job;
      job.jobId = info.JobId;
      job.document = TextOf(info.pDocument);
      job.userName = TextOf(info.pUserName);
      job.statusText = TextOf(info.pStatus);
      job.status = info.Status;
      job.totalPages = info.TotalPages;
      job.pagesPrinted = info.PagesPrinted;
      job.submitted = TimeOf(info.Submitted);
      if (info.pDevMode) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(info.pDevMode);
        job.devMode.assign(bytes, bytes + info.pDevMode->dmSize);
      }
      jobs.push_back(std::move(job));
    }
    return jobs;
  }

  Result<std::unique_ptr<WinspoolNotification>> FindFirstChange(std::uint32_t filter,
                                                                const NotifyOptions& options) override {
    // PRINTER_NOTIFY_OPTIONS points into these while the call runs.
    std::vector<std::vector<WORD>> fields;
    std::vector<PRINTER_NOTIFY_OPTIONS_TYPE> types;
    for (const NotifyOptionsType& type : options.types)
      fields.emplace_back(type.fields.begin(), type.fields.end());
    for (std::size_t i = 0; i < options.types.size(); ++i) {
      PRINTER_NOTIFY_OPTIONS_TYPE type{};
      type.Type = options.types[i].type;
      type.Count = static_cast<DWORD>(fields[i].size());
      type.pFields = fields[i].data();
      types.push_back(type);
    }
    PRINTER_NOTIFY_OPTIONS wire{};
    wire.Version = options.version;
    wire.Count = static_cast<DWORD>(types.size());
    wire.pTypes = types.data();

    ::SetLastError(ERROR_SUCCESS);
    const HANDLE change =
        ::FindFirstPrinterChangeNotification(handle_.get(), filter, 0, types.empty() ? nullptr : &wire);
    if (change == INVALID_HANDLE_VALUE || change == nullptr) {
      return Failure("FindFirstPrinterChangeNotification on " + name_);
    }
    UniqueChange owned(change);
    return std::unique_ptr<WinspoolNotification>(std::make_unique<RealNotification>(std::move(owned), name_));
  }

 private:
  UniquePrinter handle_;
  std::string name_;  // for messages
};

class RealApi final : public WinspoolApi {
 public:
  Result<std::unique_ptr<WinspoolPrinter>> OpenPrinter(const std::wstring& name) override {
    HANDLE handle = nullptr;
    std::wstring copy = name;  // OpenPrinterW takes a non-const name
    ::SetLastError(ERROR_SUCCESS);
    if (!::OpenPrinterW(copy.data(), &handle, nullptr)) return Failure("OpenPrinterW " + Narrow(name));
    UniquePrinter owned(handle);
    return std::unique_ptr<WinspoolPrinter>(std::make_unique<RealPrinter>(std::move(owned), Narrow(name)));
  }

  Result<std::vector<RawPrinter>> EnumPrinters() override {
    std::vector<BYTE> buffer;
    DWORD returned = 0;
    Status status = FillBuffer(buffer, "EnumPrintersW level 5", [&](BYTE* data, DWORD size, DWORD* needed) {
      return ::EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 5, data, size, needed,
                             &returned);
    });
    if (!status) return status;
    std::vector<RawPrinter> printers;
    const auto* infos = reinterpret_cast<const PRINTER_INFO_5W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) {
      RawPrinter printer;
      if (infos[i].pPrinterName) printer.name = infos[i].pPrinterName;
      if (infos[i].pPortName) printer.port = infos[i].pPortName;
      printer.attributes = infos[i].Attributes;
      printers.push_back(std::move(printer));
    }
    return printers;
  }

  Result<std::optional<std::wstring>> DefaultPrinter() override {
    std::wstring name;
    for (;;) {
      DWORD length = static_cast<DWORD>(name.size());
      ::SetLastError(ERROR_SUCCESS);
      if (::GetDefaultPrinterW(name.empty() ? nullptr : name.data(), &length)) {
        name.resize(length > 0 ? length - 1 : 0);  // the length counts the NUL
        return std::optional<std::wstring>(std::move(name));
      }
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND) return std::optional<std::wstring>();  // no default printer
      if (error != ERROR_INSUFFICIENT_BUFFER || length <= name.size()) {
        return Failure("GetDefaultPrinterW");
      }
      name.assign(length, L'\0');
    }
  }
};

}  // namespace

std::unique_ptr<WinspoolApi> MakeWinspoolApi() { return std::make_unique<RealApi>(); }

}  // namespace platform::winspool

namespace platform {

std::unique_ptr<Spooler> MakeSystemSpooler() {
  return winspool::MakeWinspoolSpooler(winspool::MakeWinspoolApi());
}

}  // namespace platform
