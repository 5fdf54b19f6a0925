// Drives the real host and engine library as separate processes.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "tests/foundation/test_support.h"

using common::QuillmarkValue;
using namespace std::chrono_literals;

namespace {

pid_t StartHost(const ScratchRegistry& scratch) {
  pid_t pid = fork();
  if (pid == 0) {
    setenv("QUILLMARK_REGISTRY", scratch.RegistryRoot().c_str(), 1);
    std::string host = std::string(QM_APP_DIR) + "/quillcore-host";
    execl(host.c_str(), host.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return pred();
}

int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  if (pid <= 0) return -1;  // never signal a process group or every process
  auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(10ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

}  // namespace

TEST(Host, SwitchesMonitoringOnAndStopsCleanlyOnSigterm) {
  ScratchRegistry scratch;
  std::string app = (scratch.Folder() / "app").string();
  std::filesystem::create_directories(app);
  common::WriteTextFile(app + "/settings.xml",
                        "<log><printers><name>P</name><ID>1</ID><cost>1</cost><monitored>1</monitored>"
                        "</printers></log>");
  CRegString(QuillmarkValue("AppPath")).Set(app);

  auto seconds = [] {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
  };
  const std::uint32_t started = seconds();
  pid_t host = StartHost(scratch);
  ASSERT_GT(host, 0);
  EXPECT_TRUE(WaitFor([] { return CRegDword(QuillmarkValue("Monitoring")).Get() == 1; }, 5s));
  // The first pass ran: Reset was set to 1 and cleared again.
  EXPECT_TRUE(WaitFor(
      [&] {
        auto key = scratch.Registry().OpenKey(platform::Hive::kLocalMachine, "Software\\Quillmark",
                                              platform::kKeyRead);
        std::uint32_t v = 1, size = 4;
        return key && (*key)->QueryValue("Reset", nullptr, &v, &size).IsOk() && v == 0;
      },
      5s));
  // ... and told the time it ran, by the system clock.
  const std::uint32_t heartbeat = CRegDword(QuillmarkValue("Heartbeat")).Get();
  EXPECT_GE(heartbeat, started);
  EXPECT_LE(heartbeat, seconds());

  auto before = std::chrono::steady_clock::now();
  kill(host, SIGTERM);
  EXPECT_EQ(WaitExit(host, 2s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
}

TEST(Host, SigintEndsItToo) {
  ScratchRegistry scratch;
  pid_t host = StartHost(scratch);
  ASSERT_GT(host, 0);
  EXPECT_TRUE(WaitFor([] { return CRegDword(QuillmarkValue("Monitoring")).Get() == 1; }, 5s));
  kill(host, SIGINT);
  EXPECT_EQ(WaitExit(host, 2s), 0);
}

TEST(Host, MissingLibraryIsAClearFailure) {
  ScratchRegistry scratch;
  std::string lonely = (scratch.Folder() / "quillcore-host").string();
  std::filesystem::copy_file(std::string(QM_APP_DIR) + "/quillcore-host", lonely);
  // The host needs its platform library beside it, but no engine.
  std::filesystem::copy_file(std::string(QM_APP_DIR) + "/libqmplatform.so",
                             scratch.Folder() / "libqmplatform.so");
  std::string cmd = "QUILLMARK_REGISTRY=" + scratch.RegistryRoot().string() + " " + lonely + " 2>" +
                    (scratch.Folder() / "err").string();
  int status = std::system(cmd.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(ReadTextFile((scratch.Folder() / "err").string()).find("libquillcore.so"), std::string::npos);
}

TEST(RegTool, RoundTripsAndRejectsBadArguments) {
  ScratchRegistry scratch;
  std::string tool =
      "QUILLMARK_REGISTRY=" + scratch.RegistryRoot().string() + " " + QM_APP_DIR + "/quillmark-reg ";
  std::string out = (scratch.Folder() / "out").string();
  auto run = [&](const std::string& args) {
    int status = std::system((tool + args + " >" + out + " 2>&1 </dev/null").c_str());
    return WEXITSTATUS(status);
  };
  EXPECT_EQ(run("add 'HKLM\\Software\\Quillmark' /v DeleteLogsDays /t REG_DWORD /d 30"), 0);
  EXPECT_EQ(run("add 'HKLM\\Software\\Quillmark' /v AppPath /t REG_SZ /d '/opt/quill mark'"), 0);
  EXPECT_EQ(CRegDword(QuillmarkValue("DeleteLogsDays")).Get(), 30u);
  EXPECT_EQ(CRegString(QuillmarkValue("AppPath")).Get(), "/opt/quill mark");

  EXPECT_EQ(run("query 'HKLM\\Software\\Quillmark' /v deletelogsdays"), 0);
  EXPECT_NE(ReadTextFile(out).find("DeleteLogsDays    REG_DWORD    0x1e"), std::string::npos);

  // Overwriting needs /f when nobody can be asked.
  EXPECT_NE(run("add 'HKLM\\Software\\Quillmark' /v DeleteLogsDays /t REG_DWORD /d 0x10"), 0);
  EXPECT_EQ(run("add 'HKLM\\Software\\Quillmark' /v DeleteLogsDays /t REG_DWORD /d 0x10 /f"), 0);
  EXPECT_EQ(CRegDword(QuillmarkValue("DeleteLogsDays")).Get(), 16u);

  EXPECT_NE(run("add 'HKLM\\Software\\Quillmark' /v X /t REG_DWORD /d abc"), 0);
  EXPECT_NE(run("add 'HKLM\\Software\\Quillmark' /v X /t REG_DWORD /d 4294967296"), 0);
  EXPECT_NE(run("add 'HKLM\\Software\\Quillmark' /v X /t REG_BINARY /d 00"), 0);
  EXPECT_NE(run("add 'BOGUS\\Software' /v X /d 1"), 0);
  EXPECT_NE(run("frobnicate 'HKLM\\Software\\Quillmark'"), 0);
  EXPECT_NE(run("query 'HKLM\\Software\\Quillmark' /v Missing"), 0);

  EXPECT_EQ(run("delete 'HKLM\\Software\\Quillmark' /v AppPath /f"), 0);
  EXPECT_EQ(CRegString(QuillmarkValue("AppPath"), "gone").Get(), "gone");
}
