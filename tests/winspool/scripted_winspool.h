#pragma once

// The winspool calls as a script the test writes: printers with their
// queues, the batches FindNextPrinterChangeNotification will give, the
// failures to report. Every call is recorded.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/spooler.h"
#include "platform/status.h"
#include "platform/winspool_seam.h"

namespace winspool_test {

using platform::winspool::RawJob;
using platform::winspool::RawNotifyBatch;
using platform::winspool::RawNotifyRecord;
using platform::winspool::RawPrinter;

// A failure as the system reports it: GetLastError() in the status.
inline platform::Status Failure(int windowsError, std::string what) {
  return platform::Status(platform::StatusCode::kIoError, std::move(what), windowsError);
}

struct Script {
  std::mutex mutex;
  std::condition_variable_any changed;

  std::map<std::wstring, std::vector<RawJob>> queues;  // the printers and their jobs
  std::vector<RawPrinter> installed;
  std::optional<std::wstring> defaultPrinter;

  // Batches the next fetches give, in order; a fetch with none pending
  // gives an empty batch.
  std::deque<RawNotifyBatch> batches;
  // What a fetch with the refresh flag gives.
  RawNotifyBatch refreshBatch;

  // Failures the next call of that kind reports (0: none).
  int openError = 0;
  int enumJobsError = 0;
  int registerError = 0;
  int nextError = 0;

  // What was asked.
  std::vector<std::wstring> opened;
  std::uint32_t registeredFilter = 0;
  platform::NotifyOptions registeredOptions;
  std::vector<bool> fetchRefresh;  // one entry per fetch
  int notificationsOpen = 0;

  // Queues a batch and signals the registration.
  void Push(RawNotifyBatch batch) {
    std::lock_guard lock(mutex);
    batches.push_back(std::move(batch));
    changed.notify_all();
  }
  std::size_t Fetches() {
    std::lock_guard lock(mutex);
    return fetchRefresh.size();
  }
};

class ScriptedNotification final : public platform::winspool::WinspoolNotification {
 public:
  explicit ScriptedNotification(std::shared_ptr<Script> script) : script_(std::move(script)) {
    std::lock_guard lock(script_->mutex);
    ++script_->notificationsOpen;
  }
  ~ScriptedNotification() override {
    std::lock_guard lock(script_->mutex);
    --script_->notificationsOpen;
  }

  platform::WaitResult Wait(std::chrono::milliseconds timeout, std::stop_token stop) override {
    std::unique_lock lock(script_->mutex);
    auto pending = [&] { return !script_->batches.empty(); };
    bool signalled = timeout == platform::kInfinite ? script_->changed.wait(lock, stop, pending)
                                                    : script_->changed.wait_for(lock, stop, timeout, pending);
    if (signalled) return platform::WaitResult::kSignalled;
    return stop.stop_requested() ? platform::WaitResult::kStopped : platform::WaitResult::kTimedOut;
  }

  platform::Result<RawNotifyBatch> Next(bool refresh, bool wantRecords) override {
    std::lock_guard lock(script_->mutex);
    script_->fetchRefresh.push_back(refresh);
    if (script_->nextError)
      return Failure(std::exchange(script_->nextError, 0), "FindNextPrinterChangeNotification");
    RawNotifyBatch batch;
    if (refresh) {
      batch = script_->refreshBatch;
      batch.changes = script_->batches.empty() ? 0 : script_->batches.front().changes;
      script_->batches.clear();
    } else if (!script_->batches.empty()) {
      batch = std::move(script_->batches.front());
      script_->batches.pop_front();
    }
    if (!wantRecords) batch.records.clear();
    return batch;
  }

 private:
  std::shared_ptr<Script> script_;
};

class ScriptedPrinter final : public platform::winspool::WinspoolPrinter {
 public:
  ScriptedPrinter(std::shared_ptr<Script> script, std::wstring name)
      : script_(std::move(script)), name_(std::move(name)) {}

  platform::Result<std::uint32_t> JobCount() override {
    std::lock_guard lock(script_->mutex);
    return static_cast<std::uint32_t>(script_->queues[name_].size());
  }

  platform::Result<std::vector<RawJob>> EnumJobs(std::uint32_t firstJob, std::uint32_t count) override {
    std::lock_guard lock(script_->mutex);
    if (script_->enumJobsError) return Failure(std::exchange(script_->enumJobsError, 0), "EnumJobsW");
    const std::vector<RawJob>& queue = script_->queues[name_];
    std::vector<RawJob> out;
    for (std::size_t i = firstJob; i < queue.size() && out.size() < count; ++i) out.push_back(queue[i]);
    return out;
  }

  platform::Result<std::unique_ptr<platform::winspool::WinspoolNotification>> FindFirstChange(
      std::uint32_t filter, const platform::NotifyOptions& options) override {
    {
      std::lock_guard lock(script_->mutex);
      if (script_->registerError) {
        return Failure(std::exchange(script_->registerError, 0), "FindFirstPrinterChangeNotification");
      }
      script_->registeredFilter = filter;
      script_->registeredOptions = options;
    }
    return std::unique_ptr<platform::winspool::WinspoolNotification>(
        std::make_unique<ScriptedNotification>(script_));
  }

 private:
  std::shared_ptr<Script> script_;
  std::wstring name_;
};

class ScriptedApi final : public platform::winspool::WinspoolApi {
 public:
  explicit ScriptedApi(std::shared_ptr<Script> script) : script_(std::move(script)) {}

  platform::Result<std::unique_ptr<platform::winspool::WinspoolPrinter>> OpenPrinter(
      const std::wstring& name) override {
    std::lock_guard lock(script_->mutex);
    script_->opened.push_back(name);
    if (script_->openError) return Failure(std::exchange(script_->openError, 0), "OpenPrinterW");
    if (!script_->queues.count(name)) return Failure(1801, "OpenPrinterW");  // ERROR_INVALID_PRINTER_NAME
    return std::unique_ptr<platform::winspool::WinspoolPrinter>(
        std::make_unique<ScriptedPrinter>(script_, name));
  }

  platform::Result<std::vector<RawPrinter>> EnumPrinters() override {
    std::lock_guard lock(script_->mutex);
    return script_->installed;
  }

  platform::Result<std::optional<std::wstring>> DefaultPrinter() override {
    std::lock_guard lock(script_->mutex);
    return script_->defaultPrinter;
  }

 private:
  std::shared_ptr<Script> script_;
};

// ---- Building what the system would give ----------------------------------

// A wide text as the bytes of a notification buffer: UTF-16LE with its NUL.
inline std::vector<std::uint8_t> Utf16Bytes(const std::u16string& text, bool withNul = true) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  if (withNul) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

inline std::vector<std::uint8_t> SystemTimeBytes(const platform::SpoolTime& t) {
  std::vector<std::uint8_t> bytes;
  for (std::uint16_t word :
       {t.year, t.month, t.dayOfWeek, t.day, t.hour, t.minute, t.second, t.milliseconds}) {
    bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
  }
  return bytes;
}

// A DEVMODEW (its 220 fixed bytes) with dmCopies set, and DM_COPIES in
// dmFields unless `copiesValid` is false.
inline std::vector<std::uint8_t> DevModeBytes(std::int16_t copies, bool copiesValid = true) {
  std::vector<std::uint8_t> bytes(220, 0);
  bytes[68] = 220;  // dmSize
  const std::uint32_t fields = 0x00000001 /* DM_ORIENTATION */ | (copiesValid ? 0x00000100u : 0u);
  for (int i = 0; i < 4; ++i) bytes[72 + i] = static_cast<std::uint8_t>(fields >> (8 * i));
  bytes[86] = static_cast<std::uint8_t>(copies & 0xFF);
  bytes[87] = static_cast<std::uint8_t>((copies >> 8) & 0xFF);
  return bytes;
}

inline RawNotifyRecord NumberRecord(std::uint32_t id, std::uint16_t field, std::uint32_t value) {
  RawNotifyRecord r;
  r.type = platform::kJobNotifyType;
  r.field = field;
  r.id = id;
  r.number = {value, 0};
  return r;
}

inline RawNotifyRecord BufferRecord(std::uint32_t id, std::uint16_t field, std::vector<std::uint8_t> bytes,
                                    std::uint16_t type = platform::kJobNotifyType) {
  RawNotifyRecord r;
  r.type = type;
  r.field = field;
  r.id = id;
  r.buffer = std::move(bytes);
  return r;
}

}  // namespace winspool_test
