// The time to log one job against the number of users in the catalogue:
// 0, 1,000, 10,000 and 100,000 users, for a user already listed and for a
// user seen for the first time (which rewrites the catalogue and makes the
// user's log folder and files). Every figure
// is printed against the known-user time at 0 users of the same run; the
// new-user time also against the known-user time at the same size.
//
//   log_store_users_bench [JOBS]     JOBS known-user jobs per size (400)
//
// The folders are made in $TMPDIR (/tmp when unset).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/catalogue_cache.h"
#include "common/text_file.h"
#include "engine/app_folder.h"
#include "engine/job_log_store.h"
#include "platform/registry.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPrinters = 3;
constexpr int kRegulars = 20;  // known users the measured jobs rotate over

std::string Catalogue(int users) {
  std::string text = "<log><printers>";
  for (int p = kPrinters; p >= 1; --p) {
    text += "<name>Printer " + std::to_string(p) + "</name><ID>" + std::to_string(p) +
            "</ID><cost>5</cost><monitored>1</monitored>";
  }
  text += "</printers><users>";
  for (int r = 0; r < kRegulars; ++r) text += "<username>regular" + std::to_string(r) + "q</username>";
  for (int u = users; u >= 1; --u) text += "<username>listed" + std::to_string(u) + "q</username>";
  return text + "</users></log>";
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

struct Figures {
  double known = 0;  // us per job, median
  double fresh = 0;
  double catalogueKnown = 0;  // us per catalogue step alone, median
  double catalogueFresh = 0;
  double floor = 0;  // a folder and six files made with the standard library alone
};

Figures Measure(const fs::path& root, int users, int jobs, int newJobs) {
  const fs::path app = root / ("app-" + std::to_string(users));
  fs::create_directories(app);
  engine::SetAppFolder(app.string());
  common::WriteTextFile((app / "settings.xml").string(), Catalogue(users));

  engine::JobLogStore store;
  auto job = [&](int i, const std::string& user) {
    const auto t0 = Clock::now();
    store.Log(8, 12, 2026, 9, 30, "Document " + std::to_string(i) + ".pdf", 3, "5",
              "Printer " + std::to_string(i % kPrinters + 1), user);
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
  };
  // Every regular's log folders and files exist before the clock runs.
  for (int r = 0; r < kRegulars; ++r) job(r, "regular" + std::to_string(r) + "q");

  std::vector<double> known, fresh, floor;
  for (int i = 0; i < jobs; ++i) known.push_back(job(i, "regular" + std::to_string(i % kRegulars) + "q"));
  // The file system's own part of a new user: its folder and six files
  // with a reservation and a record, beside the new users' folders, made
  // alternately with them so that both meet the same file system state.
  const std::string reservation(engine::JobLogStore::kReservation, ' ');
  const std::string record(220, 'r');
  auto plainNewUser = [&](int i) {
    const auto t0 = Clock::now();
    const fs::path folder = app / "Logs" / "Users" / ("plain" + std::to_string(i) + "q");
    fs::create_directory(folder);
    for (const char* name : {"d.xml", "w.xml", "m.xml", "q.xml", "s.xml", "y.xml"}) {
      std::ofstream out(folder / name, std::ios::binary);
      out << reservation << record;
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
  };
  for (int i = 0; i < newJobs; ++i) {
    fresh.push_back(job(i, "newcomer" + std::to_string(i) + "q"));
    floor.push_back(plainNewUser(i));
  }

  // The catalogue step alone (identifier lookup, user check, and for a new
  // user the atomic rewrite), without the eighteen appends and, for a new
  // user, without making its log folder and files.
  common::CatalogueCache cache;
  const std::string path = (app / "settings.xml").string();
  auto step = [&](const std::string& user) {
    const auto t0 = Clock::now();
    cache.PrinterIdRegisteringUser(path, "Printer 2", user);
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
  };
  step("regular0q");
  std::vector<double> catalogueKnown, catalogueFresh;
  for (int i = 0; i < jobs; ++i)
    catalogueKnown.push_back(step("regular" + std::to_string(i % kRegulars) + "q"));
  for (int i = 0; i < newJobs; ++i) catalogueFresh.push_back(step("stranger" + std::to_string(i) + "q"));
  return {Median(known), Median(fresh), Median(catalogueKnown), Median(catalogueFresh), Median(floor)};
}

}  // namespace

int main(int argc, char** argv) {
  const int jobs = argc > 1 ? std::max(20, std::atoi(argv[1])) : 400;
  const int newJobs = std::max(10, jobs / 8);

  // In $TMPDIR when set: where a file system is busy making and removing
  // files, the place decides how long it takes to make new ones.
  std::string tmpl = (fs::temp_directory_path() / "quillmark-bench-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) return 1;
  const fs::path root = tmpl;
  auto registry = platform::MakeFileRegistry(root / "registry");
  platform::Registry::SetDefault(registry.get());

  const int sizes[] = {0, 1000, 10000, 100000};
  // A first pass warms the caches and the file system; it is not printed.
  Measure(root / "warm", 0, jobs / 4, 2);
  std::vector<Figures> figures;
  for (int users : sizes) {
    std::fprintf(stderr, "  %d users...\n", users);
    figures.push_back(Measure(root, users, jobs, newJobs));
  }

  const double base = figures[0].known;
  std::printf(
      "log store per job against users in the catalogue (median of %d known-user and %d new-user jobs)\n",
      jobs, newJobs);
  std::printf("%8s %12s %10s %12s %10s %12s\n", "users", "known us", "x 0 users", "new us", "x 0 users",
              "new x known");
  for (std::size_t i = 0; i < figures.size(); ++i) {
    std::printf("%8d %12.1f %10.2f %12.1f %10.2f %12.2f\n", sizes[i], figures[i].known,
                figures[i].known / base, figures[i].fresh, figures[i].fresh / base,
                figures[i].fresh / figures[i].known);
  }
  std::printf(
      "\ncatalogue step alone (lookup and user check; for a new user, adding it to the copy in memory\n"
      "and handing the flushed atomic rewrite to the background writer)\n");
  std::printf("%8s %12s %10s %12s\n", "users", "known us", "x 0 users", "new us");
  for (std::size_t i = 0; i < figures.size(); ++i) {
    std::printf("%8d %12.1f %10.2f %12.1f\n", sizes[i], figures[i].catalogueKnown,
                figures[i].catalogueKnown / figures[0].catalogueKnown, figures[i].catalogueFresh);
  }
  // Where the file system takes long to make files (a busy file system
  // without a journal searches for inodes not recently freed), this part
  // dominates a new user's job whatever the store does.
  std::printf(
      "\nthe file system's own part of a new user (its folder and six files, standard library alone)\n");
  std::printf("%8s %12s %14s %18s\n", "users", "plain us", "new us - plain", "(new - plain) x known");
  for (std::size_t i = 0; i < figures.size(); ++i) {
    std::printf("%8d %12.1f %14.1f %18.2f\n", sizes[i], figures[i].floor, figures[i].fresh - figures[i].floor,
                (figures[i].fresh - figures[i].floor) / figures[i].known);
  }
  std::printf(
      "targets: known user at 10,000 users <= 1.30 x 0 users (%.2f); new user at 10,000 <= 2.00 x known "
      "(%.2f)\n",
      figures[2].known / base, figures[2].fresh / figures[2].known);

  platform::Registry::SetDefault(nullptr);
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
