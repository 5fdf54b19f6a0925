#include "engine/job_mark_store.h"

#include "common/name_filter.h"
#include "common/text_file.h"
#include "engine/app_folder.h"
#include "platform/file_system.h"
#include "platform/log.h"

namespace engine {

std::string FileJobMarkStore::PathOf(std::string_view printer) {
  return AppFile("\\Logs\\Marks\\" + common::SafeFolderName(printer) + ".mark");
}

std::optional<JobMark> FileJobMarkStore::load(std::string_view printer) {
  return ParseJobMark(ReadTextFile(PathOf(printer)));
}

bool FileJobMarkStore::save(std::string_view printer, const JobMark& mark) {
  platform::CreateFolder(AppFile("\\Logs"));
  platform::CreateFolder(AppFile("\\Logs\\Marks"));
  // Saved after every job logged: the moment between a record and its
  // mark, when a killed engine would log the job again, stays as short as
  // the rename. Not flushed to disk: the log records are not either.
  const std::string path = PathOf(printer);
  if (platform::Status saved = platform::ReplaceFileBytes(path, common::ToTextMode(FormatJobMark(mark)), false); !saved) {
    // Once while it lasts: a mark is saved after every job.
    platform::LogFailureOnce("mark " + path, "catch-up mark not saved", saved);
    return false;
  }
  platform::LogRecovered("mark " + path, "saving the catch-up mark " + path);
  return true;
}

std::optional<JobMark> MemoryJobMarkStore::load(std::string_view printer) {
  std::lock_guard lock(mutex_);
  auto it = marks_.find(printer);
  if (it == marks_.end()) return std::nullopt;
  return it->second;
}

bool MemoryJobMarkStore::save(std::string_view printer, const JobMark& mark) {
  std::lock_guard lock(mutex_);
  marks_.insert_or_assign(std::string(printer), mark);
  return true;
}

}  // namespace engine
