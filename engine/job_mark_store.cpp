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

std::string FileJobMarkStore::JournalOf(std::string_view printer) {
  return AppFile("\\Logs\\Marks\\" + common::SafeFolderName(printer) + ".journal");
}

namespace {
constexpr std::string_view kJournalStart = "quillmark-mark 1\n";
constexpr std::string_view kJournalEnd = "end\n";
// The journal is started afresh once it holds this much.
constexpr std::uint64_t kJournalLimit = 64 * 1024;
}  // namespace

std::optional<JobMark> FileJobMarkStore::Load(std::string_view printer) {
  std::optional<JobMark> mark = ParseJobMark(ReadTextFile(PathOf(printer)));
  if (!mark || mark->pending) return mark;
  // The journal counts only when whole and for the job after the mark's
  // last: one the mark caught up with, or one left by an earlier mark
  // (a printer watched afresh), is no longer pending.
  std::string journal = ReadTextFile(JournalOf(printer));
  if (journal.size() < kJournalEnd.size() || !journal.ends_with(kJournalEnd)) return mark;
  journal.resize(journal.size() - kJournalEnd.size());
  // The last note, whole.
  const std::size_t last = journal.rfind(kJournalStart);
  if (last == std::string::npos || (last != 0 && journal[last - 1] != '\n')) return mark;
  std::optional<JobMark> note = ParseJobMark(std::string_view(journal).substr(last));
  if (note && note->pending && note->sequence == mark->sequence + 1) mark->pending = std::move(note->pending);
  return mark;
}

bool FileJobMarkStore::NotePending(std::string_view printer, const JobMark& mark) {
  if (!mark.pending) return Save(printer, mark);
  platform::CreateFolder(AppFile("\\Logs"));
  platform::CreateFolder(AppFile("\\Logs\\Marks"));
  JobMark note;
  note.sequence = mark.sequence + 1;
  note.pending = mark.pending;
  std::string text = FormatJobMark(note);
  text += kJournalEnd;
  const std::string path = JournalOf(printer);
  const platform::Status noted = platform::StampOf(path).size < kJournalLimit
                                     ? platform::AppendFileBytes(path, common::ToTextMode(text))
                                     : platform::WriteFileBytes(path, common::ToTextMode(text));
  if (!noted) {
    // Once while it lasts: a note is written before every record.
    platform::LogFailureOnce(
        "journal " + path,
        "record of job " + std::to_string(note.pending->jobId) + " not noted before it was appended", noted);
    return false;
  }
  platform::LogRecovered("journal " + path, "noting records in " + path);
  return true;
}

bool FileJobMarkStore::Save(std::string_view printer, const JobMark& mark) {
  platform::CreateFolder(AppFile("\\Logs"));
  platform::CreateFolder(AppFile("\\Logs\\Marks"));
  // Saved after every job logged: the moment between a record and its
  // mark, when a killed engine would log the job again, stays as short as
  // the rename. Not flushed to disk: the log records are not either.
  const std::string path = PathOf(printer);
  if (platform::Status saved =
          platform::ReplaceFileBytes(path, common::ToTextMode(FormatJobMark(mark)), false);
      !saved) {
    // Once while it lasts: a mark is saved after every job.
    platform::LogFailureOnce("mark " + path, "catch-up mark not saved", saved);
    return false;
  }
  platform::LogRecovered("mark " + path, "saving the catch-up mark " + path);
  return true;
}

std::optional<JobMark> MemoryJobMarkStore::Load(std::string_view printer) {
  std::lock_guard lock(mutex_);
  auto it = marks_.find(printer);
  if (it == marks_.end()) return std::nullopt;
  return it->second;
}

bool MemoryJobMarkStore::Save(std::string_view printer, const JobMark& mark) {
  std::lock_guard lock(mutex_);
  marks_.insert_or_assign(std::string(printer), mark);
  return true;
}

}  // namespace engine
