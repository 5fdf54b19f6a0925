#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/job_mark.h"

namespace engine {

// Where the watchers keep their printers' marks.
class JobMarkStore {
 public:
  virtual ~JobMarkStore() = default;
  // Nothing when the printer has no mark yet (or an unreadable one).
  virtual std::optional<JobMark> Load(std::string_view printer) = 0;
  // Replaces the mark as a whole; false when it could not be written.
  virtual bool Save(std::string_view printer, const JobMark& mark) = 0;
  // Notes `mark.pending`, the record of the job about to be logged as
  // number `mark.sequence + 1`: Load() gives it back with the mark until
  // the mark is saved with that number. Saves the whole mark unless a
  // store has a quicker way.
  virtual bool NotePending(std::string_view printer, const JobMark& mark) { return Save(printer, mark); }
};

// The marks as files in the application folder, "Logs\Marks\<printer>.mark"
// (the printer name mapped like the log folders), each replaced atomically
// so that a crash leaves the old mark or the new one. Retention never
// touches them: they are not ".xml" files.
//
// A pending record is appended to "<printer>.journal" beside it with one
// write (a replacement, by a rename or by truncating, makes the file
// system write the file out, and costs more than the eighteen appends
// together); the journal starts afresh once it has grown to 64 KiB. Only
// its last note counts: one cut short by a crash lacks its last line and
// is no note, which is right, since nothing had been appended yet.
class FileJobMarkStore final : public JobMarkStore {
 public:
  std::optional<JobMark> Load(std::string_view printer) override;
  bool Save(std::string_view printer, const JobMark& mark) override;
  bool NotePending(std::string_view printer, const JobMark& mark) override;

  // The mark file of a printer, and its journal.
  static std::string PathOf(std::string_view printer);
  static std::string JournalOf(std::string_view printer);
};

// The marks in memory, shared by the watchers given the same object
// (tests).
class MemoryJobMarkStore final : public JobMarkStore {
 public:
  std::optional<JobMark> Load(std::string_view printer) override;
  bool Save(std::string_view printer, const JobMark& mark) override;

 private:
  std::mutex mutex_;
  std::map<std::string, JobMark, std::less<>> marks_;
};

}  // namespace engine
