#include "common/catalogue_cache.h"

#include <chrono>
#include <utility>

#include "common/catalogue_text.h"
#include "common/text_file.h"
#include "platform/log.h"
#include "platform/replacement_file.h"

namespace common {
namespace {

constexpr std::chrono::milliseconds kGather{200};

}  // namespace

CatalogueCache::~CatalogueCache() {
  // The writer sees the stop request only once nothing waits any more.
  if (writer_.joinable()) {
    writer_.request_stop();
    writer_.join();
  }
}

void CatalogueCache::Refresh(const std::string& path) {
  const platform::FileStamp now = platform::StampOf(path);
  if (loaded_ && path == path_ && now == stamp_) return;
  // Taken before the read: should the file change in between, the next
  // look finds a stamp that differs and reads it again.
  path_ = path;
  stamp_ = now;
  text_ = ReadTextFile(path);
  ++reads_;
  ids_.clear();
  for (CataloguePrinter& p : ListPrinters(text_)) ids_[std::move(p.name)] = std::move(p.id);
  present_.clear();
  for (std::string& u : ListUsers(text_)) present_.insert(std::move(u));
  // Users not written yet are added to the new text as they were to the
  // old: the writer then writes them into what the others wrote.
  for (const std::string& u : pending_) {
    AddUserIfMissing(text_, u);
    present_.insert(u);
  }
  loaded_ = true;
}

bool CatalogueCache::Occurs(std::string_view user) {
  if (present_.count(std::string(user))) return true;
  if (!OccursInText(text_, user)) return false;
  present_.insert(std::string(user));
  return true;
}

std::string CatalogueCache::PrinterIdRegisteringUser(const std::string& path, std::string_view printer,
                                                     std::string_view user) {
  {
    // Users waiting for another catalogue go there first.
    std::unique_lock guard(mutex_);
    if (!pending_.empty() && path != path_) {
      const unsigned long long target = added_;
      ++flushWaiters_;
      changed_.notify_all();
      changed_.wait(guard, [&] { return finished_ >= target; });
      --flushWaiters_;
    }
  }
  std::string id;
  bool wake = false;
  {
    std::lock_guard guard(mutex_);
    platform::FileLock lock(path + ".lock");
    if (!lock.Locked())
      platform::LogFailureOnce("lock " + path, "catalogue read without its lock", lock.Status());
    Refresh(path);
    if (auto it = ids_.find(std::string(printer)); it != ids_.end()) id = it->second;

    if (!user.empty() && !Occurs(user)) {
      AddUserEntry(text_, user);  // what AddUserIfMissing adds, without a second search
      present_.insert(std::string(user));
      // Only the first user of a burst wakes the writer: it then waits out
      // the gathering time by itself, and a wake for every user would only
      // make this thread yield to it.
      wake = pending_.empty();
      pending_.emplace_back(user);
      ++added_;
      if (!writer_.joinable()) writer_ = std::jthread([this](std::stop_token stop) { Write(stop); });
    }
  }
  if (wake) changed_.notify_all();
  return id;
}

void CatalogueCache::Write(std::stop_token stop) {
  for (;;) {
    {
      std::unique_lock guard(mutex_);
      // After a stop request the waits return at once: what waits is
      // still written.
      if (!changed_.wait(guard, stop, [&] { return !pending_.empty(); })) return;
      // The flush below makes the file system commit its journal, which
      // holds up every other process's and this one's file creations for
      // as long: the users of a burst (a new printer's first jobs, a day's
      // first hour) are gathered into one write.
      changed_.wait_for(guard, stop, kGather, [&] { return flushWaiters_ > 0; });
    }
    WriteOnce();
  }
}

// Why the disk is waited for here and not on the job's path:
//
// The file must survive a power cut as the old catalogue or the new one,
// never empty or partial. A rename reaches the disk with the file system's
// journal, whenever that commits (any process's fsync commits it); the
// new file's data has no such order of its own. Ext4's replace-by-rename
// heuristic (auto_da_alloc) only starts the data's write-back, which its
// authors call no guarantee, and with unwritten extents (dioread_nolock,
// the default since Linux 5.6) the committed rename can name a file of the
// right size that reads as zeros. Other file systems promise less. So the
// temporary file is flushed before the rename, as before; what changed is
// who waits: this thread, with no lock held, while jobs go on against the
// copy in memory. The rename itself happens under the lock, and only when
// the file is still the version the new text was made from; otherwise the
// text is read again (the waiting users re-added) and written afresh.
//
// A process killed during the wait loses the new users from the file, not
// the jobs: the next job of such a user adds it again.
void CatalogueCache::WriteOnce() {
  std::string path, text;
  platform::FileStamp base;
  std::size_t count = 0;
  {
    std::lock_guard guard(mutex_);
    if (pending_.empty()) return;
    path = path_;
    text = text_;
    base = stamp_;
    count = pending_.size();
  }
  auto give_up = [&](const platform::Status& status) {
    platform::LogWarning("new users not added to " + path, status);
    std::lock_guard guard(mutex_);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
    finished_ += count;
    loaded_ = false;  // the copy holds a change the file does not
    changed_.notify_all();
  };

  platform::Result<platform::ReplacementFile> file = platform::ReplacementFile::Create(path);
  if (!file) return give_up(file.Status());
  if (platform::Status s = file->Append(ToTextMode(text)); !s) return give_up(s);
  if (platform::Status s = file->Flush(); !s) return give_up(s);

  std::lock_guard guard(mutex_);
  platform::FileLock lock(path + ".lock");
  if (!lock.Locked())
    platform::LogFailureOnce("lock " + path, "catalogue replaced without its lock", lock.Status());
  if (path != path_ || base != stamp_ || platform::StampOf(path) != base) {
    // Changed meanwhile, by another process or by a job here that read it
    // again: the next round writes the users into the new text.
    Refresh(path);
    return;
  }
  if (platform::Status s = file->Commit(); !s) {
    platform::LogWarning("new users not added to " + path, s);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
    finished_ += count;
    loaded_ = false;
    changed_.notify_all();
    return;
  }
  // Its own write is not read back: the copy already holds it.
  stamp_ = platform::StampOf(path);
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
  finished_ += count;
  changed_.notify_all();
}

void CatalogueCache::Flush() {
  std::unique_lock guard(mutex_);
  const unsigned long long target = added_;
  ++flushWaiters_;
  changed_.notify_all();
  changed_.wait(guard, [&] { return finished_ >= target; });
  --flushWaiters_;
}

unsigned long long CatalogueCache::Reads() const {
  std::lock_guard guard(mutex_);
  return reads_;
}

}  // namespace common
