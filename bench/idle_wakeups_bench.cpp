// What the engine costs while nothing prints: the real host watching 1 and
// 3 queues of a private CUPS scheduler (tests/cups_e2e/cupsd.sh) and of a
// simulated spool folder, nothing printed. For each, the wakeups per second
// (voluntary and involuntary context switches, summed over all threads
// from /proc/PID/task/*/status) of the host and of the scheduler with the
// notifiers and backends it started, over a window; next to the baselines
// of the same run: the scheduler alone, and the host watching nothing.
//
//   idle_wakeups_bench [SECONDS=20]      (60 for the figure that counts)
//
// Target: host plus the scheduler work it causes, at most 0.5 wakeups per
// second per watched queue above the baseline.

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
#include <vector>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "platform/registry.h"
#include "platform/sim/sim_spooler.h"

namespace fs = std::filesystem;

#include "tests/support/private_cupsd.h"

namespace {

using namespace std::chrono_literals;

fs::path Beside(const std::string& name) { return fs::read_symlink("/proc/self/exe").parent_path() / name; }

std::uint64_t TaskSwitches(pid_t pid) {
  std::uint64_t total = 0;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::stoull(line.substr(line.find(':') + 1));
      }
    }
  }
  return total;
}

// The process and every process it started, at any depth.
std::uint64_t TreeSwitches(pid_t root) {
  std::vector<pid_t> tree{root};
  for (std::size_t i = 0; i < tree.size(); ++i) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream stat(entry.path() / "stat");
      std::string text;
      std::getline(stat, text);
      const auto close = text.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(text.substr(close + 2));
      char state;
      pid_t parent = 0;
      rest >> state >> parent;
      if (parent == tree[i]) tree.push_back(std::stoi(name));
    }
  }
  std::uint64_t total = 0;
  for (pid_t pid : tree) total += TaskSwitches(pid);
  return total;
}

struct Figure {
  double host = 0;
  double cupsd = 0;
};

bool Alive(pid_t pid) { return pid <= 0 || fs::exists("/proc/" + std::to_string(pid) + "/task"); }

Figure Measure(pid_t host, pid_t cupsd, int seconds) {
  if (!Alive(host) || !Alive(cupsd)) {
    std::fprintf(stderr, "a measured process is not running\n");
    std::exit(1);
  }
  const std::uint64_t h0 = host > 0 ? TaskSwitches(host) : 0;
  const std::uint64_t c0 = cupsd > 0 ? TreeSwitches(cupsd) : 0;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const std::uint64_t h1 = host > 0 ? TaskSwitches(host) : 0;
  const std::uint64_t c1 = cupsd > 0 ? TreeSwitches(cupsd) : 0;
  return {static_cast<double>(h1 - h0) / seconds, static_cast<double>(c1 - c0) / seconds};
}

class Host {
 public:
  Host(const fs::path& registry, const std::string& spoolFolder) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("QUILLMARK_REGISTRY", registry.c_str(), 1);
      if (spoolFolder.empty()) {
        ::unsetenv("QUILLMARK_SPOOLER");
      } else {
        ::setenv("QUILLMARK_SPOOLER", spoolFolder.c_str(), 1);
      }
      const std::string host = Beside("quillcore-host").string();
      ::execl(host.c_str(), host.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Host() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 500 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i) std::this_thread::sleep_for(10ms);
    if (::waitpid(pid_, nullptr, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

void Catalogue(const fs::path& app, const std::vector<std::string>& monitored) {
  std::string text = "<log><printers>";
  int id = 0;
  for (const auto& name : monitored) {
    text += "<name>" + name + "</name><ID>" + std::to_string(++id) +
            "</ID><cost>1</cost><monitored>1</monitored>";
  }
  common::WriteTextFile((app / "settings.xml").string(), text + "</printers></log>");
}

void Print(const char* what, const Figure& f, const Figure& base, int queues) {
  const double total = f.host + f.cupsd, baseTotal = base.host + base.cupsd;
  if (queues == 0) {
    std::printf("%-34s %10.2f %10.2f %10.2f %12s\n", what, f.host, f.cupsd, total, "baseline");
  } else {
    std::printf("%-34s %10.2f %10.2f %10.2f %12.2f\n", what, f.host, f.cupsd, total,
                (total - baseTotal) / queues);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
  char tmpl[] = "/tmp/quillmark-idle-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  const fs::path root = tmpl;
  const fs::path app = root / "app";
  fs::create_directories(app);
  auto registry = platform::MakeFileRegistry(root / "registry");
  platform::Registry::SetDefault(registry.get());
  CRegString(common::QuillmarkValue("AppPath")).Set(app.string()).Write();
  ::setenv("QUILLMARK_CUPS_NOTIFIER", Beside("quillmark-cups-notifier").c_str(), 0);

  std::printf(
      "idle wakeups per second over %d s windows (host: all its threads; scheduler: with its children)\n",
      seconds);
  std::printf("%-34s %10s %10s %10s %12s\n", "", "host", "scheduler", "together", "per queue +");
  const std::vector<std::string> queues = {"IdleOne", "IdleTwo", "IdleThree"};
  {
    PrivateCupsd cupsd;
    if (!cupsd.Started()) {
      std::printf("CUPS: skipped (%s)\n", cupsd.Error().c_str());
    } else {
      for (const auto& q : queues) cupsd.AddQueue(q);
      pid_t cupsdPid = 0;
      std::ifstream(cupsd.Folder() / "cupsd.pid") >> cupsdPid;
      std::this_thread::sleep_for(2s);  // the scheduler settles after the queues were added
      const Figure base = Measure(-1, cupsdPid, seconds);
      Print("CUPS: scheduler alone", base, base, 0);
      for (std::size_t n : {std::size_t{1}, std::size_t{3}}) {
        Catalogue(app, std::vector<std::string>(queues.begin(), queues.begin() + static_cast<long>(n)));
        Host host(root / "registry", "");
        for (int i = 0; i < 400; ++i) {
          std::size_t watched = 0;
          for (std::size_t q = 0; q < n; ++q) watched += cupsd.SubscriptionIds(queues[q]).empty() ? 0 : 1;
          if (watched == n) break;
          std::this_thread::sleep_for(50ms);
        }
        std::this_thread::sleep_for(3s);  // past the first looks of the watchers
        const Figure f = Measure(host.Pid(), cupsdPid, seconds);
        Print(n == 1 ? "CUPS: host watching 1 queue" : "CUPS: host watching 3 queues", f, base,
              static_cast<int>(n));
      }
    }
  }
  {
    const fs::path spool = root / "spool";
    platform::sim::SimSpooler server(spool);
    for (const auto& q : queues) server.AddPrinter(q, "IP_10.0.0.1");
    Catalogue(app, {});
    Figure base;
    {
      Host host(root / "registry", spool.string());
      std::this_thread::sleep_for(3s);
      base = Measure(host.Pid(), -1, seconds);
      Print("spool folder: host watching none", base, base, 0);
    }
    for (std::size_t n : {std::size_t{1}, std::size_t{3}}) {
      Catalogue(app, std::vector<std::string>(queues.begin(), queues.begin() + static_cast<long>(n)));
      Host host(root / "registry", spool.string());
      std::this_thread::sleep_for(3s);
      const Figure f = Measure(host.Pid(), -1, seconds);
      Print(n == 1 ? "spool folder: host watching 1" : "spool folder: host watching 3", f, base,
            static_cast<int>(n));
    }
  }
  std::printf("target: at most 0.50 per queue above the baseline\n");

  platform::Registry::SetDefault(nullptr);
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
