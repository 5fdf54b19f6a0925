#pragma once

// The catalogue (settings.xml) as the log store needs it on every job: a
// printer's identifier and whether a user is listed. The text and both
// lookups stay in memory and are read again only when the file changed
// (its stamp: inode, size, modification and change time), which is checked
// under the catalogue lock that every writer holds. A user that is missing
// is added to the copy at once, exactly as RegisterCatalogueUser adds one,
// and written to the file by a background thread a moment later: a new
// temporary file, flushed to the disk, renamed over the file under the
// same lock. Users that arrive within a moment of each other, or while one
// write waits for the disk, go into one write.

#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/file_system.h"

namespace common {

class CatalogueCache {
 public:
  CatalogueCache() = default;
  // Writes the users still waiting before it returns.
  ~CatalogueCache();
  CatalogueCache(const CatalogueCache&) = delete;
  CatalogueCache& operator=(const CatalogueCache&) = delete;

  // The identifier of the printer named exactly `printer` (empty when it
  // has no entry; the last entry of that name wins), after adding `user`
  // to the catalogue at `path` unless the name occurs anywhere in it.
  // Safe to call from several threads.
  std::string PrinterIdRegisteringUser(const std::string& path, std::string_view printer,
                                       std::string_view user);

  // Waits until every user added so far is in the file, or its write
  // failed (then it is added again on its next job).
  void Flush();

  // How often the file was read; for tests and benchmarks.
  unsigned long long Reads() const;

 private:
  void Refresh(const std::string& path);
  bool Occurs(std::string_view user);
  void Write(std::stop_token stop);
  void WriteOnce();

  mutable std::mutex mutex_;
  std::condition_variable_any changed_;
  std::string path_;
  bool loaded_ = false;
  platform::FileStamp stamp_;
  std::string text_;
  std::unordered_map<std::string, std::string> ids_;
  // Names known to occur in text_: the listed users, and every name a
  // search found.
  std::unordered_set<std::string> present_;
  // Users in text_ that the file does not list yet, oldest first.
  std::vector<std::string> pending_;
  unsigned long long added_ = 0;     // users ever put in pending_
  unsigned long long finished_ = 0;  // of those, written or given up
  unsigned long long reads_ = 0;
  int flushWaiters_ = 0;  // threads in Flush(): write without gathering
  std::jthread writer_;   // last: stopped (after writing) before the rest goes
};

}  // namespace common
