#pragma once

// The catalogue (settings.xml) as the log store needs it on every job: a
// printer's identifier and whether a user is listed. The text and both
// lookups stay in memory and are read again only when the file changed
// (its stamp: inode, size, modification and change time), which is checked
// under the catalogue lock that every writer holds. A user that is missing
// is added exactly as RegisterCatalogueUser adds one, replacing the file
// atomically under the same lock.

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/file_system.h"

namespace common {

class CatalogueCache {
 public:
  // The identifier of the printer named exactly `printer` (empty when it
  // has no entry; the last entry of that name wins), after adding `user`
  // to the catalogue at `path` unless the name occurs anywhere in it.
  // Safe to call from several threads.
  std::string PrinterIdRegisteringUser(const std::string& path, std::string_view printer,
                                       std::string_view user);

  // How often the file was read; for tests and benchmarks.
  unsigned long long reads() const;

 private:
  void Refresh(const std::string& path);
  bool Occurs(std::string_view user);

  mutable std::mutex mutex_;
  std::string path_;
  bool loaded_ = false;
  platform::FileStamp stamp_;
  std::string text_;
  std::unordered_map<std::string, std::string> ids_;
  // Names known to occur in text_: the listed users, and every name a
  // search found.
  std::unordered_set<std::string> present_;
  unsigned long long reads_ = 0;
};

}  // namespace common
