#pragma once

// A private CUPS scheduler for one test or benchmark: started in a
// temporary folder by tests/cups_e2e/cupsd.sh (found through QM_SOURCE_DIR,
// which the quillmark_test_support target defines), made the print server
// of this process through CUPS_SERVER (every thread's libcups reads it),
// stopped and removed on destruction. Queues use the "qmpages" backend, which reports one printed
// page per line of the document.

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/percent_escape.h"

class PrivateCupsd {
 public:
  PrivateCupsd() {
    char tmpl[] = "/tmp/quillmark-cupsd-XXXXXX";
    if (!::mkdtemp(tmpl)) {
      error_ = "cannot make a temporary folder";
      return;
    }
    folder_ = tmpl;
#ifdef QM_APP_DIR
    // The engine's CUPS notifier of this build goes into the scheduler's
    // notifier folder.
    ::setenv("QUILLMARK_CUPS_NOTIFIER", QM_APP_DIR "/quillmark-cups-notifier", 0);
#endif
    int rc = 0;
    std::string out =
        Shell(Script() + " start " + Quote(folder_.string()) + " " + std::to_string(::getpid()), &rc);
    if (rc != 0) {
      error_ = "private cupsd did not start: " + out;
      return;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    socket_ = out.substr(out.find_last_of('\n') == std::string::npos ? 0 : out.find_last_of('\n') + 1);
    if (const char* old = std::getenv("CUPS_SERVER")) previousServer_ = old;
    ::setenv("CUPS_SERVER", socket_.c_str(), 1);
    started_ = true;
  }

  ~PrivateCupsd() {
    if (!folder_.empty()) {
      Shell(Script() + " stop " + Quote(folder_.string()), nullptr);
      // QUILLMARK_KEEP_CUPSD keeps the folder (logs) for a look afterwards.
      if (!std::getenv("QUILLMARK_KEEP_CUPSD")) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
      }
    }
    if (started_) {
      if (previousServer_) {
        ::setenv("CUPS_SERVER", previousServer_->c_str(), 1);
      } else {
        ::unsetenv("CUPS_SERVER");
      }
    }
  }

  PrivateCupsd(const PrivateCupsd&) = delete;
  PrivateCupsd& operator=(const PrivateCupsd&) = delete;

  bool Started() const { return started_; }
  const std::string& Error() const { return error_; }
  const std::string& Socket() const { return socket_; }
  const std::filesystem::path& Folder() const { return folder_; }

  // An enabled queue; `secondsPerPage` slows its backend down; `stamp`
  // names a file that gets a line "JOB TIME" for each job printed.
  void AddQueue(const std::string& name, double secondsPerPage = 0, const std::string& stamp = {}) {
    char delay[32];
    std::snprintf(delay, sizeof delay, "%g", secondsPerPage);
    std::string cmd = Script() + " queue " + Quote(folder_.string()) + " " + Quote(name) + " " + delay;
    if (!stamp.empty()) cmd += " " + Quote(stamp);
    Run(cmd);
  }

  // A disabled queue holds its jobs until it is enabled.
  void Disable(const std::string& name) { Run("cupsdisable -h " + Quote(socket_) + " " + Quote(name)); }
  void Enable(const std::string& name) { Run("cupsenable -h " + Quote(socket_) + " " + Quote(name)); }
  void SetDefault(const std::string& name) { Run("lpadmin -h " + Quote(socket_) + " -d " + Quote(name)); }
  void Delete(const std::string& name) { Run("lpadmin -h " + Quote(socket_) + " -x " + Quote(name)); }
  void Cancel(const std::string& queue, int jobId) {
    Run("cancel -h " + Quote(socket_) + " " + Quote(queue + "-" + std::to_string(jobId)));
  }

  // Submits a document of `pages` lines with `lp`; returns the job id.
  // `user` empty: the calling user. `extra`: more lp arguments, as they are.
  int Submit(const std::string& queue, int pages, const std::string& title, const std::string& user = {},
             const std::string& extra = {}) {
    std::filesystem::path doc = folder_ / ("doc-" + std::to_string(++documents_) + ".txt");
    {
      std::ofstream out(doc);
      for (int i = 1; i <= pages; ++i) out << "page " << i << "\n";
    }
    std::string cmd = "lp -h " + Quote(socket_) + " -d " + Quote(queue) + " -t " + Quote(title);
    if (!user.empty()) cmd += " -U " + Quote(user);
    if (!extra.empty()) cmd += " " + extra;
    cmd += " " + Quote(doc.string());
    std::string out = Run(cmd);
    // "request id is QUEUE-N (1 file(s))"
    auto dash = out.find(queue + "-");
    if (dash == std::string::npos) throw std::runtime_error("unexpected lp output: " + out);
    return std::stoi(out.substr(dash + queue.size() + 1));
  }

  // Submits a document of `pages` lines over IPP with ipptool, stating its
  // size in job-impressions (which lp does not send); returns the job id.
  int SubmitSized(const std::string& queue, int pages, int impressions, const std::string& title,
                  const std::string& user) {
    const int number = ++documents_;
    std::filesystem::path doc = folder_ / ("doc-" + std::to_string(number) + ".txt");
    {
      std::ofstream out(doc);
      for (int i = 1; i <= pages; ++i) out << "page " << i << "\n";
    }
    std::filesystem::path test = folder_ / ("print-" + std::to_string(number) + ".test");
    {
      std::ofstream out(test);
      out << "{\n OPERATION Print-Job\n GROUP operation-attributes-tag\n"
          << " ATTR charset attributes-charset utf-8\n"
          << " ATTR naturalLanguage attributes-natural-language en\n"
          << " ATTR uri printer-uri $uri\n"
          << " ATTR name requesting-user-name \"" << user << "\"\n"
          << " ATTR name job-name \"" << title << "\"\n"
          << " ATTR mimeMediaType document-format text/plain\n"
          << " GROUP job-attributes-tag\n"
          << " ATTR integer job-impressions " << impressions << "\n"
          << " FILE " << doc.string() << "\n STATUS successful-ok\n"
          << " EXPECT job-id OF-TYPE integer\n}\n";
    }
    std::string out = Run("ipptool -tv " + Quote(IppUri("/printers/" + queue)) + " " + Quote(test.string()));
    auto at = out.find("job-id (integer) = ");
    if (at == std::string::npos) throw std::runtime_error("unexpected ipptool output: " + out);
    return std::stoi(out.substr(at + 19));
  }

  // Cancels a subscription, as if the scheduler had dropped it.
  void CancelSubscription(const std::string& queue, int subscriptionId) {
    std::filesystem::path test = folder_ / "cancel-subscription.test";
    {
      std::ofstream out(test);
      out << "{\n OPERATION Cancel-Subscription\n GROUP operation-attributes-tag\n"
          << " ATTR charset attributes-charset utf-8\n"
          << " ATTR naturalLanguage attributes-natural-language en\n"
          << " ATTR uri printer-uri $uri\n"
          << " ATTR integer notify-subscription-id " << subscriptionId << "\n"
          << " ATTR name requesting-user-name root\n STATUS successful-ok\n}\n";
    }
    Run("ipptool " + Quote(IppUri("/printers/" + queue)) + " " + Quote(test.string()));
  }

  // The ids of the subscriptions on a queue.
  std::vector<int> SubscriptionIds(const std::string& queue) {
    std::filesystem::path test = folder_ / "get-subscriptions.test";
    {
      std::ofstream out(test);
      out << "{\n OPERATION Get-Subscriptions\n GROUP operation-attributes-tag\n"
          << " ATTR charset attributes-charset utf-8\n"
          << " ATTR naturalLanguage attributes-natural-language en\n"
          << " ATTR uri printer-uri $uri\n"
          << " ATTR name requesting-user-name root\n"
          << " ATTR boolean my-subscriptions false\n"
          << " STATUS successful-ok\n STATUS client-error-not-found\n}\n";
    }
    std::string out = Run("ipptool -tv " + Quote(IppUri("/printers/" + queue)) + " " + Quote(test.string()));
    std::vector<int> ids;
    const std::string key = "notify-subscription-id (integer) = ";
    for (auto at = out.find(key); at != std::string::npos; at = out.find(key, at + 1)) {
      ids.push_back(std::stoi(out.substr(at + key.size())));
    }
    return ids;
  }

  // An ipp: address of this server for ipptool (the socket path is the
  // host, %-encoded).
  std::string IppUri(const std::string& resource) const {
    const std::string host = platform::PercentEscape(
        socket_, [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '-' || c == '_'; });
    return "ipp://" + host + resource;
  }

  // The states of all jobs of a queue ("which" as lpstat -W takes it).
  std::string JobList(const std::string& queue, const std::string& which = "all") {
    return Run("lpstat -h " + Quote(socket_) + " -W " + which + " -o " + Quote(queue));
  }

  // Waits until the queue has no job left that is not completed.
  bool WaitIdle(const std::string& queue, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      if (JobList(queue, "not-completed").empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  // How many requests the scheduler has answered so far (its access log
  // keeps every one, queries included).
  std::size_t Requests() const {
    std::ifstream log(folder_ / "log" / "access_log");
    std::size_t lines = 0;
    for (std::string line; std::getline(log, line);) ++lines;
    return lines;
  }

  std::string ErrorLogTail() {
    int rc = 0;
    return Shell("tail -n 40 " + Quote((folder_ / "log" / "error_log").string()), &rc);
  }

  // Runs a command; throws with its output when it fails.
  static std::string Run(const std::string& cmd) {
    int rc = 0;
    std::string out = Shell(cmd, &rc);
    if (rc != 0) throw std::runtime_error(cmd + " failed: " + out);
    return out;
  }

  static std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
      if (c == '\'') {
        out += "'\\''";
      } else {
        out += c;
      }
    }
    return out + "'";
  }

 private:
  static std::string Script() { return Quote(std::string(QM_SOURCE_DIR) + "/tests/cups_e2e/cupsd.sh"); }

  static std::string Shell(const std::string& cmd, int* rc) {
    std::string out;
    FILE* pipe = ::popen((cmd + " 2>&1").c_str(), "r");
    if (!pipe) {
      if (rc) *rc = -1;
      return "cannot run " + cmd;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    int status = ::pclose(pipe);
    if (rc) *rc = status;
    return out;
  }

  std::filesystem::path folder_;
  std::string socket_;
  std::string error_;
  std::optional<std::string> previousServer_;
  bool started_ = false;
  // Threads submit at the same time: each document gets a file of its own.
  std::atomic<int> documents_{0};
};

// Skips the test when no private scheduler (for files that use GoogleTest) can be started on this machine.
#define QM_REQUIRE_PRIVATE_CUPSD(cupsd)                      \
  do {                                                       \
    if (!(cupsd).Started()) GTEST_SKIP() << (cupsd).Error(); \
  } while (0)
