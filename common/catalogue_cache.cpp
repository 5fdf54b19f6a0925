#include "common/catalogue_cache.h"

#include "common/catalogue_text.h"
#include "common/text_file.h"
#include "platform/log.h"

namespace common {

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
  loaded_ = true;
}

bool CatalogueCache::Occurs(std::string_view user) {
  if (present_.count(std::string(user))) return true;
  if (text_.find(user) == std::string::npos) return false;
  present_.insert(std::string(user));
  return true;
}

std::string CatalogueCache::PrinterIdRegisteringUser(const std::string& path,
                                                     std::string_view printer,
                                                     std::string_view user) {
  std::lock_guard guard(mutex_);
  platform::FileLock lock(path + ".lock");
  if (!lock.locked()) platform::LogFailureOnce("lock " + path, "catalogue read without its lock", lock.status());
  Refresh(path);
  std::string id;
  if (auto it = ids_.find(std::string(printer)); it != ids_.end()) id = it->second;

  if (!user.empty() && !Occurs(user)) {
    AddUserIfMissing(text_, user);
    if (platform::Status written = ReplaceTextFile(path, text_); written) {
      present_.insert(std::string(user));
      stamp_ = platform::StampOf(path);
    } else {
      loaded_ = false;  // the copy holds a change the file does not
      platform::LogWarning("user " + std::string(user) + " not added to the catalogue", written);
    }
  }
  return id;
}

unsigned long long CatalogueCache::reads() const {
  std::lock_guard guard(mutex_);
  return reads_;
}

}  // namespace common
