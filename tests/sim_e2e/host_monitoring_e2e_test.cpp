// The real host and engine library monitoring two printers of a simulated
// spooler in a spool folder, with jobs played by the quillmark-sim tool:
// every job that leaves a monitored queue ends up, once, in its eighteen
// log files.

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "tests/foundation/test_support.h"
#include "tests/support/engine_host.h"
#include "tests/support/read_file.h"

using common::QuillmarkValue;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr const char* kZone = "CET-1CEST,M3.5.0,M10.5.0/3";

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  return out + "'";
}

class MonitoringRun : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = scratch_.Folder() / "app";
    spool_ = scratch_.Folder() / "spool";
    fs::create_directories(app_);
    common::WriteTextFile((app_ / "settings.xml").string(),
                          "<log><printers>"
                          "<name>Front Desk</name><ID>1</ID><cost>5</cost><monitored>1</monitored>"
                          "<name>Back Office</name><ID>2</ID><cost>2</cost><monitored>1</monitored>"
                          "<name>Idle</name><ID>3</ID><cost>9</cost><monitored>0</monitored>"
                          "</printers></log>");
    CRegString(QuillmarkValue("AppPath")).Set(app_.string());
    for (const char* printer : {"Front Desk", "Back Office", "Idle"}) {
      ASSERT_EQ(Sim("add-printer " + Quote(printer)), 0);
    }
  }

  // Runs quillmark-sim on the spool folder; its output goes to `out`.
  int Sim(const std::string& args, std::string* out = nullptr) {
    std::string file = (scratch_.Folder() / "sim.out").string();
    std::string command = "QUILLMARK_SPOOLER=" + Quote(spool_.string()) + " " + QM_APP_DIR +
                          "/quillmark-sim " + args + " >" + file + " 2>&1 </dev/null";
    int status = std::system(command.c_str());
    if (out) *out = ReadTextFile(file);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Submit(const std::string& printer, const std::string& document, const std::string& user,
                     int pages) {
    std::string out;
    EXPECT_EQ(Sim("submit " + Quote(printer) + " --document " + Quote(document) + " --user " + Quote(user) +
                      " --pages " + std::to_string(pages) + " --submitted '2006-03-09 22:15'",
                  &out),
              0)
        << out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }

  void StartHost() {
    host_ = std::make_unique<testing_support::EngineHost>(fs::path(QM_APP_DIR) / "quillcore-host",
                                                          scratch_.RegistryRoot(), spool_);
    host_->SetEnvironment("TZ", kZone);
    ASSERT_TRUE(host_->Start());
  }

  int StopHost() { return host_->Stop(); }

  std::vector<fs::path> DayFiles() const {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(app_ / "Logs", ec)) {
      if (entry.path().filename().string().rfind("d_", 0) == 0) out.push_back(entry.path());
    }
    return out;
  }

  std::string AllDay() const {
    auto files = DayFiles();
    return files.empty() ? std::string() : ReadTextFile(files.front().string());
  }

  // Prints probe jobs on a printer until one is logged: from then on the
  // printer's watcher is known to be registered.
  void WaitUntilWatched(const std::string& printer) {
    for (int attempt = 0; attempt < 30; ++attempt) {
      std::string document = "probe-" + std::to_string(probes_++);
      std::string id = Submit(printer, document, "probe", 1);
      ASSERT_EQ(Sim("complete " + Quote(printer) + " " + id), 0);
      auto deadline = std::chrono::steady_clock::now() + 3s;
      while (std::chrono::steady_clock::now() < deadline) {
        if (AllDay().find("<doc>" + document + "</doc>") != std::string::npos) {
          ++loggedProbes_;
          return;
        }
        std::this_thread::sleep_for(20ms);
      }
    }
    FAIL() << "the watcher of " << printer << " never logged a job";
  }

  static std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size())) ++n;
    return n;
  }

  ScratchRegistry scratch_;
  fs::path app_;
  fs::path spool_;
  std::unique_ptr<testing_support::EngineHost> host_;
  int probes_ = 0;
  int loggedProbes_ = 0;
};

using testing_support::ReadWholeFile;

std::string Record(const std::string& document, int pages, int cost, const std::string& printer,
                   const std::string& user) {
  return "\r\n<event><day>09</day><month>03</month><year>2006</year><hour>23</hour><min>15</min><doc>" +
         document + "</doc><pages>" + std::to_string(pages) + "</pages><cost>" + std::to_string(cost) +
         "</cost><printer>" + printer + "</printer><user>" + user + "</user></event>";
}

}  // namespace

TEST_F(MonitoringRun, FinishedJobsOfMonitoredPrintersGoIntoTheirEighteenFiles) {
  StartHost();
  WaitUntilWatched("Front Desk");
  WaitUntilWatched("Back Office");

  std::string report = Submit("Front Desk", "report.pdf", "ann", 3);
  std::string plan = Submit("Front Desk", "plan & notes.doc", "bob", 2);
  std::string invoice = Submit("Back Office", "invoice.txt", "ann", 4);
  std::string idle = Submit("Idle", "unwatched.txt", "ann", 1);
  ASSERT_EQ(Sim("advance 'Front Desk' " + report + " 2"), 0);
  ASSERT_EQ(Sim("complete 'Front Desk' " + report), 0);
  ASSERT_EQ(Sim("cancel 'Back Office' " + invoice), 0);  // deleted before printing
  ASSERT_EQ(Sim("complete 'Front Desk' " + plan), 0);
  ASSERT_EQ(Sim("complete Idle " + idle), 0);
  std::string queue;
  ASSERT_EQ(Sim("jobs 'Front Desk'", &queue), 0);
  EXPECT_EQ(queue.find("report.pdf"), std::string::npos) << queue;

  auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline && Count(AllDay(), "<event>") < 3u + loggedProbes_) {
    std::this_thread::sleep_for(50ms);
  }
  // A marker job on each printer, finished after the others: once it is
  // logged, its watcher has looked at the queue again since, so a job logged
  // twice would show.
  WaitUntilWatched("Front Desk");
  WaitUntilWatched("Back Office");
  EXPECT_EQ(StopHost(), 0);

  ASSERT_EQ(DayFiles().size(), 1u);
  std::string stamp = DayFiles().front().stem().string().substr(2);  // YYYYMMDD
  std::string year = stamp.substr(0, 4);
  int month = std::stoi(stamp.substr(4, 2));
  int week = 0;
  for (const auto& entry : fs::directory_iterator(app_ / "Logs")) {
    std::string name = entry.path().filename().string();
    if (name.rfind("w_", 0) == 0) week = std::stoi(name.substr(2));
  }
  ASSERT_GT(week, 0);
  auto periodFiles = [&](const fs::path& folder) {
    char mm[3];
    std::snprintf(mm, sizeof mm, "%02d", month);
    return std::vector<fs::path>{
        folder / ("d_" + stamp + ".xml"),
        folder / ("w_" + std::to_string(week) + "_" + year + ".xml"),
        folder / ("m_" + std::string(mm) + "_" + year + ".xml"),
        folder / ("q_" + std::to_string((month - 1) / 3 + 1) + "_" + year + ".xml"),
        folder / ("s_" + std::string(month <= 6 ? "1" : "2") + "_" + year + ".xml"),
        folder / ("y_" + year + ".xml"),
    };
  };

  const std::string reportRecord = Record("report.pdf", 3, 15, "Front Desk", "ann");
  const std::string planRecord = Record("plan  notes.doc", 2, 10, "Front Desk", "bob");
  const std::string invoiceRecord = Record("invoice.txt", 4, 8, "Back Office", "ann");
  struct Scope {
    fs::path folder;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const std::vector<Scope> scopes = {
      {app_ / "Logs", {reportRecord, planRecord, invoiceRecord}, {}},
      {app_ / "Logs" / "Users" / "ann", {reportRecord, invoiceRecord}, {planRecord}},
      {app_ / "Logs" / "Users" / "bob", {planRecord}, {reportRecord, invoiceRecord}},
      {app_ / "Logs" / "Printers" / "Printer_1", {reportRecord, planRecord}, {invoiceRecord}},
      {app_ / "Logs" / "Printers" / "Printer_2", {invoiceRecord}, {reportRecord, planRecord}},
  };
  for (const Scope& scope : scopes) {
    for (const fs::path& file : periodFiles(scope.folder)) {
      ASSERT_TRUE(fs::exists(file)) << file;
      std::string bytes = ReadWholeFile(file);
      EXPECT_EQ(bytes.substr(0, 527), std::string(525, ' ') + "\r\n") << file;
      for (const auto& record : scope.present) EXPECT_EQ(Count(bytes, record), 1u) << file << record;
      for (const auto& record : scope.absent) EXPECT_EQ(Count(bytes, record), 0u) << file << record;
      EXPECT_EQ(Count(bytes, "unwatched.txt"), 0u) << file;
    }
  }
  EXPECT_FALSE(fs::exists(app_ / "Logs" / "Printers" / "Printer_3"));

  std::string catalogue = ReadTextFile((app_ / "settings.xml").string());
  EXPECT_NE(catalogue.find("<username>ann</username>"), std::string::npos);
  EXPECT_NE(catalogue.find("<username>bob</username>"), std::string::npos);
}
