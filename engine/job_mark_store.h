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
  virtual std::optional<JobMark> load(std::string_view printer) = 0;
  // Replaces the mark as a whole; false when it could not be written.
  virtual bool save(std::string_view printer, const JobMark& mark) = 0;
};

// The marks as files in the application folder, "Logs\Marks\<printer>.mark"
// (the printer name mapped like the log folders), each replaced atomically
// so that a crash leaves the old mark or the new one. Retention never
// touches them: they are not ".xml" files.
class FileJobMarkStore final : public JobMarkStore {
 public:
  std::optional<JobMark> load(std::string_view printer) override;
  bool save(std::string_view printer, const JobMark& mark) override;

  // The mark file of a printer.
  static std::string PathOf(std::string_view printer);
};

// The marks in memory, shared by the watchers given the same object
// (tests).
class MemoryJobMarkStore final : public JobMarkStore {
 public:
  std::optional<JobMark> load(std::string_view printer) override;
  bool save(std::string_view printer, const JobMark& mark) override;

 private:
  std::mutex mutex_;
  std::map<std::string, JobMark, std::less<>> marks_;
};

}  // namespace engine
