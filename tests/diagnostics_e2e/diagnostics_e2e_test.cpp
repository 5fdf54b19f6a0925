// What an administrator reads on standard error (the journal, for the
// service) when the engine cannot do its work: the real host and engine
// library with no CUPS server to reach, with a CUPS server that goes away,
// with a Logs folder it may not write to, and mailing through the real
// mailer to a server that refuses the login. Each failure is one line that
// says what failed and why, and no password ever appears.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/scramble.h"
#include "mailer/base64_coder.h"
#include "tests/foundation/test_support.h"
#include "tests/support/private_cupsd.h"
#include "tests/support/read_file.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using common::QuillmarkValue;

constexpr const char* kFakeTime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";

std::string Slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The lines of `text` holding every one of `parts`.
std::vector<std::string> LinesWith(const std::string& text, const std::vector<std::string>& parts) {
  std::vector<std::string> out;
  for (const std::string& line : Lines(text)) {
    bool all = true;
    for (const std::string& part : parts) all = all && line.find(part) != std::string::npos;
    if (all) out.push_back(line);
  }
  return out;
}

// The real host, its standard error going to a file; killed and reaped
// with the object. Only the process this object started is ever signalled.
class Host {
 public:
  // `environment`: NAME=value pairs set in the host before it starts;
  // a pair "NAME" alone removes the variable.
  Host(const fs::path& errorFile, const std::vector<std::string>& environment) : errorFile_(errorFile) {
    const std::string host = std::string(QM_APP_DIR) + "/quillcore-host";
    pid_ = ::fork();
    if (pid_ == 0) {
      if (!std::freopen(errorFile.c_str(), "w", stderr)) ::_exit(126);
      for (const std::string& pair : environment) {
        const auto eq = pair.find('=');
        if (eq == std::string::npos) {
          ::unsetenv(pair.c_str());
        } else {
          ::setenv(pair.substr(0, eq).c_str(), pair.substr(eq + 1).c_str(), 1);
        }
      }
      ::execl(host.c_str(), host.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Host() { Stop(); }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  bool Started() const { return pid_ > 0; }
  std::string Errors() const { return Slurp(errorFile_); }

  // Waits until the host's standard error has a line with every one of
  // `parts`; false after `limit`.
  bool WaitForLine(const std::vector<std::string>& parts, std::chrono::milliseconds limit = 30s) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
      if (!LinesWith(Errors(), parts).empty()) return true;
      std::this_thread::sleep_for(50ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }

  // SIGTERM, then SIGKILL if it does not end in 10 s; the exit status.
  int Stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  fs::path errorFile_;
  pid_t pid_ = -1;
};

class Diagnostics : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = scratch_.Folder() / "app";
    fs::create_directories(app_);
    Monitor("Front Desk");
    CRegString(QuillmarkValue("AppPath")).Set(app_.string());
  }

  // The catalogue: `printer` alone, monitored.
  void Monitor(const std::string& printer) {
    std::ofstream(app_ / "settings.xml", std::ios::binary)
        << "<log><printers><name>" << printer << "</name><ID>1</ID><cost>5</cost><monitored>1</monitored>"
        << "</printers></log>";
  }

  // The environment of every host: this test's registry and debug lines.
  std::vector<std::string> HostEnvironment() const {
    return {"QUILLMARK_REGISTRY=" + scratch_.RegistryRoot().string(), "QUILLMARK_DEBUG=1", "TZ=UTC",
            "JOURNAL_STREAM"};
  }

  fs::path ErrorFile() const { return scratch_.Folder() / "host.err"; }

  ScratchRegistry scratch_;
  fs::path app_;
};

// ---- The print spooler ------------------------------------------------------

TEST_F(Diagnostics, MissingCupsServerIsOneLineNamingCupsAndTheServer) {
  const std::string server = (scratch_.Folder() / "no-cupsd" / "cups.sock").string();
  std::vector<std::string> environment = HostEnvironment();
  environment.push_back("QUILLMARK_SPOOLER");
  environment.push_back("CUPS_SERVER=" + server);
  Host host(ErrorFile(), environment);
  ASSERT_TRUE(host.Started());

  ASSERT_TRUE(host.WaitForLine({"quillcore-host: warning: ", "Front Desk", "CUPS", server})) << host.Errors();
  EXPECT_EQ(host.Stop(), 0);
  const std::string errors = host.Errors();
  // The watcher tries again every pass; the failure is told once.
  EXPECT_EQ(LinesWith(errors, {"warning", "CUPS", server}).size(), 1u) << errors;
  EXPECT_NE(LinesWith(errors, {"warning", "CUPS", server, "No such file or directory"}).size(), 0u) << errors;
}

TEST_F(Diagnostics, CupsServerThatGoesAwayIsOneLineNamingCups) {
  std::optional<PrivateCupsd> cupsd(std::in_place);
  if (!cupsd->Started()) GTEST_SKIP() << cupsd->Error();
  cupsd->AddQueue("Office");  // CUPS queue names hold no spaces
  Monitor("Office");
  const std::string server = cupsd->Socket();
  std::vector<std::string> environment = HostEnvironment();
  environment.push_back("QUILLMARK_SPOOLER");
  environment.push_back("CUPS_SERVER=" + server);
  Host host(ErrorFile(), environment);
  ASSERT_TRUE(host.Started());
  ASSERT_TRUE(host.WaitForLine({"debug", "catch-up of printer Office done"})) << host.Errors();
  // A job held in the queue keeps the watcher asking twice a second.
  cupsd->Disable("Office");
  cupsd->Submit("Office", 1, "held.txt", "anna");
  // The job's event reaches the watcher through the scheduler's notifier;
  // on a busy machine that can take a while, and a scheduler stopped
  // before it would leave an idle watcher that looks again only at its
  // next check. So the scheduler stops once the watcher asks again and
  // again (nobody else asks it anything meanwhile).
  bool asking = false;
  for (const auto until = std::chrono::steady_clock::now() + 30s;
       !asking && std::chrono::steady_clock::now() < until;) {
    const std::size_t before = cupsd->Requests();
    std::this_thread::sleep_for(1200ms);
    asking = cupsd->Requests() >= before + 2;
  }
  ASSERT_TRUE(asking) << "the watcher never asked about the held job; the scheduler's access log:\n"
                      << testing_support::ReadWholeFile(cupsd->Folder() / "log" / "access_log");

  cupsd.reset();  // the scheduler stops and its folder goes
  // Whichever request meets the missing scheduler first fails and says so,
  // naming the printer, CUPS and the server.
  ASSERT_TRUE(host.WaitForLine({"quillcore-host: warning: ", "Office", "CUPS", server})) << host.Errors();
  // The watcher goes on asking twice a second (for the held job); over
  // those passes no warning is told twice.
  std::string repeated;
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (repeated.empty() && std::chrono::steady_clock::now() < deadline) {
    std::vector<std::string> warnings = LinesWith(host.Errors(), {"warning"});
    std::sort(warnings.begin(), warnings.end());
    if (auto twice = std::adjacent_find(warnings.begin(), warnings.end()); twice != warnings.end()) {
      repeated = *twice;
    }
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(repeated, "") << host.Errors();
  EXPECT_EQ(host.Stop(), 0);
}

// ---- The log files ----------------------------------------------------------

class UnwritableLogs : public Diagnostics {
 protected:
  // Runs quillmark-sim on the spool folder; its output goes to `out`.
  int Sim(const std::string& args, std::string* out = nullptr) {
    const std::string file = (scratch_.Folder() / "sim.out").string();
    const std::string command = "QUILLMARK_SPOOLER=" + Quote(Spool()) + " " + QM_APP_DIR + "/quillmark-sim " +
                                args + " >" + Quote(file) + " 2>&1 </dev/null";
    const int status = std::system(command.c_str());
    if (out) *out = Slurp(file);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Spool() const { return (scratch_.Folder() / "spool").string(); }

  // Prints one job on Front Desk once the host watches it; the host's
  // standard error after the job was dealt with.
  void PrintOneJob(mode_t logsMode, const std::vector<std::string>& expected) {
    ASSERT_EQ(Sim("add-printer 'Front Desk'"), 0);
    fs::create_directories(app_ / "Logs");
    ASSERT_EQ(::chmod((app_ / "Logs").c_str(), logsMode), 0);
    std::vector<std::string> environment = HostEnvironment();
    environment.push_back("QUILLMARK_SPOOLER=" + Spool());
    Host host(ErrorFile(), environment);
    ASSERT_TRUE(host.Started());
    ASSERT_TRUE(host.WaitForLine({"debug", "catch-up of printer Front Desk done"})) << host.Errors();

    std::string id;
    ASSERT_EQ(Sim("submit 'Front Desk' --document plan.pdf --user anna --pages 3", &id), 0) << id;
    while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
    ASSERT_EQ(Sim("complete 'Front Desk' " + id), 0);
    ASSERT_TRUE(host.WaitForLine(expected)) << host.Errors();
    EXPECT_EQ(host.Stop(), 0);
    errors_ = host.Errors();
    ::chmod((app_ / "Logs").c_str(), 0750);
  }

  std::string errors_;
};

TEST_F(UnwritableLogs, LogsFolderOthersMayWriteToIsOneLinePerJobNamingTheFolder) {
  // Refused by the engine whoever runs it (root included): a folder below
  // the data folder that others may change is never written to.
  const std::string logs = (app_ / "Logs").string();
  PrintOneJob(0777, {"warning", "not logged in 18 of 18 log files", logs});
  const auto lines = LinesWith(errors_, {"warning", "job of printer Front Desk by anna"});
  ASSERT_EQ(lines.size(), 1u) << errors_;
  EXPECT_NE(lines[0].find("folder " + logs + " refused: writable by its group or others"), std::string::npos)
      << lines[0];
  EXPECT_FALSE(fs::exists(app_ / "Logs" / "Users")) << "nothing written below a refused folder";
}

TEST_F(UnwritableLogs, LogsFolderWithoutWriteRightIsOneLinePerJobNamingTheFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes to any folder";
  const std::string logs = (app_ / "Logs").string();
  PrintOneJob(0555, {"warning", "not logged in", "Permission denied"});
  const auto lines = LinesWith(errors_, {"warning", "job of printer Front Desk by anna"});
  ASSERT_EQ(lines.size(), 1u) << errors_;
  EXPECT_NE(lines[0].find(logs + "/"), std::string::npos) << lines[0];
}

// ---- The mail server --------------------------------------------------------

TEST_F(Diagnostics, RefusingMailServerIsOneLineWithItsReplyAndNoPassword) {
  if (!fs::exists(kFakeTime)) GTEST_SKIP() << "faketime is not installed";
  const std::string password = "Pa55-w0rd-never-logged";
  const std::string serverPassword = "something else";

  // aiosmtpd asking for AUTH LOGIN, which refuses the login it is given.
  const fs::path sinkFolder = scratch_.Folder() / "sink";
  const fs::path portFile = sinkFolder / "port";
  fs::create_directories(sinkFolder / "store");
  const pid_t sink = ::fork();
  if (sink == 0) {
    std::freopen((sinkFolder / "sink.log").c_str(), "w", stderr);
    const std::string script = std::string(QM_SOURCE_DIR) + "/tests/mailer_e2e/smtp_sink.py";
    ::execl("/usr/bin/python3", "python3", script.c_str(), "--port-file", portFile.c_str(), "--store",
            (sinkFolder / "store").c_str(), "--auth", "login", "--user", "mailuser", "--password",
            serverPassword.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(sink, 0);
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  } reaper{sink};
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (Slurp(portFile).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(50ms);
  const int port = std::atoi(Slurp(portFile).c_str());
  ASSERT_GT(port, 0) << Slurp(sinkFolder / "sink.log");

  // Yesterday's log, to be mailed shortly after midnight.
  fs::create_directories(app_ / "Logs");
  fs::create_symlink(fs::path(QM_APP_DIR) / "Postrider", app_ / "Postrider");
  std::ofstream(app_ / "Logs" / "d_20261207.xml", std::ios::binary)
      << std::string(525, ' ')
      << "\r\n<event><day>07</day><month>12</month><year>2026</year><hour>10</hour><min>15</min>"
         "<doc>plan.pdf</doc><pages>3</pages><cost>15</cost><printer>Laser</printer><user>ann</user></event>";
  auto scrambled = [](const char* name, const std::string& value) {
    CRegString(QuillmarkValue(name)).Set(common::Scramble(value)).Write();
  };
  CRegDword(QuillmarkValue("EmailAlert")).Set(1).Write();
  CRegString(QuillmarkValue("ToSendDay")).Set("20261207").Write();
  scrambled("EmailAddress", "a@x.test");
  scrambled("SMTPSRV", "127.0.0.1");
  scrambled("SMTPAUTH", "AUTH LOGIN");
  scrambled("SMTPEmailAddress", "engine@x.test");
  scrambled("SMTPName", "Print Room");
  scrambled("SMTPEmailAddress4Server", "mailuser");
  scrambled("SMTPPass4MailServer", password);
  CRegDword(QuillmarkValue("SMTPPORT")).Set(static_cast<std::uint32_t>(port)).Write();

  std::vector<std::string> environment = HostEnvironment();
  environment.push_back("QUILLMARK_SPOOLER=" + (scratch_.Folder() / "spool").string());
  environment.push_back("FAKETIME_DONT_FAKE_MONOTONIC=1");
  environment.push_back(std::string("LD_PRELOAD=") + kFakeTime);
  const char* asan = std::getenv("ASAN_OPTIONS");
  environment.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
                        "verify_asan_link_order=0");
  environment.push_back("FAKETIME=@2026-12-08 00:00:30");
  Host host(ErrorFile(), environment);
  ASSERT_TRUE(host.Started());

  ASSERT_TRUE(host.WaitForLine({"quillcore-host: warning: daily report not sent", "status 1"}))
      << host.Errors();
  EXPECT_EQ(host.Stop(), 0);
  const std::string errors = host.Errors();
  // The mailer's one line, with the server's reply, and the engine's.
  const auto mailer = LinesWith(errors, {"Postrider: error ", "535"});
  EXPECT_EQ(mailer.size(), 1u) << errors;
  EXPECT_EQ(LinesWith(errors, {"daily report not sent"}).size(), 1u) << errors;
  // Neither the password, nor its scrambled form, nor the login's base64.
  EXPECT_EQ(errors.find(password), std::string::npos) << errors;
  EXPECT_EQ(errors.find(common::Scramble(password)), std::string::npos) << errors;
  mail::CBase64Coder coder;
  coder.Encode(password);
  EXPECT_EQ(errors.find(coder.EncodedMessage()), std::string::npos) << errors;
}

}  // namespace
