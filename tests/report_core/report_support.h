#pragma once

// A temporary application folder for report tests, with log files written
// in the log store's own record format and the installed stylesheets.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/text_file.h"
#include "engine/job_log_store.h"

namespace report_test {

struct Job {
  int day, month, year, hour, minute;
  std::string document;
  std::uint32_t pages;
  long long cost;
  std::string printer, user;
};

// The text of a log file as the log store writes it: the reservation, then
// one record per job (line feeds; written in text mode they become CR LF).
inline std::string LogText(const std::vector<Job>& jobs) {
  std::string text(engine::JobLogStore::kReservation, ' ');
  for (const Job& j : jobs)
    text += engine::FormatEventRecord(j.day, j.month, j.year, j.hour, j.minute, j.document, j.pages, j.cost,
                                      j.printer, j.user);
  return text;
}

class AppFolder {
 public:
  AppFolder() {
    char tmpl[] = "/tmp/quillmark-report-test-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    std::filesystem::create_directories(root_ / "app" / "Logs");
  }
  ~AppFolder() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  AppFolder(const AppFolder&) = delete;
  AppFolder& operator=(const AppFolder&) = delete;

  std::string App() const { return (root_ / "app").string(); }
  std::filesystem::path Root() const { return root_; }
  std::string Logs() const { return (root_ / "app" / "Logs").string(); }

  void InstallStylesheets() const {
    for (const char* sheet : {"printers.xsl", "users.xsl", "style.xsl", "report-layout.xsl"})
      std::filesystem::copy_file(std::filesystem::path(QM_SOURCE_DIR) / "data" / sheet,
                                 root_ / "app" / "Logs" / sheet,
                                 std::filesystem::copy_options::overwrite_existing);
  }

  // Writes a log file (text mode) at `path`, creating its folders.
  static void WriteLog(const std::string& path, const std::vector<Job>& jobs) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    common::WriteTextFile(path, LogText(jobs));
  }

 private:
  std::filesystem::path root_;
};

}  // namespace report_test
