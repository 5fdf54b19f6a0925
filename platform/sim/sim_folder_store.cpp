// The simulated spooler's store in a spool folder, shared by every process
// that opens the same folder:
//
//   <folder>/default                  the default printer's name
//   <folder>/printers/<key>/printer   name, port and connection flag
//   <folder>/printers/<key>/queue     the queue (jobs and change journal)
//   <folder>/printers/<key>/lock      taken shared to read, exclusive to edit
//
// <key> is the printer name folded to lower case with every byte but
// letters, digits, '-' and '_' written as %XX. Files are replaced whole by
// renaming a temporary file over them, so a reader never sees half a file.
// The first line of a queue holds its change sequence; a waiting process
// is woken by a watch on the printer's folder when the queue file is
// replaced, reads just that line, and the whole queue only when the
// sequence moved.

#include <algorithm>

#include "platform/clock.h"
#include "platform/folder_watch.h"
#include "platform/group_files.h"
#include "platform/log.h"
#include "platform/percent_escape.h"
#include "platform/sim/sim_store.h"

namespace platform::sim {

namespace {

namespace fs = std::filesystem;

std::string Key(std::string_view name) {
  std::string key = FoldedFileName(name);
  return key.empty() ? std::string("%") : key;
}

Status MakeFolder(const fs::path& folder) { return MakeGroupFolder(folder); }

std::optional<std::string> ReadFile(const fs::path& file, std::size_t limit = SIZE_MAX) {
  return ReadGroupFile(file, limit).ToOptional();
}

void ReplaceFile(const fs::path& file, std::string_view content) {
  if (Status written = ReplaceGroupFile(file, content); !written)
    throw SpoolerError(kErrorAccessDenied, "cannot write " + file.string() + ": " + written.ToString());
}

// A printer's lock file, taken shared to read and exclusive to edit.
class FileLock {
 public:
  FileLock(const fs::path& file, bool exclusive)
      : lock_(file, exclusive ? GroupFileLock::Kind::kExclusive : GroupFileLock::Kind::kShared) {}
  bool Held() const { return lock_.Held(); }
  const platform::Status& Status() const { return lock_.Status(); }

 private:
  GroupFileLock lock_;
};

std::string FormatPrinter(const PrinterEntry& printer) {
  return "qmsim-printer 1\n=" + EscapeWord(printer.name) + "\n=" + EscapeWord(printer.portName) + "\n" +
         (printer.connection ? "1" : "0") + "\n";
}

std::optional<PrinterEntry> ParsePrinter(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.size() < 4 || lines[0] != "qmsim-printer 1" || lines[1].empty() || lines[2].empty()) {
    return std::nullopt;
  }
  PrinterEntry printer;
  printer.name = UnescapeWord(std::string_view(lines[1]).substr(1));
  printer.portName = UnescapeWord(std::string_view(lines[2]).substr(1));
  printer.connection = lines[3] == "1";
  return printer;
}

class FolderStore final : public Store {
 public:
  explicit FolderStore(fs::path folder) : folder_(std::move(folder)) {
    std::error_code ec;
    if (folder_.has_parent_path()) fs::create_directories(folder_.parent_path(), ec);
    Status made = MakeFolder(folder_);
    if (made) made = MakeFolder(folder_ / "printers");
    if (!made)
      throw SpoolerError(kErrorAccessDenied,
                         "cannot use the spool folder " + folder_.string() + ": " + made.ToString());
  }

  std::vector<PrinterEntry> Printers() override {
    std::vector<PrinterEntry> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_ / "printers", ec)) {
      if (auto text = ReadFile(entry.path() / "printer")) {
        if (auto printer = ParsePrinter(*text)) out.push_back(std::move(*printer));
      }
    }
    std::sort(out.begin(), out.end(),
              [](const PrinterEntry& a, const PrinterEntry& b) { return a.name < b.name; });
    return out;
  }

  void AddPrinter(const PrinterEntry& printer) override {
    fs::path folder = PrinterFolder(printer.name);
    if (Status made = MakeFolder(folder); !made)
      throw SpoolerError(kErrorAccessDenied, "cannot create " + folder.string() + ": " + made.ToString());
    FileLock lock(folder / "lock", true);
    PrinterEntry entry = printer;
    if (auto existing = ReadFile(folder / "printer")) {
      if (auto old = ParsePrinter(*existing)) entry.name = old->name;
    }
    ReplaceFile(folder / "printer", FormatPrinter(entry));
    if (!ReadFile(folder / "queue")) ReplaceFile(folder / "queue", FormatQueue(QueueState{}));
  }

  bool RemovePrinter(std::string_view name) override {
    fs::path folder = PrinterFolder(name);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return false;
    {
      FileLock lock(folder / "lock", true);
      // Gone for readers first, then the rest.
      if (Status removed = RemoveGroupFile(folder / "printer"); !removed)
        LogWarning("simulated printer not removed whole", removed);
      if (Status removed = RemoveGroupFile(folder / "queue"); !removed)
        LogWarning("simulated printer not removed whole", removed);
    }
    fs::remove_all(folder, ec);
    return true;
  }

  std::optional<std::string> DefaultPrinter() override {
    auto text = ReadFile(folder_ / "default");
    if (!text || text->size() < 2 || (*text)[0] != '=') return std::nullopt;
    std::string word = text->substr(1);
    while (!word.empty() && (word.back() == '\n' || word.back() == '\r')) word.pop_back();
    return UnescapeWord(word);
  }

  void SetDefaultPrinter(std::string_view name) override {
    if (name.empty()) {
      if (Status removed = RemoveGroupFile(folder_ / "default"); !removed)
        LogWarning("default printer not cleared", removed);
    } else {
      ReplaceFile(folder_ / "default", "=" + EscapeWord(name) + "\n");
    }
  }

  std::optional<PrinterEntry> FindPrinter(std::string_view name) override {
    auto text = ReadFile(PrinterFolder(name) / "printer");
    if (!text) return std::nullopt;
    return ParsePrinter(*text);
  }

  bool Update(std::string_view name, const std::function<void(QueueState&)>& edit) override {
    fs::path folder = PrinterFolder(name);
    if (!ReadFile(folder / "printer")) return false;
    FileLock lock(folder / "lock", true);
    if (!lock.Held())
      throw SpoolerError(kErrorAccessDenied,
                         "cannot lock " + folder.string() + ": " + lock.Status().ToString());
    auto text = ReadFile(folder / "queue");
    if (!text) return false;  // removed meanwhile
    QueueState queue = ParseQueue(*text).value_or(QueueState{});
    try {
      edit(queue);
    } catch (...) {
      ReplaceFile(folder / "queue", FormatQueue(queue));
      throw;
    }
    ReplaceFile(folder / "queue", FormatQueue(queue));
    return true;
  }

  std::optional<QueueState> Read(std::string_view name) override {
    fs::path folder = PrinterFolder(name);
    if (!ReadFile(folder / "printer")) return std::nullopt;
    FileLock lock(folder / "lock", false);
    auto text = ReadFile(folder / "queue");
    if (!text) return std::nullopt;
    auto queue = ParseQueue(*text);
    if (!queue) throw SpoolerError(kErrorInvalidHandle, "damaged queue in " + folder.string());
    return queue;
  }

  WaitResult WaitFor(std::string_view name, const std::function<bool(const QueueState&)>& ready,
                     std::chrono::milliseconds timeout, std::stop_token stop) override {
    fs::path queueFile = PrinterFolder(name) / "queue";
    auto deadline = std::chrono::steady_clock::now();
    bool forever = timeout == kInfinite;
    if (!forever) deadline += timeout;
    // Opened before the first look, so that a change made after it wakes
    // the wait below.
    std::unique_ptr<FolderWatch> watch = FolderWatch::ForFile(queueFile.string());
    std::optional<std::uint64_t> checked;
    for (;;) {
      if (stop.stop_requested()) return WaitResult::kStopped;
      auto head = ReadFile(queueFile, 64);
      if (!head) return WaitResult::kSignalled;  // the printer is gone
      auto sequence = PeekSequence(*head);
      if (sequence && sequence != checked) {
        auto queue = Read(name);
        if (!queue || ready(*queue)) return WaitResult::kSignalled;
        checked = queue->sequence;
      }
      std::chrono::milliseconds left = std::chrono::milliseconds::max();
      if (!forever) {
        left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                     std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds::zero()) return WaitResult::kTimedOut;
      }
      if (watch && watch->Lost()) watch = FolderWatch::ForFile(queueFile.string());
      if (watch) {
        if (watch->Wait(left, stop) == FolderWatch::Result::kStopped) return WaitResult::kStopped;
      } else if (!InterruptibleSleep(std::min(kFolderPollInterval, left), stop)) {
        // No watch to be had (the system's limit reached): look every few
        // milliseconds instead.
        return WaitResult::kStopped;
      }
    }
  }

 private:
  fs::path PrinterFolder(std::string_view name) const { return folder_ / "printers" / Key(name); }

  fs::path folder_;
};

}  // namespace

std::shared_ptr<Store> MakeFolderStore(std::filesystem::path folder) {
  return std::make_shared<FolderStore>(std::move(folder));
}

}  // namespace platform::sim
