// The installed layout under attack: the engine host runs as its service
// account from a root-owned install folder; a console user (in the group)
// and a local user outside it try what they can through the registry and
// the data folder. Every attack must fail, and the system must still work.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <ctime>
#include <vector>

#include "common/catalogue_file.h"
#include "common/period_keys.h"
#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/scramble.h"
#include "tests/installed_e2e/installed_root.h"

namespace installed {
namespace {

using common::QuillmarkValue;

std::string Stamp(std::time_t t) { return common::ComputePeriodKeys(t).dayStamp; }

struct stat Stat(const fs::path& p) {
  struct stat st {};
  lstat(p.c_str(), &st);
  return st;
}

// A mail server that takes connections and never says a word: a mailer
// that reaches it waits until the test hangs up.
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0 && listen(fd_, 4) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
      port_ = ntohs(addr.sin_port);
  }
  ~SilentServer() {
    HangUp();
    if (fd_ >= 0) close(fd_);
  }
  int Port() const { return port_; }
  // True when a client connected within `limit`.
  bool Accepted(std::chrono::milliseconds limit) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(limit.count())) != 1) return false;
    const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return false;
    clients_.push_back(client);
    return true;
  }
  void HangUp() {
    for (int c : clients_) close(c);
    clients_.clear();
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> clients_;
};

class Attacks : public InstalledRoot {
 protected:
  void Catalogue() {
    // The installed catalogue's owner, group and mode stay as installed.
    std::ofstream(data_ / "settings.xml", std::ios::trunc)
        << "<log><printers><name>P</name><ID>1</ID><cost>5</cost><monitored>1</monitored></printers>"
           "<users></users></log>";
    ASSERT_EQ(As(service_, Sim("add-printer P")), 0);
  }

  // Prints a job on P as `user` and completes it.
  void Print(const std::string& document, const std::string& user) {
    std::string id;
    ASSERT_EQ(
        As(service_, Sim("submit P --document " + Quote(document) + " --user " + Quote(user) + " --pages 2"),
           &id),
        0)
        << id;
    while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
    ASSERT_EQ(As(service_, Sim("complete P " + id)), 0);
  }

  std::string PrinterDay() const {
    return ReadWholeFile(data_ / "Logs/Printers/Printer_1" / ("d_" + Stamp(std::time(nullptr)) + ".xml"));
  }

  // Prints probes until the watcher logs one: from then on P is watched.
  void WaitUntilWatched() {
    for (int attempt = 0; attempt < 20; ++attempt) {
      const std::string doc = "probe-" + std::to_string(attempt);
      Print(doc, "probe");
      if (WaitFor([&] { return PrinterDay().find("<doc>" + doc + "</doc>") != std::string::npos; }, 3s))
        return;
    }
    FAIL() << "the engine logged no job";
  }

  // Sets a registry value as the console user would, with the tool.
  int MemberSets(const std::string& name, const std::string& data) {
    return As(member_,
              Reg("add 'HKLM\\Software\\Quillmark' /v " + name + " /t REG_SZ /d " + Quote(data) + " /f"));
  }
};

TEST_F(Attacks, InstalledFilesBelongToRootTheLogsToTheServiceAccount) {
  for (const auto& entry : fs::recursive_directory_iterator(app_)) {
    const struct stat st = Stat(entry.path());
    EXPECT_EQ(st.st_uid, 0u) << entry.path();
    EXPECT_EQ(st.st_mode & (S_IWGRP | S_IWOTH), 0u) << entry.path();
    EXPECT_FALSE(entry.is_symlink()) << entry.path();
  }
  for (const char* name : {"quillcore-host", "libquillcore.so", "Postrider", "quillmark-reg"})
    EXPECT_TRUE(fs::exists(app_ / name)) << name;
  EXPECT_FALSE(fs::exists(app_ / "settings.xml"));
  EXPECT_FALSE(fs::exists(app_ / "Logs"));

  struct stat st = Stat(data_);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_gid, service_.gid);
  EXPECT_EQ(st.st_mode & 07777, 02770u);
  st = Stat(data_ / "settings.xml");
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_gid, service_.gid);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
  st = Stat(data_ / "Logs");
  EXPECT_EQ(st.st_uid, service_.uid);
  EXPECT_EQ(st.st_gid, service_.gid);
  EXPECT_EQ(st.st_mode & 07777, 02750u);

  const std::string unit = ReadWholeFile(root_ / "lib/systemd/system/quillcore-host.service");
  for (const std::string& line :
       std::vector<std::string>{"User=" + accounts_.service, "NoNewPrivileges=yes", "ProtectSystem=strict",
                                "PrivateTmp=yes", "ProtectHome=yes", "SupplementaryGroups=lpadmin",
                                "ReadWritePaths=" + data_.string() + " " + registryRoot_.string(),
                                "ExecStart=" + (app_ / "quillcore-host").string()})
    EXPECT_NE(unit.find(line + "\n"), std::string::npos) << line;
  ASSERT_EQ(Shell("id -nG " + accounts_.service + " >" + Quote(out_.string())), 0);
  EXPECT_NE(ReadWholeFile(out_).find("lpadmin"), std::string::npos) << ReadWholeFile(out_);
}

TEST_F(Attacks, AppPathNamesNoCodeTheHostLoadsOnlyItsOwnEngine) {
  // The console user points "AppPath" at her own folder holding an engine
  // library of hers.
  const fs::path hers = root_ / "home-of-member";
  fs::create_directories(hers);
  std::ofstream(hers / "libquillcore.so") << "not an engine";
  ASSERT_EQ(chown(hers.c_str(), member_.uid, member_.gid), 0);
  ASSERT_EQ(chown((hers / "libquillcore.so").c_str(), member_.uid, member_.gid), 0);
  ASSERT_EQ(MemberSets("AppPath", hers.string()), 0);

  StartHost();
  ASSERT_TRUE(WaitFor([] { return CRegDword(QuillmarkValue("Monitoring")).Get() == 1; }, 10s))
      << "the engine did not start";
  const std::string maps = ReadWholeFile("/proc/" + std::to_string(host_) + "/maps");
  EXPECT_NE(maps.find((app_ / "libquillcore.so").string()), std::string::npos);
  EXPECT_EQ(maps.find(hers.string()), std::string::npos);
  const std::string status = ReadWholeFile("/proc/" + std::to_string(host_) + "/status");
  EXPECT_NE(status.find("Uid:\t" + std::to_string(service_.uid) + "\t"), std::string::npos) << "not root";
  EXPECT_EQ(StopHost(), 0);

  // An engine library that others than root could change is not loaded.
  fs::permissions(app_ / "libquillcore.so", fs::perms::group_write, fs::perm_options::add);
  StartHost();
  EXPECT_EQ(HostExit(10s), 1);
}

TEST_F(Attacks, TheMailerComesFromTheInstallFolderAndTheReportIsClosed) {
  // Mailers of the console user's: in the data folder (its group may
  // write there) and in her own folder.
  const fs::path hers = root_ / "home-of-member";
  fs::create_directories(hers);
  ASSERT_EQ(chown(hers.c_str(), member_.uid, member_.gid), 0);
  const fs::path markers = root_ / "markers";  // whoever runs them may write here
  fs::create_directories(markers);
  ASSERT_EQ(chmod(markers.c_str(), 01777), 0);
  for (const fs::path& folder : {fs::path(data_), hers}) {
    const std::string plant = "printf '#!/bin/sh\\ntouch " + (markers / "mailer-of-member-ran").string() +
                              "\\n' >" + Quote((folder / "Postrider").string()) + " && chmod 755 " +
                              Quote((folder / "Postrider").string());
    ASSERT_EQ(As(member_, plant), 0);
  }

  SilentServer server;
  ASSERT_GT(server.Port(), 0);
  const std::time_t now = std::time(nullptr);
  const std::string yesterday = Stamp(now - 86400);
  const fs::path day = data_ / "Logs" / ("d_" + yesterday + ".xml");
  ASSERT_EQ(As(service_, "printf '%525s\\r\\n<event><doc>x</doc></event>' '' >" + Quote(day.string())), 0);
  CRegString(QuillmarkValue("ToSendDay")).Set(yesterday).Write();
  CRegDword(QuillmarkValue("EmailAlert")).Set(1).Write();
  CRegString(QuillmarkValue("SMTPSRV")).Set(common::Scramble("127.0.0.1")).Write();
  CRegString(QuillmarkValue("SMTPAUTH")).Set(common::Scramble("None")).Write();
  CRegDword(QuillmarkValue("SMTPPORT")).Set(static_cast<std::uint32_t>(server.Port())).Write();

  StartHost();
  ASSERT_TRUE(server.Accepted(20s)) << "no mailer reached the server";
  // While the mailer works on it, the report is the engine's and the
  // group's alone.
  const fs::path report = data_ / "Logs/Report.xml";
  const struct stat st = Stat(report);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_uid, service_.uid);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(CRegString(QuillmarkValue("ToSendFile")).Get(), report.string());
  server.HangUp();  // the mailer fails and ends; the report goes
  EXPECT_TRUE(WaitFor([&] { return !fs::exists(report); }, 20s));
  EXPECT_FALSE(fs::exists(markers / "mailer-of-member-ran"));
  EXPECT_EQ(StopHost(), 0);
}

TEST_F(Attacks, TheMailerSendsNothingButPlainFilesInsideLogs) {
  // A file the engine's account may read and the console user may not.
  const fs::path secret = root_ / "secret";
  std::ofstream(secret) << "root-only stand-in";
  ASSERT_EQ(chown(secret.c_str(), service_.uid, service_.gid), 0);
  ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
  ASSERT_NE(As(member_, "cat " + Quote(secret.string())), 0);

  SilentServer server;
  CRegString(QuillmarkValue("SMTPSRV")).Set(common::Scramble("127.0.0.1")).Write();
  CRegString(QuillmarkValue("SMTPAUTH")).Set(common::Scramble("None")).Write();
  CRegDword(QuillmarkValue("SMTPPORT")).Set(static_cast<std::uint32_t>(server.Port())).Write();
  const std::string postrider = "timeout 30 " + Quote((app_ / "Postrider").string());

  // "ToSendFile" is the console user's to write; the mailer as the engine
  // starts it refuses anything outside Logs, a link inside it, and Logs of
  // a data folder the console user made.
  const fs::path hers = root_ / "home-of-member";
  fs::create_directories(hers / "Logs");
  fs::create_symlink(secret, hers / "Logs/Report.xml");
  fs::create_symlink(secret, data_ / "Logs/linked.xml");
  ASSERT_EQ(chown(hers.c_str(), member_.uid, member_.gid), 0);
  ASSERT_EQ(chown((hers / "Logs").c_str(), member_.uid, member_.gid), 0);
  ASSERT_EQ(As(service_, "echo '<log/>' >" + Quote((data_ / "Logs/Report.xml").string())), 0);
  const std::vector<std::pair<std::string, std::string>> attempts = {
      {data_.string(), secret.string()},
      {data_.string(), (data_ / "Logs/linked.xml").string()},
      {data_.string(), (data_ / "Logs/../../../../secret").string()},
      {data_.string(), (data_ / "Logs/Report.xml").string() + ";" + secret.string()},
      {hers.string(), (hers / "Logs/Report.xml").string()},
  };
  for (const auto& [appPath, file] : attempts) {
    ASSERT_EQ(MemberSets("AppPath", appPath), 0);
    ASSERT_EQ(MemberSets("ToSendFile", file), 0);
    std::string said;
    EXPECT_EQ(As(service_, postrider, &said), 1) << file;
    EXPECT_NE(said.find("not sent"), std::string::npos) << said;
    EXPECT_FALSE(server.Accepted(0ms)) << file;
  }

  // A plain file in Logs goes out (the server is reached).
  ASSERT_EQ(MemberSets("AppPath", data_.string()), 0);
  ASSERT_EQ(As(service_, "echo '<log/>' >" + Quote((data_ / "Logs/TestEmail.xml").string())), 0);
  ASSERT_EQ(MemberSets("ToSendFile", (data_ / "Logs/TestEmail.xml").string()), 0);
  const fs::path done = spool_ / "plain-sent";  // the engine's account writes there
  ASSERT_EQ(As(service_, "(" + postrider + "; touch " + Quote(done.string()) + ") &"), 0);
  EXPECT_TRUE(server.Accepted(20s));
  server.HangUp();
  EXPECT_TRUE(WaitFor([&] { return fs::exists(done); }, 20s));
}

TEST_F(Attacks, JobsAreLoggedPastPlantedLinksAndOnlyTheGroupReadsThem) {
  Catalogue();
  // Links where log files, folders and the lock go, pointing at what the
  // engine's account could write (planted as root: the console user can
  // no longer write in Logs at all).
  const fs::path victim = root_ / "victim";
  fs::create_directories(victim);
  std::ofstream(victim / "file") << "victim";
  for (const fs::path& p : {victim, victim / "file"})
    ASSERT_EQ(chown(p.c_str(), service_.uid, service_.gid), 0);
  const std::string today = Stamp(std::time(nullptr));
  fs::create_symlink(victim / "file", data_ / "Logs" / ("d_" + today + ".xml"));
  fs::create_directory_symlink(victim, data_ / "Logs/Users");
  fs::create_symlink(victim / "nologin", data_ / "Logs/quillcore.lock");

  StartHost();
  WaitUntilWatched();
  Print("plan & budget.pdf", "ann");
  ASSERT_TRUE(
      WaitFor([&] { return PrinterDay().find("<doc>plan  budget.pdf</doc>") != std::string::npos; }, 10s));
  EXPECT_EQ(ReadWholeFile(victim / "file"), "victim");
  EXPECT_FALSE(fs::exists(victim / "ann"));
  EXPECT_FALSE(fs::exists(victim / "nologin"));
  EXPECT_TRUE(fs::is_symlink(data_ / "Logs/Users"));
  const std::string year = ReadWholeFile(data_ / "Logs" / ("y_" + today.substr(0, 4) + ".xml"));
  EXPECT_NE(year.find("<user>ann</user>"), std::string::npos) << "the other files still get the record";

  // A 10,000-byte user name: recorded, cut to 255 bytes.
  Print("long", std::string(10000, 'u'));
  ASSERT_TRUE(WaitFor([&] { return PrinterDay().find("<doc>long</doc>") != std::string::npos; }, 10s));
  EXPECT_NE(PrinterDay().find("<user>" + std::string(255, 'u') + "</user>"), std::string::npos);

  // The console user reads the logs but cannot write, link or lock there.
  const std::string logs = (data_ / "Logs").string();
  const std::string printerDay = (data_ / "Logs/Printers/Printer_1" / ("d_" + today + ".xml")).string();
  EXPECT_EQ(As(member_, "cat " + Quote(printerDay) + " >/dev/null"), 0);
  EXPECT_NE(As(member_, "touch " + Quote(logs + "/d_1.xml")), 0);
  EXPECT_NE(As(member_, "ln -s /etc/passwd " + Quote(logs + "/Printers/Printer_1/m_1.xml")), 0);
  EXPECT_NE(As(member_, "mv " + Quote(logs + "/Printers") + " " + Quote(logs + "/Gone")), 0);
  EXPECT_NE(As(member_, "rm -f " + Quote(printerDay)), 0);
  fs::remove(data_ / "Logs/quillcore.lock");
  Print("after", "bob");
  ASSERT_TRUE(WaitFor([&] { return PrinterDay().find("<doc>after</doc>") != std::string::npos; }, 10s));
  EXPECT_EQ(Stat(data_ / "Logs/quillcore.lock").st_mode & 0777, 0600u);
  EXPECT_NE(As(member_, "flock -n " + Quote(logs + "/quillcore.lock") + " true"), 0);

  // A user outside the group sees nothing and can hold no lock.
  EXPECT_NE(As(outsider_, "cat " + Quote(printerDay)), 0);
  EXPECT_NE(As(outsider_, "ls " + Quote(logs)), 0);
  EXPECT_NE(As(outsider_, "flock -n " + Quote(logs + "/quillcore.lock") + " true"), 0);
  EXPECT_NE(As(outsider_, "flock -n " + Quote((data_ / "settings.xml.lock").string()) + " true"), 0);
  EXPECT_NE(As(outsider_, "cat " + Quote((data_ / "settings.xml").string())), 0);
  for (const auto& entry : fs::recursive_directory_iterator(data_ / "Logs")) {
    if (entry.is_symlink()) continue;
    const struct stat st = Stat(entry.path());
    EXPECT_EQ(st.st_mode & 07, 0u) << entry.path();
    EXPECT_EQ(st.st_mode & S_IWGRP, 0u) << entry.path();
  }

  // The engine rewrote the catalogue (users ann and bob); the console user
  // still changes printers and costs in it.
  const fs::path catalogue = data_ / "settings.xml";
  // A new user reaches the catalogue a moment after its job.
  ASSERT_TRUE(WaitFor(
      [&] { return ReadWholeFile(catalogue).find("<username>bob</username>") != std::string::npos; }, 10s));
  struct stat st = Stat(catalogue);
  EXPECT_EQ(st.st_gid, service_.gid);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
  const pid_t child = fork();
  if (child == 0) {
    const gid_t groups[] = {service_.gid};
    if (setgroups(1, groups) != 0 || setresgid(member_.gid, member_.gid, member_.gid) != 0 ||
        setresuid(member_.uid, member_.uid, member_.uid) != 0)
      _exit(2);
    const bool ok = common::ChangePrinterCost(catalogue.string(), "P", 7) &&
                    common::ApplyMonitoredPrinters(catalogue.string(), {});
    _exit(ok ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string edited = ReadWholeFile(catalogue);
  EXPECT_NE(edited.find("<cost>7</cost>"), std::string::npos) << edited;
  EXPECT_NE(edited.find("<username>bob</username>"), std::string::npos) << edited;
  st = Stat(catalogue);
  EXPECT_EQ(st.st_gid, service_.gid);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
  EXPECT_EQ(StopHost(), 0);
}

}  // namespace
}  // namespace installed
