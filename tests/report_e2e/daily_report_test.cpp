// The real host and engine library, under a fixed date, mail yesterday's
// log through the real mailer to a local SMTP server.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/scramble.h"
#include "engine/report_thread.h"
#include "tests/foundation/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using common::QuillmarkValue;

constexpr const char* kFakeTime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
const std::string kScripts = std::string(QM_SOURCE_DIR) + "/tests/report_e2e";

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return pred();
}

// A child process, killed and reaped when the object goes.
class Child {
 public:
  Child() = default;
  explicit Child(pid_t pid) : pid_(pid) {}
  Child(Child&& o) noexcept : pid_(o.pid_) { o.pid_ = -1; }
  Child& operator=(Child&& o) noexcept {
    if (this != &o) {
      Kill(SIGKILL);
      pid_ = o.pid_;
      o.pid_ = -1;
    }
    return *this;
  }
  ~Child() { Kill(SIGKILL); }
  int Kill(int signal) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signal);
    int status = 0;
    for (int i = 0; i < 300 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(10ms);
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
};

// Starts the SMTP sink and returns its port.
int StartSink(const fs::path& folder, Child& child) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    const std::string script = kScripts + "/smtp_sink.py";
    ::execl("/usr/bin/python3", "python3", script.c_str(), folder.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  child = Child(pid);
  std::string line;
  char c;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(fds[0]);
  int port = -1;
  std::sscanf(line.c_str(), "PORT %d", &port);
  return port;
}

// Runs the host with the clock starting at `when` (UTC).
Child StartHost(const ScratchRegistry& scratch, const char* when) {
  pid_t pid = ::fork();
  if (pid == 0) {
    setenv("QUILLMARK_REGISTRY", scratch.RegistryRoot().c_str(), 1);
    setenv("TZ", "UTC", 1);
    setenv("FAKETIME_DONT_FAKE_MONOTONIC", "1", 1);
    const std::string host = std::string(QM_APP_DIR) + "/quillcore-host";
    // libfaketime directly rather than its wrapper, so that the host is
    // this child itself and a signal reaches it.
    setenv("LD_PRELOAD", kFakeTime, 1);
    // In a sanitizer build the preloaded library comes ahead of the
    // sanitizer runtime, which is fine for this test.
    std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
    setenv("FAKETIME", (std::string("@") + when).c_str(), 1);
    ::execl(host.c_str(), host.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return Child(pid);
}

std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

void SetText(const char* name, const std::string& v) { CRegString(QuillmarkValue(name)).Set(v).Write(); }
void SetScrambled(const char* name, const std::string& v) { SetText(name, common::Scramble(v)); }
std::string Text(const char* name) { return CRegString(QuillmarkValue(name)).Get(); }

class DailyReport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kFakeTime)) << "faketime is not installed";
    app_ = scratch_.Folder() / "app";
    fs::create_directories(app_ / "Logs");
    fs::create_symlink(fs::path(QM_APP_DIR) / "Postrider", app_ / "Postrider");
    std::ofstream(app_ / "settings.xml") << "<log><printers></printers></log>";
    std::ofstream(app_ / "Logs" / "d_20261207.xml", std::ios::binary) << dayFile_;
    SetText("AppPath", app_.string());
    CRegDword(QuillmarkValue("EmailAlert")).Set(1).Write();
    SetText("ToSendDay", "20261207");
    SetScrambled("EmailAddress", "a@x.test;B <b@x.test>");
    SetScrambled("SMTPSRV", "127.0.0.1");
    SetScrambled("SMTPAUTH", "None");
    SetScrambled("SMTPEmailAddress", "engine@x.test");
    SetScrambled("SMTPName", "Print Room");
  }

  ScratchRegistry scratch_;
  fs::path app_;
  const std::string dayFile_ =
      std::string(525, ' ') +
      "\r\n<event><day>07</day><month>12</month><year>2026</year><hour>10</hour><min>15</min>"
      "<doc>plan.pdf</doc><pages>3</pages><cost>15</cost><printer>Laser</printer><user>ann</user></event>";
};

TEST_F(DailyReport, YesterdaysLogArrivesAsReportXml) {
  Child sink;
  const fs::path mail = scratch_.Folder() / "mail";
  fs::create_directories(mail);
  const int port = StartSink(mail, sink);
  ASSERT_GT(port, 0);
  CRegDword(QuillmarkValue("SMTPPORT")).Set(static_cast<std::uint32_t>(port)).Write();

  Child host = StartHost(scratch_, "2026-12-08 00:00:30");
  ASSERT_TRUE(WaitFor([&] { return fs::exists(mail / "msg-1.eml"); }, 30s)) << "no mail arrived";
  EXPECT_TRUE(WaitFor([] { return Text("ToSendDay") == "20261208"; }, 10s));
  EXPECT_TRUE(WaitFor([&] { return !fs::exists(app_ / "Logs/Report.xml"); }, 10s));
  EXPECT_EQ(host.Kill(SIGTERM), 0);

  const std::string parsed =
      RunCommand("/usr/bin/python3 " + kScripts + "/read_message.py " + (mail / "msg-1.eml").string());
  const std::string header = engine::ReportHeader(2026, 12, 8);
  const std::string report = header + dayFile_.substr(header.size()) + "</log>";
  EXPECT_NE(parsed.find("SUBJECT Log From Quillmark"), std::string::npos) << parsed;
  EXPECT_NE(parsed.find("ATTACHMENT Report.xml " + Hex(report) + "\n"), std::string::npos) << parsed;
  EXPECT_FALSE(fs::exists(mail / "msg-2.eml"));
  EXPECT_TRUE(fs::exists(app_ / "Logs/d_20261207.xml"));
}

TEST_F(DailyReport, UnreachableServerLeavesTheReportToBeRetried) {
  // A port nobody listens on.
  int closedPort;
  {
    Child sink;
    closedPort = StartSink(scratch_.Folder(), sink);
  }
  ASSERT_GT(closedPort, 0);
  CRegDword(QuillmarkValue("SMTPPORT")).Set(static_cast<std::uint32_t>(closedPort)).Write();
  Child host = StartHost(scratch_, "2026-12-08 00:00:30");
  // The mailer ran and failed: the report is gone, the day not recorded.
  ASSERT_TRUE(WaitFor([] { return CRegString(QuillmarkValue("ToSendFile")).Get().size() > 0; }, 30s));
  EXPECT_TRUE(WaitFor([&] { return !fs::exists(app_ / "Logs/Report.xml"); }, 15s));
  // The pass that removed the report finishes before the engine ends, so once
  // it has ended the day it would have recorded is there to read.
  EXPECT_EQ(host.Kill(SIGTERM), 0);
  EXPECT_EQ(Text("ToSendDay"), "20261207");
}

}  // namespace
