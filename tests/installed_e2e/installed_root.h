#pragma once

// An installed copy in a temporary root (scripts/install.sh with an install
// root), with accounts made for the test and removed after it whatever
// happens: the service account the engine runs as, a console user in its
// group, and a local user outside it. Needs root.

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "platform/registry.h"
#include "tests/support/read_file.h"

namespace installed {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out.push_back(c);
  }
  return out + "'";
}

using testing_support::ReadWholeFile;

inline int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return pred();
}

// Account tools wait for each other's lock on the account files: try again
// while another developer's test holds it.
inline int AccountTool(const std::string& command) {
  int rc = 0;
  for (int attempt = 0; attempt < 50; ++attempt) {
    rc = Shell(command + " >/dev/null 2>&1");
    if (rc != 10 && rc != 1) return rc;  // 10 (groupdel) / 1: the files were locked
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * (attempt + 1)));
  }
  return rc;
}

struct Account {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

inline Account Lookup(const std::string& name) {
  Account a{name};
  if (const passwd* pw = getpwnam(name.c_str())) {
    a.uid = pw->pw_uid;
    a.gid = pw->pw_gid;
  }
  return a;
}

// Accounts made for one test; all removed with the object.
class Accounts {
 public:
  Accounts() {
    static std::mt19937 rng{std::random_device{}()};
    const std::string tag = std::to_string(getpid() % 100000) + "x" + std::to_string(rng() % 100000);
    service = "qms" + tag;
    member = "qmm" + tag;
    outsider = "qmo" + tag;
  }
  ~Accounts() {
    if (geteuid() != 0) return;
    for (const auto* user : {&member, &outsider, &service}) AccountTool("userdel -f " + *user);
    AccountTool("groupdel " + member);
    AccountTool("groupdel " + outsider);
    AccountTool("groupdel " + service);
  }
  Accounts(const Accounts&) = delete;
  Accounts& operator=(const Accounts&) = delete;

  std::string service, member, outsider;
};

class InstalledRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the installed layout is tested as root";
    char tmpl[] = "/tmp/quillmark-root-XXXXXX";
    root_ = mkdtemp(tmpl);
    ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
    app_ = root_ / "usr/lib/quillmark";
    data_ = root_ / "var/lib/quillmark/data";
    registryRoot_ = root_ / "var/lib/quillmark/registry";
    spool_ = root_ / "spool";
    out_ = root_ / "out";

    const std::string build = fs::path(QM_APP_DIR).parent_path().string();
    ASSERT_EQ(Shell("QUILLMARK_ACCOUNT=" + accounts_.service + " " + QM_SOURCE_DIR + "/scripts/install.sh " +
                    Quote(build) + " " + Quote(root_.string()) + " >" + Quote(out_.string()) + " 2>&1"),
              0)
        << ReadWholeFile(out_);
    ASSERT_EQ(AccountTool("useradd -M -s /usr/sbin/nologin -G " + accounts_.service + " " + accounts_.member),
              0);
    ASSERT_EQ(AccountTool("useradd -M -s /usr/sbin/nologin " + accounts_.outsider), 0);
    service_ = Lookup(accounts_.service);
    member_ = Lookup(accounts_.member);
    outsider_ = Lookup(accounts_.outsider);
    ASSERT_NE(service_.uid, 0u);
    ASSERT_NE(member_.uid, 0u);

    registry_ = platform::MakeFileRegistry(registryRoot_);
    previous_ = platform::Registry::SetDefault(registry_.get());

    // The simulated print server's spool belongs to the engine's account,
    // which also plays the print server.
    fs::create_directories(spool_);
    ASSERT_EQ(chown(spool_.c_str(), service_.uid, service_.gid), 0);
  }

  void TearDown() override {
    StopHost();
    if (registry_) platform::Registry::SetDefault(previous_);
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  // Runs a shell command as `who` (with the groups of that account), with
  // the installed registry and the spool; its output in `out`.
  int As(const Account& who, const std::string& command, std::string* out = nullptr) {
    const fs::path file = root_ / ("as-" + std::to_string(++runs_) + ".out");
    const int rc =
        Shell("setpriv --reuid=" + std::to_string(who.uid) + " --regid=" + std::to_string(who.gid) +
              " --init-groups env QUILLMARK_REGISTRY=" + Quote(registryRoot_.string()) +
              " QUILLMARK_SPOOLER=" + Quote(spool_.string()) + " sh -c " + Quote(command) + " >" +
              Quote(file.string()) + " 2>&1 </dev/null");
    if (out) *out = ReadWholeFile(file);
    return rc;
  }

  std::string Reg(const std::string& args) const {
    return Quote((app_ / "quillmark-reg").string()) + " " + args;
  }
  std::string Sim(const std::string& args) const {
    return Quote((app_ / "quillmark-sim").string()) + " " + args;
  }

  // The installed host, started as the service account.
  void StartHost() {
    host_ = fork();
    if (host_ == 0) {
      setenv("QUILLMARK_REGISTRY", registryRoot_.c_str(), 1);
      setenv("QUILLMARK_SPOOLER", spool_.c_str(), 1);
      const std::string uid = "--reuid=" + std::to_string(service_.uid);
      const std::string gid = "--regid=" + std::to_string(service_.gid);
      const std::string host = (app_ / "quillcore-host").string();
      execlp("setpriv", "setpriv", uid.c_str(), gid.c_str(), "--init-groups", host.c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(host_, 0);
  }

  // SIGTERM to the host this test started; its exit status.
  int StopHost() {
    if (host_ <= 0) return -1;
    kill(host_, SIGTERM);
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < end) {
      if (waitpid(host_, &status, WNOHANG) == host_) {
        host_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    kill(host_, SIGKILL);
    waitpid(host_, &status, 0);
    host_ = -1;
    return -1;
  }

  // The host's exit status when it ends by itself within `limit`.
  int HostExit(std::chrono::milliseconds limit) {
    int status = 0;
    if (!WaitFor([&] { return waitpid(host_, &status, WNOHANG) == host_; }, limit)) return -1;
    host_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  Accounts accounts_;
  Account service_, member_, outsider_;
  fs::path root_, app_, data_, registryRoot_, spool_, out_;
  pid_t host_ = -1;
  int runs_ = 0;
  std::unique_ptr<platform::Registry> registry_;
  platform::Registry* previous_ = nullptr;
};

}  // namespace installed
