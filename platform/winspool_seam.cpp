#include "platform/winspool_seam.h"

#include <algorithm>
#include <map>
#include <set>
#include <string_view>
#include <utility>

namespace platform::winspool {

WinspoolNotification::~WinspoolNotification() = default;
WinspoolPrinter::~WinspoolPrinter() = default;
WinspoolApi::~WinspoolApi() = default;

FieldValue NotifyFieldValue(std::uint16_t type, std::uint16_t field) {
  if (type == kJobNotifyType) {
    switch (field) {
      case 0x09: return FieldValue::kDevMode;  // JOB_NOTIFY_FIELD_DEVMODE
      case 0x0C: return FieldValue::kOther;    // JOB_NOTIFY_FIELD_SECURITY_DESCRIPTOR
      case 0x10: return FieldValue::kTime;     // JOB_NOTIFY_FIELD_SUBMITTED
      default:
        // Printer, machine, port, user, notify, data type, print processor,
        // parameters, driver, status text and document names are texts;
        // from the status on (0x0A) the rest are numbers.
        return field <= 0x08 || field == 0x0B || field == 0x0D ? FieldValue::kText : FieldValue::kNumber;
    }
  }
  switch (field) {
    case 0x07: return FieldValue::kDevMode;  // PRINTER_NOTIFY_FIELD_DEVMODE
    case 0x0C: return FieldValue::kOther;    // PRINTER_NOTIFY_FIELD_SECURITY_DESCRIPTOR
    case 0x13:                               // PRINTER_NOTIFY_FIELD_STATUS_STRING
    case 0x1A:                               // PRINTER_NOTIFY_FIELD_OBJECT_GUID
    case 0x1B:                               // PRINTER_NOTIFY_FIELD_FRIENDLY_NAME
      return FieldValue::kText;
    default: return field <= 0x0B ? FieldValue::kText : FieldValue::kNumber;
  }
}

namespace {

// ---- Texts -------------------------------------------------------------------

bool IsHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// UTF-16 code units (or, where wchar_t is wider, code points) to Latin-1:
// what Latin-1 cannot hold becomes one '?' per character.
template <typename Units>
std::string Latin1FromUnits(const Units& units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const auto unit = static_cast<std::uint32_t>(units[i]);
    if (unit <= 0xFF) {
      out.push_back(static_cast<char>(unit));
      continue;
    }
    out.push_back('?');
    if (IsHighSurrogate(unit) && i + 1 < units.size() &&
        IsLowSurrogate(static_cast<std::uint32_t>(units[i + 1])))
      ++i;
  }
  return out;
}

std::string Latin1FromWide(const std::wstring& text) { return Latin1FromUnits(text); }

std::optional<std::string> Latin1FromWide(const std::optional<std::wstring>& text) {
  if (!text) return std::nullopt;
  return Latin1FromWide(*text);
}

std::wstring WideFromLatin1(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (const char c : text) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return out;
}

std::uint16_t Word(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// A NUL-terminated UTF-16 text in a record's buffer (little-endian, as
// every Windows system stores it); a buffer without the NUL ends the text.
std::string TextOfBuffer(const std::vector<std::uint8_t>& bytes) {
  std::u16string units;
  for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
    const std::uint16_t unit = Word(bytes, at);
    if (unit == 0) break;
    units.push_back(static_cast<char16_t>(unit));
  }
  return Latin1FromUnits(units);
}

// A SYSTEMTIME: eight little-endian WORDs.
std::optional<SpoolTime> TimeOfBuffer(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < 16) return std::nullopt;
  SpoolTime time;
  time.year = Word(bytes, 0);
  time.month = Word(bytes, 2);
  time.dayOfWeek = Word(bytes, 4);
  time.day = Word(bytes, 6);
  time.hour = Word(bytes, 8);
  time.minute = Word(bytes, 10);
  time.second = Word(bytes, 12);
  time.milliseconds = Word(bytes, 14);
  return time;
}

// DEVMODEW: dmFields is the DWORD at byte 72, dmCopies the short at 86,
// meaningful when dmFields has DM_COPIES. A job without one (or with a
// number below one) is one copy.
constexpr std::size_t kDevModeFields = 72;
constexpr std::size_t kDevModeCopies = 86;
constexpr std::uint32_t kDmCopies = 0x00000100;

std::uint32_t CopiesOfDevMode(const std::vector<std::uint8_t>& devMode) {
  if (devMode.size() < kDevModeCopies + 2) return 1;
  const std::uint32_t fields =
      Word(devMode, kDevModeFields) | (std::uint32_t{Word(devMode, kDevModeFields + 2)} << 16);
  if (!(fields & kDmCopies)) return 1;
  const auto copies = static_cast<std::int16_t>(Word(devMode, kDevModeCopies));
  return copies > 1 ? static_cast<std::uint32_t>(copies) : 1;
}

// A job's pages, as every spooler backend counts them: the pages of all its
// copies. The Windows spooler counts one copy's pages when the driver makes
// the copies (DEVMODE dmCopies); when the application makes them, they are
// all in the spool data and dmCopies is 1.
std::uint32_t PagesWithCopies(std::uint32_t pages, std::uint32_t copies) {
  const std::uint64_t total = std::uint64_t{pages} * copies;
  return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(total);
}

// ---- Failures ----------------------------------------------------------------

// The caller learns the system's error number; a failure the system gave
// none for (a call the spooler does not implement, as in wine) is reported
// as `fallback`.
[[noreturn]] void Throw(const Status& status, std::int32_t fallback) {
  const std::int32_t code = status.SystemError() != 0 ? status.SystemError() : fallback;
  throw SpoolerError(code, status.ToString());
}

template <typename T>
T Take(Result<T> result, std::int32_t fallback) {
  if (!result) Throw(result.Status(), fallback);
  return std::move(result).Value();
}

// ---- Notifications -----------------------------------------------------------

bool Registered(const NotifyOptions& options, std::uint16_t type, std::uint16_t field) {
  for (const NotifyOptionsType& t : options.types) {
    if (t.type == type && std::find(t.fields.begin(), t.fields.end(), field) != t.fields.end()) return true;
  }
  return false;
}

class Notification final : public ChangeNotification {
 public:
  Notification(std::unique_ptr<WinspoolNotification> raw, NotifyOptions registered)
      : raw_(std::move(raw)), registered_(std::move(registered)) {}

  WaitResult Wait(std::chrono::milliseconds timeout, std::stop_token stop) override {
    return raw_->Wait(timeout, std::move(stop));
  }

  std::uint32_t Next(const NotifyOptions* options, NotifyInfo* info) override {
    const bool refresh = options && (options->flags & kNotifyOptionsRefresh);
    // The records are always fetched, even when the caller wants none: the
    // copies of every job are learnt from them.
    RawNotifyBatch batch = Take(raw_->Next(refresh, true), kErrorNotSupported);
    if (refresh) pages_.clear();  // every job now queued is reported afresh

    std::vector<NotifyData> records;
    for (const RawNotifyRecord& raw : batch.records) Decode(raw, records);
    if (info) {
      info->version = 2;
      info->flags = batch.flags;
      info->records = std::move(records);
    }
    return batch.changes;
  }

 private:
  // What is known of one job's pages: the spooler's count (of one copy)
  // and its copies.
  struct JobPages {
    std::optional<std::uint32_t> pages;
    std::uint32_t copies = 1;
  };
  // Jobs are forgotten oldest (lowest id) first beyond this many; a refresh
  // starts afresh.
  static constexpr std::size_t kJobMemory = 1024;

  JobPages& PagesOf(std::uint32_t id) {
    auto it = pages_.find(id);
    if (it != pages_.end()) return it->second;
    if (pages_.size() >= kJobMemory) pages_.erase(pages_.begin());
    return pages_[id];
  }

  NotifyData Record(const RawNotifyRecord& raw) {
    NotifyData out;
    out.type = raw.type;
    out.field = raw.field;
    out.id = raw.id;
    return out;
  }

  void Decode(const RawNotifyRecord& raw, std::vector<NotifyData>& out) {
    const bool totalPages = raw.type == kJobNotifyType && raw.field == kJobNotifyTotalPages;
    if (raw.type == kJobNotifyType && raw.field == kJobNotifyDevMode) {
      JobPages& job = PagesOf(raw.id);
      const std::uint32_t copies = CopiesOfDevMode(raw.buffer);
      if (copies == job.copies) return;
      job.copies = copies;
      // Copies set after the pages were reported change the pages.
      if (job.pages && Registered(registered_, kJobNotifyType, kJobNotifyTotalPages)) {
        NotifyData record = Record(raw);
        record.field = kJobNotifyTotalPages;
        record.number[0] = PagesWithCopies(*job.pages, job.copies);
        out.push_back(std::move(record));
      }
      return;
    }
    if (!Registered(registered_, raw.type, raw.field)) return;

    NotifyData record = Record(raw);
    switch (NotifyFieldValue(raw.type, raw.field)) {
      case FieldValue::kNumber:
        record.kind = NotifyData::Kind::kNumber;
        record.number = raw.number;
        if (totalPages) {
          JobPages& job = PagesOf(raw.id);
          job.pages = raw.number[0];
          record.number[0] = PagesWithCopies(raw.number[0], job.copies);
        }
        break;
      case FieldValue::kText:
        record.kind = NotifyData::Kind::kText;
        record.text = TextOfBuffer(raw.buffer);
        break;
      case FieldValue::kTime: {
        std::optional<SpoolTime> time = TimeOfBuffer(raw.buffer);
        if (!time) return;  // no SYSTEMTIME: nothing to report
        record.kind = NotifyData::Kind::kTime;
        record.time = *time;
        break;
      }
      case FieldValue::kDevMode:
      case FieldValue::kOther: return;  // not a value this interface carries
    }
    out.push_back(std::move(record));
  }

  std::unique_ptr<WinspoolNotification> raw_;
  NotifyOptions registered_;
  std::map<std::uint32_t, JobPages> pages_;
};

// ---- Printers and the spooler ------------------------------------------------

SpoolJob JobOf(const RawJob& raw) {
  SpoolJob job;
  job.jobId = raw.jobId;
  job.document = Latin1FromWide(raw.document);
  job.userName = Latin1FromWide(raw.userName);
  job.statusText = Latin1FromWide(raw.statusText);
  job.status = raw.status;
  job.totalPages = PagesWithCopies(raw.totalPages, CopiesOfDevMode(raw.devMode));
  job.pagesPrinted = raw.pagesPrinted;
  job.submitted = raw.submitted;
  // The Windows spooler lists queued jobs only: no end time to give.
  return job;
}

class Printer final : public SpoolPrinter {
 public:
  Printer(std::string name, std::unique_ptr<WinspoolPrinter> raw)
      : name_(std::move(name)), raw_(std::move(raw)) {}

  const std::string& Name() const override { return name_; }

  std::uint32_t JobCount() override { return Take(raw_->JobCount(), kErrorNotSupported); }

  std::vector<SpoolJob> EnumJobs(std::uint32_t firstJob, std::uint32_t count) override {
    std::vector<SpoolJob> jobs;
    if (count == 0) return jobs;
    for (const RawJob& raw : Take(raw_->EnumJobs(firstJob, count), kErrorNotSupported)) {
      jobs.push_back(JobOf(raw));
    }
    return jobs;
  }

  std::unique_ptr<ChangeNotification> FindFirstChangeNotification(std::uint32_t filter,
                                                                  const NotifyOptions& options) override {
    // The pages reported are those of all copies: whoever registers a
    // job's pages gets its DEVMODE asked for too.
    NotifyOptions wire = options;
    wire.flags = 0;
    for (NotifyOptionsType& type : wire.types) {
      if (type.type != kJobNotifyType) continue;
      const auto has = [&](std::uint16_t field) {
        return std::find(type.fields.begin(), type.fields.end(), field) != type.fields.end();
      };
      if (has(kJobNotifyTotalPages) && !has(kJobNotifyDevMode)) type.fields.push_back(kJobNotifyDevMode);
    }
    auto raw = Take(raw_->FindFirstChange(filter, wire), kErrorNotSupported);
    if (!raw) throw SpoolerError(kErrorInvalidHandle, "no change notification");
    return std::make_unique<Notification>(std::move(raw), options);
  }

  // EndedJobs is the base version, which returns nothing: the Windows
  // spooler forgets a job as soon as it leaves the queue and keeps no
  // history of ended jobs, so a watcher's catch-up after a restart has
  // nothing to log here; jobs that ended while no watcher ran are lost to
  // it.

 private:
  std::string name_;
  std::unique_ptr<WinspoolPrinter> raw_;
};

class Spooler final : public platform::Spooler {
 public:
  explicit Spooler(std::unique_ptr<WinspoolApi> api) : api_(std::move(api)) {}

  std::unique_ptr<SpoolPrinter> OpenPrinter(std::string_view name) override {
    // An empty name would open the print server itself, which is no printer.
    if (name.empty()) throw SpoolerError(kErrorInvalidPrinterName, "no printer name");
    auto raw = Take(api_->OpenPrinter(WideFromLatin1(name)), kErrorInvalidPrinterName);
    if (!raw) throw SpoolerError(kErrorInvalidHandle, "no printer handle");
    return std::make_unique<Printer>(std::string(name), std::move(raw));
  }

  std::vector<InstalledPrinter> EnumPrinters() override {
    std::vector<InstalledPrinter> printers;
    for (const RawPrinter& raw : Take(api_->EnumPrinters(), kErrorServerUnavailable)) {
      InstalledPrinter printer;
      printer.name = Latin1FromWide(raw.name);
      printer.portName = Latin1FromWide(raw.port);
      printer.connection = (raw.attributes & kPrinterAttributeNetwork) != 0;
      printers.push_back(std::move(printer));
    }
    return printers;
  }

  std::optional<std::string> DefaultPrinterName() override {
    std::optional<std::wstring> name = Take(api_->DefaultPrinter(), kErrorServerUnavailable);
    if (!name || name->empty()) return std::nullopt;
    return Latin1FromWide(*name);
  }

 private:
  std::unique_ptr<WinspoolApi> api_;
};

}  // namespace

std::unique_ptr<platform::Spooler> MakeWinspoolSpooler(std::unique_ptr<WinspoolApi> api) {
  return std::make_unique<Spooler>(std::move(api));
}

}  // namespace platform::winspool
