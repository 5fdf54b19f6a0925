// File-backed registry store.
//
// Layout under the root: one folder per hive ("HKLM", "HKCU"), one folder
// per key component, and one file per value named "=" followed by the
// encoded value name. Names are folded to lower case (the registry is
// case-insensitive) and every byte that is not a lower-case letter, a digit,
// '-' or '_' is written as %XX, so that a name with a slash, dots or control
// characters is stored safely as one file name. A value file holds a small
// header (magic, type, the name as written) followed by the data.
//
// A value is replaced by writing a temporary file in the same folder and
// renaming it over the old one: a reader sees the old or the new value,
// never half of one.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <set>

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/percent_escape.h"
#include "platform/posix/inotify_value_watch.h"
#include "platform/posix/registry_root.h"
#include "platform/registry.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr char kMagic[4] = {'Q', 'M', 'R', 'V'};
constexpr mode_t kFolderMode = 02770;
constexpr mode_t kFileMode = 0660;

std::vector<std::string> SplitKeyPath(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint32_t GetU32(const char* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  return v;
}

Status FromErrno(int err, const std::string& what, const fs::path& file) {
  return Status::FromSystem(err, what + " " + file.string());
}

// A file descriptor, closed when the object goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Reads a whole value file; false with errno set on failure. Only a regular
// file is read: a FIFO or device planted where a value belongs would block
// or feed its reader forever, and a symbolic link could point outside the
// store, so the file is opened without blocking and without following links
// and refused (EINVAL) when it is anything else.
bool ReadWhole(const fs::path& file, std::string& out) {
  const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY));
  if (fd.Get() < 0) return false;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return false;
  }
  out.clear();
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd.Get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;  // the descriptor's close leaves errno as read set it
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return true;
}

struct ParsedValue {
  RegType type = RegType::kNone;
  std::string name;
  std::string data;
};

bool Parse(const std::string& raw, ParsedValue& out) {
  if (raw.size() < 12 || std::memcmp(raw.data(), kMagic, 4) != 0) return false;
  out.type = static_cast<RegType>(GetU32(raw.data() + 4));
  std::uint32_t nameLen = GetU32(raw.data() + 8);
  if (raw.size() < 12 + static_cast<size_t>(nameLen)) return false;
  out.name = raw.substr(12, nameLen);
  out.data = raw.substr(12 + nameLen);
  return true;
}

Status MakeFolder(const fs::path& folder) {
  if (::mkdir(folder.c_str(), kFolderMode) == 0) {
    ::chmod(folder.c_str(), kFolderMode);  // the umask may have cut bits
    return Status::Ok();
  }
  if (errno != EEXIST) return FromErrno(errno, "create registry key", folder);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return FromErrno(errno, "create registry key", folder);
  if (!S_ISDIR(st.st_mode))
    return Status(StatusCode::kAlreadyExists, "registry key " + folder.string() + " is not a folder");
  return Status::Ok();
}

Status MakeFolders(const fs::path& folder) {
  fs::path current;
  for (const auto& part : folder) {
    current /= part;
    if (current == current.root_path()) continue;
    if (Status made = MakeFolder(current); !made) return made;
  }
  return Status::Ok();
}

// A writer killed between creating its temporary file and renaming it
// leaves the file behind. Writers remove such files once they are older
// than any write can take; a younger one may still be in use.
constexpr std::chrono::seconds kStaleTemporaryAge{60};

void RemoveStaleTemporaries(const fs::path& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  const auto now = std::chrono::system_clock::to_time_t(Clock::Default().Now());
  while (dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, ".tmp.", 5) != 0) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (now - st.st_mtime >= kStaleTemporaryAge.count()) ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

class FileKey final : public RegistryKey {
 public:
  explicit FileKey(fs::path folder) : folder_(std::move(folder)) {}

  Status QueryValue(std::string_view name, RegType* type, void* data, std::uint32_t* size) override {
    std::string raw;
    const fs::path file = ValueFile(name);
    if (!ReadWhole(file, raw)) return FromErrno(errno, "read registry value", file);
    ParsedValue v;
    if (!Parse(raw, v))
      return Status(StatusCode::kInvalidArgument, "damaged registry value " + file.string());
    if (type) *type = v.type;
    auto needed = static_cast<std::uint32_t>(v.data.size());
    if (!size) {
      if (data)
        return Status(StatusCode::kInvalidArgument,
                      "registry value " + file.string() + " queried without a size");
      return Status::Ok();
    }
    if (!data) {
      *size = needed;
      return Status::Ok();
    }
    if (*size < needed) {
      *size = needed;
      return Status(StatusCode::kMoreData, "registry value " + file.string());
    }
    std::memcpy(data, v.data.data(), needed);
    *size = needed;
    return Status::Ok();
  }

  Status SetValue(std::string_view name, RegType type, const void* data, std::uint32_t size) override {
    std::string content(kMagic, 4);
    PutU32(content, static_cast<std::uint32_t>(type));
    PutU32(content, static_cast<std::uint32_t>(name.size()));
    content.append(name);
    if (size) content.append(static_cast<const char*>(data), size);

    RemoveStaleTemporaries(folder_);
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    fs::path tmp = folder_ / (".tmp." + std::to_string(::getpid()) + "." + std::to_string(rng()));
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
    if (fd < 0) return FromErrno(errno, "create", tmp);
    ::fchmod(fd, kFileMode);
    const char* p = content.data();
    size_t left = content.size();
    while (left > 0) {
      ssize_t n = ::write(fd, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        int err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        return FromErrno(err, "write", tmp);
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
      int err = errno;
      ::unlink(tmp.c_str());
      return FromErrno(err, "flush", tmp);
    }
    if (::rename(tmp.c_str(), ValueFile(name).c_str()) != 0) {
      int err = errno;
      ::unlink(tmp.c_str());
      return FromErrno(err, "replace registry value", ValueFile(name));
    }
    return Status::Ok();
  }

  Result<std::chrono::system_clock::time_point> ValueWriteTime(std::string_view name) override {
    struct stat st {};
    if (::stat(ValueFile(name).c_str(), &st) != 0) return FromErrno(errno, "stat", ValueFile(name));
    auto since = std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec);
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(since));
  }

  Status DeleteValue(std::string_view name) override {
    if (::unlink(ValueFile(name).c_str()) != 0)
      return FromErrno(errno, "delete registry value", ValueFile(name));
    return Status::Ok();
  }

  std::vector<RegValueInfo> Values() override {
    std::vector<RegValueInfo> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
      std::string file = entry.path().filename().string();
      if (file.empty() || file[0] != '=') continue;
      std::string raw;
      ParsedValue v;
      if (!ReadWhole(entry.path(), raw)) {
        LogWarning("registry value skipped", Status::LastError("read " + entry.path().string()));
        continue;
      }
      if (!Parse(raw, v)) {
        LogWarning("registry value skipped: damaged " + entry.path().string());
        continue;
      }
      out.push_back({v.name, v.type, v.data});
    }
    return out;
  }

  std::vector<std::string> SubKeys() override {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
      std::string file = entry.path().filename().string();
      if (file.empty() || file[0] == '=' || file[0] == '.') continue;
      if (!entry.is_directory(ec)) continue;
      // A folder this store did not name is not one of its keys.
      if (auto name = PercentUnescape(file)) out.push_back(std::move(*name));
    }
    return out;
  }

 private:
  fs::path ValueFile(std::string_view name) const { return folder_ / ("=" + FoldedFileName(name)); }

  fs::path folder_;
};

class FileRegistry final : public Registry {
 public:
  explicit FileRegistry(fs::path root) : root_(std::move(root)) {}

  Result<std::unique_ptr<RegistryKey>> OpenKey(Hive hive, std::string_view path, std::uint32_t) override {
    fs::path folder = KeyFolder(hive, path);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return FromErrno(errno, "open registry key", folder);
    if (!S_ISDIR(st.st_mode))
      return Status(StatusCode::kNotFound, "registry key " + folder.string() + " is not a folder");
    if (::access(folder.c_str(), R_OK | X_OK) != 0) return FromErrno(errno, "open registry key", folder);
    return std::unique_ptr<RegistryKey>(std::make_unique<FileKey>(folder));
  }

  Result<std::unique_ptr<RegistryKey>> CreateKey(Hive hive, std::string_view path, std::uint32_t) override {
    fs::path folder = KeyFolder(hive, path);
    if (Status made = MakeFolders(folder); !made) return made;
    return std::unique_ptr<RegistryKey>(std::make_unique<FileKey>(folder));
  }

  Status DeleteKey(Hive hive, std::string_view path) override {
    if (SplitKeyPath(path).empty()) return Status(StatusCode::kAccessDenied, "delete a whole hive");
    fs::path folder = KeyFolder(hive, path);
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
      return Status(StatusCode::kNotFound, "registry key " + folder.string());
    fs::remove_all(folder, ec);
    if (ec) return Status::FromSystem(ec.value(), "delete registry key " + folder.string());
    return Status::Ok();
  }

  // Value files are replaced by a rename into the key's folder, which the
  // kernel reports; polling stands in while the folder does not exist.
  std::unique_ptr<ValueWatch> WatchValues(Hive hive, std::string_view path,
                                          std::vector<std::string> names) override {
    std::set<std::string> files;
    for (const auto& name : names) files.insert("=" + FoldedFileName(name));
    auto fallback = Registry::WatchValues(hive, path, std::move(names));
    return MakeInotifyValueWatch(KeyFolder(hive, path), std::move(files), std::move(fallback));
  }

 private:
  fs::path KeyFolder(Hive hive, std::string_view path) const {
    fs::path folder = root_ / (hive == Hive::kLocalMachine ? "HKLM" : "HKCU");
    for (const auto& part : SplitKeyPath(path)) folder /= FoldedFileName(part);
    return folder;
  }

  fs::path root_;
};

}  // namespace

RegistryKey::~RegistryKey() = default;
Registry::~Registry() = default;

std::unique_ptr<Registry> MakeFileRegistry(std::filesystem::path root) {
  return std::make_unique<FileRegistry>(std::move(root));
}

std::filesystem::path RegistryRootFromEnvironment() {
  const char* env = std::getenv("QUILLMARK_REGISTRY");
  if (env && *env) return env;
  return posix::kDefaultRegistryRoot;
}

namespace {
Registry* g_override = nullptr;
}

Registry& Registry::Default() {
  if (g_override) return *g_override;
  static std::unique_ptr<Registry> store = MakeFileRegistry(RegistryRootFromEnvironment());
  return *store;
}

Registry* Registry::SetDefault(Registry* registry) {
  Registry* old = g_override;
  g_override = registry;
  return old;
}

}  // namespace platform
