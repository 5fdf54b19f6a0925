// The file-backed registry store on any names and data, in a key folder
// under a temporary root: what is written reads back, listing finds it, and
// stray folder and file names (as anyone with access to the store could
// leave) neither fail nor hang a reader.
#include <fuzzer/FuzzedDataProvider.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/log.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

// One temporary root for the whole run, removed at exit.
struct Root {
  Root() {
    char pattern[] = "/tmp/quillmark-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    Check(made != nullptr, "no temporary folder");
    path = made;
  }
  ~Root() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The store's warnings about the stray entries planted here are expected.
  static const bool quiet = (platform::SetLogSink([](platform::LogLevel, std::string_view) {}), true);
  (void)quiet;
  static Root root;
  FuzzedDataProvider in(data, size);
  const std::string keyName = in.ConsumeRandomLengthString(40);
  const std::string valueName = in.ConsumeRandomLengthString(40);
  const std::string stray = in.ConsumeRandomLengthString(40);
  const bool strayIsFolder = in.ConsumeBool();
  const std::string bytes = in.ConsumeRemainingBytesAsString();

  std::error_code ec;
  fs::remove_all(root.path / "store", ec);
  auto registry = platform::MakeFileRegistry(root.path / "store");
  const std::string path = "Software\\Quillmark\\" + keyName;
  auto created = registry->CreateKey(platform::Hive::kLocalMachine, path, platform::kKeyWrite);
  if (!created) return 0;  // a key name the file system refuses (too long)
  auto& key = *created;

  // A stray entry in the key's folder, named anything a file name may be.
  const fs::path folder = root.path / "store" / "HKLM" / "software" / "quillmark";
  if (!stray.empty() && stray.find('/') == std::string::npos && stray.find('\0') == std::string::npos &&
      stray != "." && stray != ".." && stray.size() < 200) {
    if (strayIsFolder) {
      fs::create_directory(folder / stray, ec);
    } else {
      ::mkfifo((folder / stray).c_str(), 0600);
    }
  }

  const platform::Status set = key->SetValue(valueName, platform::RegType::kBinary, bytes.data(),
                                             static_cast<std::uint32_t>(bytes.size()));
  if (set.IsOk()) {
    std::string back(bytes.size(), '\0');
    std::uint32_t length = static_cast<std::uint32_t>(back.size());
    platform::RegType type = platform::RegType::kNone;
    Check(key->QueryValue(valueName, &type, back.data(), &length).IsOk(), "a written value does not read");
    Check(type == platform::RegType::kBinary && length == bytes.size() && back == bytes,
          "a value reads back other than written");
    bool listed = false;
    for (const auto& v : key->Values()) listed = listed || (v.name == valueName && v.data == bytes);
    Check(listed, "a written value is not listed");
  }

  // Readers of the parent key go through every stray entry without failing.
  auto parent = registry->OpenKey(platform::Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyRead);
  Check(parent.HasValue(), "the parent key does not open");
  (void)(*parent)->SubKeys();
  (void)(*parent)->Values();
  return 0;
}
