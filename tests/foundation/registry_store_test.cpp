#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/text_file.h"
#include "tests/foundation/test_support.h"

using platform::Hive;
using platform::RegType;
using platform::StatusCode;

TEST(RegistryStore, KeysMustExistToBeOpenedAndAreCaseInsensitive) {
  ScratchRegistry scratch;
  auto& reg = scratch.Registry();
  EXPECT_TRUE(
      reg.OpenKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyRead).Status().IsNotFound());
  auto created = reg.CreateKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyWrite).Value();
  ASSERT_NE(created, nullptr);
  std::uint32_t one = 1;
  ASSERT_EQ((created->SetValue("Monitoring", RegType::kDword, &one, 4)).Code(), StatusCode::kOk);

  auto opened = reg.OpenKey(Hive::kLocalMachine, "SOFTWARE\\quillmark", platform::kKeyRead).Value();
  ASSERT_NE(opened, nullptr);
  std::uint32_t value = 0, size = 4;
  RegType type = RegType::kNone;
  ASSERT_EQ((opened->QueryValue("MONITORING", &type, &value, &size)).Code(), StatusCode::kOk);
  EXPECT_EQ(type, RegType::kDword);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(opened->Values().at(0).name, "Monitoring");
}

TEST(RegistryStore, QueryReportsSizeAndRefusesShortBuffers) {
  ScratchRegistry scratch;
  auto key =
      scratch.Registry().CreateKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyWrite).Value();
  ASSERT_EQ((key->SetValue("AppPath", RegType::kSz, "/opt/qm", 8)).Code(), StatusCode::kOk);
  std::uint32_t size = 0;
  EXPECT_EQ((key->QueryValue("AppPath", nullptr, nullptr, &size)).Code(), StatusCode::kOk);
  EXPECT_EQ(size, 8u);
  char small[4];
  size = sizeof small;
  EXPECT_EQ((key->QueryValue("AppPath", nullptr, small, &size)).Code(), StatusCode::kMoreData);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ((key->QueryValue("Missing", nullptr, nullptr, &size)).Code(), StatusCode::kNotFound);
}

TEST(RegistryStore, OddValueNamesStaySeparateAndInsideTheKey) {
  ScratchRegistry scratch;
  auto key =
      scratch.Registry().CreateKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyWrite).Value();
  const char* names[] = {"a/b", "..", ".", "", "a%2Fb", "line\nbreak", "../../escape"};
  for (std::uint32_t i = 0; i < std::size(names); ++i) {
    ASSERT_EQ((key->SetValue(names[i], RegType::kDword, &i, 4)).Code(), StatusCode::kOk) << names[i];
  }
  for (std::uint32_t i = 0; i < std::size(names); ++i) {
    std::uint32_t v = 99, size = 4;
    ASSERT_EQ((key->QueryValue(names[i], nullptr, &v, &size)).Code(), StatusCode::kOk) << names[i];
    EXPECT_EQ(v, i) << names[i];
  }
  EXPECT_EQ(key->Values().size(), std::size(names));
  // Nothing was written beside the registry root.
  std::size_t entries = 0;
  for (auto& e : std::filesystem::directory_iterator(scratch.Folder())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

TEST(RegistryStore, FilesAndFoldersAreNotWorldAccessible) {
  ScratchRegistry scratch;
  auto key =
      scratch.Registry().CreateKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyWrite).Value();
  key->SetValue("SMTPPass4MailServer", RegType::kSz, "x", 2);
  for (auto& e : std::filesystem::recursive_directory_iterator(scratch.RegistryRoot())) {
    struct stat st {};
    ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07, 0u) << e.path();
    if (e.is_directory()) {
      EXPECT_EQ(st.st_mode & 07777, 02770u) << e.path();
    } else {
      EXPECT_EQ(st.st_mode & 07777, 0660u) << e.path();
    }
  }
}

// Several processes rewrite one value while others read it: every read
// sees one of the written values whole, never a torn or missing one.
TEST(RegistryStore, ConcurrentWritersNeverExposeHalfAValue) {
  ScratchRegistry scratch;
  {
    auto key =
        scratch.Registry().CreateKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyWrite).Value();
    std::string initial(300, 'a');
    key->SetValue("ToSendFile", RegType::kSz, initial.c_str(), 301);
  }
  std::vector<pid_t> children;
  for (int p = 0; p < 6; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      auto reg = platform::MakeFileRegistry(scratch.RegistryRoot());
      int bad = 0;
      for (int i = 0; i < 300; ++i) {
        if (p % 2 == 0) {
          auto key = reg->CreateKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyWrite);
          std::string text(100 + 100 * (p / 2), static_cast<char>('b' + p));
          if (!key || !(*key)->SetValue("ToSendFile", RegType::kSz, text.c_str(),
                                        static_cast<std::uint32_t>(text.size() + 1))) {
            ++bad;
          }
        } else {
          auto key = reg->OpenKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyRead);
          char buf[1024];
          std::uint32_t size = sizeof buf;
          if (!key || !(*key)->QueryValue("ToSendFile", nullptr, buf, &size)) {
            ++bad;
            continue;
          }
          std::string text(buf, size - 1);
          bool uniform = !text.empty() && text.find_first_not_of(text[0]) == std::string::npos;
          std::size_t expected = text[0] == 'a' ? 300 : 100 + 100 * ((text[0] - 'b') / 2);
          if (!uniform || text.size() != expected || buf[size - 1] != '\0') ++bad;
        }
      }
      _exit(bad == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // No temporary files are left behind.
  for (auto& e : std::filesystem::recursive_directory_iterator(scratch.RegistryRoot())) {
    EXPECT_EQ(e.path().filename().string().rfind(".tmp", 0), std::string::npos) << e.path();
  }
}

namespace {

// Runs quillmark-reg with `args` on the scratch store; its output lands in
// `out`. A command still running after ten seconds is ended (status 124).
int RunRegCommand(const ScratchRegistry& scratch, const std::string& args, std::string& out) {
  const std::string file = (scratch.Folder() / "reg-out").string();
  const std::string command = "QUILLMARK_REGISTRY=" + scratch.RegistryRoot().string() + " timeout 10 " +
                              QM_APP_DIR + "/quillmark-reg " + args + " >" + file + " 2>&1 </dev/null";
  const int status = std::system(command.c_str());
  out = ReadTextFile(file);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

}  // namespace

// A FIFO planted where a value file belongs must not hold up its readers:
// the value reads as damaged, at once, for the store and for the command.
TEST(RegistryStore, AFifoInPlaceOfAValueFileIsRefusedWithoutBlocking) {
  ScratchRegistry scratch;
  auto key =
      scratch.Registry().CreateKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyWrite).Value();
  ASSERT_NE(key, nullptr);
  std::uint32_t one = 1;
  ASSERT_EQ((key->SetValue("Monitoring", RegType::kDword, &one, 4)).Code(), StatusCode::kOk);
  const auto folder = scratch.RegistryRoot() / "HKLM" / "software" / "quillmark";
  ASSERT_EQ(::mkfifo((folder / "=smtpsrv").c_str(), 0600), 0) << std::strerror(errno);

  // Run on a thread of its own, so that a reader that does block fails the
  // test instead of hanging the run.
  std::promise<std::pair<StatusCode, std::size_t>> done;
  auto result = done.get_future();
  std::thread([&scratch, &done] {
    auto reader =
        scratch.Registry().OpenKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyRead).Value();
    std::uint32_t size = 0;
    const StatusCode status = reader->QueryValue("SMTPSRV", nullptr, nullptr, &size).Code();
    done.set_value({status, reader->Values().size()});
  }).detach();
  if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Release the reader by opening the FIFO for writing (as often as it
    // opens it), then fail.
    do {
      const int fd = ::open((folder / "=smtpsrv").c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    } while (result.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready);
    FAIL() << "a reader blocked on the FIFO";
  }
  const auto [status, values] = result.get();
  EXPECT_NE(status, StatusCode::kOk);
  EXPECT_NE(status, StatusCode::kNotFound);
  EXPECT_EQ(values, 1u);  // the real value, not the FIFO

  std::string out;
  EXPECT_NE(RunRegCommand(scratch, "query 'HKLM\\Software\\Quillmark' /v SMTPSRV", out), 0);
  EXPECT_EQ(RunRegCommand(scratch, "query 'HKLM\\Software\\Quillmark'", out), 0) << out;
  EXPECT_NE(out.find("Monitoring"), std::string::npos) << out;
}

// A folder under a key whose name this store did not write (a '%' without
// two hex digits) is not a subkey; listing the key goes on without it.
TEST(RegistryStore, FoldersWithMalformedEscapesAreNotSubkeys) {
  ScratchRegistry scratch;
  auto key = scratch.Registry()
                 .CreateKey(Hive::kLocalMachine, "Software\\Quillmark\\Good%Name", platform::kKeyWrite)
                 .Value();
  ASSERT_NE(key, nullptr);
  const auto folder = scratch.RegistryRoot() / "HKLM" / "software" / "quillmark";
  for (const char* bad : {"%zz", "bad%", "bad%4", "%g1"})
    ASSERT_EQ(::mkdir((folder / bad).c_str(), 0700), 0) << bad;

  auto parent =
      scratch.Registry().OpenKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyRead).Value();
  ASSERT_NE(parent, nullptr);
  std::vector<std::string> subkeys;
  ASSERT_NO_THROW(subkeys = parent->SubKeys());
  EXPECT_EQ(subkeys, std::vector<std::string>{"good%name"});

  std::string out;
  EXPECT_EQ(RunRegCommand(scratch, "query 'HKLM\\Software\\Quillmark'", out), 0) << out;
  EXPECT_NE(out.find("good%name"), std::string::npos) << out;
}
