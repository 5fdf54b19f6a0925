// Watchers that start again log exactly the jobs that ended while none
// ran: after a stop (engine ended, crash, catalogue reload), never those
// that ended while the printer was not monitored, and nothing twice.

#include "engine/catch_up.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "common/text_file.h"
#include "engine/app_folder.h"
#include "engine/job_mark_store.h"
#include "platform/file_system.h"
#include "tests/foundation/test_support.h"
#include "tests/support/app_folder_scope.h"
#include "tests/support/logged_documents.h"
#include "tests/watcher/watcher_support.h"

using platform::sim::SimQueue;
using watcher_test::Job;
using watcher_test::WaitUntil;
using watcher_test::WatchedPrinter;

namespace {

constexpr const char* kLaser = WatchedPrinter::kPrinter;
using Clock = std::chrono::system_clock;

std::multiset<std::string> Documents(WatchedPrinter& w) {
  auto documents = w.book.Documents();
  return {documents.begin(), documents.end()};
}

platform::SpoolJob Ended(std::uint32_t id, Clock::time_point completed) {
  platform::SpoolJob job;
  job.jobId = id;
  job.completed = platform::ToSpoolTime(completed);
  return job;
}

std::set<std::uint32_t> Ids(const std::vector<platform::SpoolJob>& jobs) {
  std::set<std::uint32_t> ids;
  for (const auto& job : jobs) ids.insert(job.jobId);
  return ids;
}

}  // namespace

TEST(CatchUpRules, NewIdsOpenJobsAndLateEndsAreLoggedPausedOnesAreNot) {
  const auto t0 = Clock::from_time_t(1'700'000'000);
  engine::JobMark mark;
  mark.highest = 10;
  mark.open = {7};
  mark.updated = t0;
  std::vector<platform::SpoolJob> ended = {
      Ended(5, t0 - std::chrono::minutes(5)),    // logged before
      Ended(7, t0 + std::chrono::seconds(30)),   // was queued at the mark
      Ended(11, t0 + std::chrono::seconds(40)),  // came after the mark
      Ended(3, t0 + std::chrono::minutes(5)),    // ids started again after the mark
      Ended(9, t0 + std::chrono::seconds(1)),    // within the clock slack: looked at
  };
  EXPECT_EQ(Ids(engine::JobsToCatchUp(mark, {}, ended, t0)), (std::set<std::uint32_t>{3, 7, 11}));
  EXPECT_TRUE(engine::JobsToCatchUp(std::nullopt, {}, ended, t0).empty()) << "a first watch logs no history";
  EXPECT_EQ(Ids(engine::JobsToCatchUp(std::nullopt, {5}, ended, t0)), (std::set<std::uint32_t>{5}))
      << "a job found queued is the watcher's own";

  // A catch-up cut short had logged job 11 already.
  engine::JobMark interrupted = mark;
  interrupted.done = {11};
  EXPECT_EQ(Ids(engine::JobsToCatchUp(interrupted, {}, ended, t0)), (std::set<std::uint32_t>{3, 7}));

  // Paused from t0 + 35 s until t0 + 4 min: job 11 ended then.
  EXPECT_GT(std::chrono::seconds(5), engine::kPauseSlack);
  mark.paused = t0 + std::chrono::seconds(35);
  EXPECT_EQ(Ids(engine::JobsToCatchUp(mark, {}, ended, t0 + std::chrono::minutes(4))),
            (std::set<std::uint32_t>{3, 7}));

  // Monitoring came back at t0 + 40.4 s, and the spooler keeps whole
  // seconds: job 11, stamped t0 + 40 s, may have ended after that and is
  // logged; one stamped a full second before is not.
  EXPECT_EQ(Ids(engine::JobsToCatchUp(mark, {}, ended, t0 + std::chrono::milliseconds(40'400))),
            (std::set<std::uint32_t>{3, 7, 11}));
  EXPECT_EQ(Ids(engine::JobsToCatchUp(mark, {}, ended, t0 + std::chrono::seconds(41))),
            (std::set<std::uint32_t>{3, 7}));

  // The mark after the catch-up: every id seen, only the queued ones open.
  engine::JobMark next = engine::MarkAfterCatchUp(mark, {12, 7}, ended, t0 + std::chrono::minutes(6));
  EXPECT_EQ(next.highest, 12u);
  EXPECT_EQ(next.open, (std::set<std::uint32_t>{12}));
  EXPECT_FALSE(next.paused);

  // Jobs logged while the watcher runs are noted as done, and only that:
  // job 13, below a logged 14 but not yet seen, stays new for a catch-up.
  engine::MarkLogged(next, 14);
  engine::MarkLogged(next, 12);
  EXPECT_EQ(next.highest, 12u);
  EXPECT_EQ(next.done, (std::set<std::uint32_t>{12, 14}));
  std::vector<platform::SpoolJob> later = {Ended(12, t0), Ended(13, t0), Ended(14, t0)};
  EXPECT_EQ(Ids(engine::JobsToCatchUp(next, {}, later, t0)), (std::set<std::uint32_t>{13}));
  EXPECT_EQ(Ids(engine::JobsToCatchUp(next, {14}, later, t0)), (std::set<std::uint32_t>{13}))
      << "a job logged is never logged again, even when found queued";
  // The history read again covers 12 and 14 (the done list shrinks), not
  // a job logged that it no longer holds.
  engine::MarkLogged(next, 20);
  engine::JobMark after = engine::MarkAfterCatchUp(next, {}, later, t0 + std::chrono::minutes(8));
  EXPECT_EQ(after.highest, 14u);
  EXPECT_EQ(after.done, (std::set<std::uint32_t>{20}));
}

TEST(JobMarks, TheTextRoundTripsAndACutMarkIsNone) {
  engine::JobMark mark;
  mark.highest = 4'000'000'000u;
  mark.open = {1, 99, 3'999'999'999u};
  mark.updated = Clock::from_time_t(1'700'000'000) + std::chrono::milliseconds(123);
  mark.paused = Clock::from_time_t(1'700'000'100);
  mark.done = {5, 6};
  std::string text = engine::FormatJobMark(mark);
  EXPECT_EQ(engine::ParseJobMark(text), mark);
  // A record being appended: any bytes, files that existed and one that
  // did not.
  mark.pending = engine::JobMark::Pending{
      7,
      std::string("\r\n<event><doc>caf\xe9 \x00 x</doc></event>", 36),
      {{"\\Logs\\d_20261208.xml", 525}, {"\\Logs\\Users\\J\xfcrgen 2\\y_2026.xml", std::nullopt}}};
  text = engine::FormatJobMark(mark);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  EXPECT_EQ(engine::ParseJobMark(text), mark);
  EXPECT_FALSE(engine::ParseJobMark(text.substr(0, text.rfind("target") + 10))) << "a cut target";
  EXPECT_FALSE(engine::ParseJobMark(text.substr(0, text.find("updated"))));
  EXPECT_FALSE(engine::ParseJobMark(""));
  EXPECT_FALSE(engine::ParseJobMark("<log>"));
}

TEST(JobMarks, FilesLiveUnderLogsMarksWithCrLfAndOnePerPrinter) {
  ScratchRegistry scratch;
  const testing_support::AppFolderScope appFolder(scratch.Folder());
  engine::FileJobMarkStore store;
  engine::JobMark a;
  a.highest = 3;
  a.updated = Clock::from_time_t(1'700'000'000);
  engine::JobMark b = a;
  b.highest = 8;
  ASSERT_TRUE(store.Save("../../evil", a));
  ASSERT_TRUE(store.Save("___.._evil", b));
  EXPECT_EQ(store.Load("../../evil"), a);
  EXPECT_EQ(store.Load("___.._evil"), b);
  EXPECT_FALSE(store.Load("never"));
  const std::string path = engine::FileJobMarkStore::PathOf("___.._evil");
  EXPECT_EQ(path, (scratch.Folder() / "Logs" / "Marks" / "___.._evil.mark").string());
  auto bytes = platform::ReadFileBytes(path);
  ASSERT_TRUE(bytes);
  EXPECT_NE(bytes->find("quillmark-mark 1\r\n"), std::string::npos);

  // A record about to be appended is noted in the journal beside the mark
  // and read back with it until the mark counts the job as logged; a note
  // cut short is none (nothing had been appended).
  engine::JobMark noted = b;
  noted.sequence = 41;
  noted.pending = engine::JobMark::Pending{9, "\r\n<event/>", {{"\\Logs\\y_2026.xml", 525}}};
  ASSERT_TRUE(store.Save("___.._evil", b));
  ASSERT_TRUE(store.NotePending("___.._evil", noted));
  EXPECT_FALSE(store.Load("___.._evil")->pending) << "a note for another mark than the one saved";
  engine::JobMark saved = noted;
  saved.pending.reset();
  ASSERT_TRUE(store.Save("___.._evil", saved));
  EXPECT_EQ(store.Load("___.._evil"), noted);
  const std::string journal = engine::FileJobMarkStore::JournalOf("___.._evil");
  auto whole = platform::ReadFileBytes(journal);
  ASSERT_TRUE(whole);
  ASSERT_TRUE(platform::WriteFileBytes(journal, whole->substr(0, whole->size() - 3)));
  EXPECT_EQ(store.Load("___.._evil"), saved);
  ASSERT_TRUE(platform::WriteFileBytes(journal, *whole));
  saved.sequence = 42;  // the job logged
  ASSERT_TRUE(store.Save("___.._evil", saved));
  EXPECT_EQ(store.Load("___.._evil"), saved);
  EXPECT_FALSE(store.Load("../../evil")->pending) << "one journal per printer";
  engine::SetAppFolder("");
}

TEST(CatchUp, JobsThatEndedWhileTheWatcherWasStoppedAreLoggedOnceOnItsReturn) {
  WatchedPrinter w;
  w.Start();
  std::uint32_t held = w.sim.Submit(kLaser, Job("held", "ann", 2));
  w.sim.Edit(kLaser, [&](SimQueue& q) { q.Complete(q.Submit(Job("before", "ann", 1))); });
  ASSERT_TRUE(w.book.WaitFor(1));
  ASSERT_TRUE(WaitUntil([&] { return w.marks->Load(kLaser).has_value(); }));
  w.watcher->Stop();

  // While no watcher runs: a job queued all along ends, new ones come and
  // go, one stays.
  w.sim.Complete(kLaser, held);
  w.sim.Edit(kLaser, [&](SimQueue& q) {
    q.Complete(q.Submit(Job("printed meanwhile", "bob", 3)));
    q.Cancel(q.Submit(Job("cancelled meanwhile", "bob", 4)));
  });
  std::uint32_t later = w.sim.Submit(kLaser, Job("still queued", "cyd", 5));

  w.Start();
  ASSERT_TRUE(w.book.WaitFor(4));
  w.sim.Complete(kLaser, later);
  ASSERT_TRUE(w.book.WaitFor(5));
  // A stop and start with nothing new logs nothing again.
  w.watcher->Stop();
  w.Start();
  w.sim.Edit(kLaser, [&](SimQueue& q) { q.Complete(q.Submit(Job("marker", "m", 1))); });
  ASSERT_TRUE(w.book.WaitFor(6));
  EXPECT_EQ(Documents(w), (std::multiset<std::string>{"before", "held", "printed meanwhile",
                                                      "cancelled meanwhile", "still queued", "marker"}));
  for (const auto& entry : w.book.Entries()) {
    if (entry.document == "printed meanwhile") {
      EXPECT_EQ(entry.pages, 3u);
    }
    if (entry.document == "held") {
      EXPECT_EQ(entry.user, "ann");
    }
  }
}

TEST(CatchUp, JobsThatEndWhileThePrinterIsNotMonitoredAreNeverLogged) {
  WatchedPrinter w;
  w.Start();
  std::uint32_t first = w.sim.Submit(kLaser, Job("monitored", "ann", 1));
  std::uint32_t second = w.sim.Submit(kLaser, Job("unmonitored", "ann", 1));
  std::uint32_t third = w.sim.Submit(kLaser, Job("monitored again", "ann", 1));
  ASSERT_TRUE(WaitUntil([&] { return w.marks->Load(kLaser).has_value(); }));

  w.watcher->Stop();  // crashed: the next ending is still counted
  w.sim.Complete(kLaser, first);
  const auto off = Clock::now();
  w.watcher->Suspend(off);  // monitoring switched off
  // Clearly after the switch.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  w.sim.Complete(kLaser, second);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  w.watcher->SetMonitoringSince(Clock::now());
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  w.sim.Complete(kLaser, third);  // after monitoring came back, before the watcher
  w.Start();
  ASSERT_TRUE(w.book.WaitFor(2));
  w.sim.Edit(kLaser, [&](SimQueue& q) { q.Complete(q.Submit(Job("marker", "m", 1))); });
  ASSERT_TRUE(w.book.WaitFor(3));
  EXPECT_EQ(Documents(w), (std::multiset<std::string>{"monitored", "monitored again", "marker"}));
  EXPECT_FALSE(w.marks->Load(kLaser)->paused) << "the pause is over once caught up";
}

TEST(CatchUp, AFirstWatchLogsNothingFromBeforeAndAnUnreadableHistoryIsReadAgain) {
  WatchedPrinter w;
  w.sim.Edit(kLaser, [&](SimQueue& q) { q.Complete(q.Submit(Job("long ago", "ann", 1))); });
  w.Start();
  w.sim.Edit(kLaser, [&](SimQueue& q) { q.Complete(q.Submit(Job("now", "ann", 1))); });
  ASSERT_TRUE(w.book.WaitFor(1));
  w.watcher->Stop();
  EXPECT_EQ(Documents(w), (std::multiset<std::string>{"now"}));

  // The history cannot be read: the watcher keeps trying, then catches up.
  w.sim.Edit(kLaser, [&](SimQueue& q) { q.Complete(q.Submit(Job("while down", "ann", 1))); });
  w.sim.FailNext(platform::sim::SimCall::kEndedJobs, platform::kErrorServerUnavailable, 2);
  w.Start();
  ASSERT_TRUE(w.book.WaitFor(2));
  EXPECT_EQ(Documents(w), (std::multiset<std::string>{"now", "while down"}));
}

// A catch-up cut short (engine killed, or stopped by a reload) after
// monitoring came back: the next one, started later, passes over the spell
// without monitoring only, not the jobs that ended after monitoring came
// back and before it started.
TEST(CatchUp, ACatchUpCutShortKeepsTheSpellWithoutMonitoringToItsTrueEnd) {
  std::optional<engine::JobMark> cut;  // the mark when the first job is logged
  std::shared_ptr<engine::MemoryJobMarkStore> marks;
  WatchedPrinter w(WatchedPrinter::Fast(), [&] {
    if (!cut) cut = marks->Load(kLaser);
  });
  marks = w.marks;
  w.Start();
  std::uint32_t first = w.sim.Submit(kLaser, Job("monitored", "ann", 1));
  std::uint32_t second = w.sim.Submit(kLaser, Job("unmonitored", "ann", 1));
  std::uint32_t third = w.sim.Submit(kLaser, Job("monitored again", "ann", 1));
  ASSERT_TRUE(WaitUntil([&] { return w.marks->Load(kLaser).has_value(); }));
  w.watcher->Stop();
  w.watcher->Suspend(Clock::now());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // clearly after the switch
  w.sim.Complete(kLaser, second);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  w.watcher->SetMonitoringSince(Clock::now());
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  w.sim.Complete(kLaser, first);
  w.sim.Complete(kLaser, third);
  w.Start();
  ASSERT_TRUE(w.book.WaitFor(2));
  ASSERT_TRUE(cut);
  EXPECT_FALSE(cut->paused);
  EXPECT_EQ(cut->pauses.size(), 1u) << "the spell is noted with its end before anything is logged";

  // The engine was killed right then; the next watcher starts a good while
  // after monitoring came back.
  w.watcher->Stop();
  w.marks->Save(kLaser, *cut);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  w.watcher->SetMonitoringSince(Clock::now());
  w.Start();
  ASSERT_TRUE(w.book.WaitFor(4));
  w.sim.Edit(kLaser, [&](SimQueue& q) { q.Complete(q.Submit(Job("marker", "m", 1))); });
  ASSERT_TRUE(w.book.WaitFor(5));
  EXPECT_EQ(Documents(w), (std::multiset<std::string>{"monitored", "monitored again", "monitored",
                                                      "monitored again", "marker"}));
}

// The real log store and mark files: an engine killed while it appended a
// job's record to its eighteen files leaves a mark that names the record
// and the files; the next watcher completes the record where it is missing
// or cut short (in files that existed and in files the record was to
// create) and does not log the job again.
TEST(CatchUp, ARecordCutShortByACrashIsCompletedWhereMissingAndNeverRepeated) {
  ScratchRegistry scratch;
  const std::filesystem::path app = scratch.Folder() / "app";
  std::filesystem::create_directories(app);
  engine::SetAppFolder(app.string());
  common::WriteTextFile((app / "settings.xml").string(),
                        "<log><printers><name>Laser</name><ID>1</ID><cost>1</cost><monitored>1</monitored>"
                        "</printers></log>");
  platform::sim::SimSpooler sim;
  sim.AddPrinter(kLaser);
  auto marks = std::make_shared<engine::FileJobMarkStore>();
  std::optional<engine::JobMark::Pending> seen;  // the last record noted before its appends
  auto store = std::make_unique<engine::JobLogStore>();
  auto watcher =
      std::make_unique<engine::PrinterWatcher>(&sim, std::move(store), WatchedPrinter::Fast(), marks);
  watcher->Configure(kLaser, "1");
  watcher->Start();
  ASSERT_TRUE(WaitUntil([&] { return marks->Load(kLaser).has_value(); }));
  sim.Edit(kLaser, [&](SimQueue& q) { q.Complete(q.Submit(Job("first", "ann", 1))); });
  ASSERT_TRUE(WaitUntil([&] { return testing_support::LoggedDocuments(app)["first"] == 1; }));
  ASSERT_TRUE(WaitUntil([&] {
    auto m = marks->Load(kLaser);
    return m && !m->pending && m->highest >= 1;
  }));
  const engine::JobMark before = *marks->Load(kLaser);
  std::uint32_t cutId = 0;
  sim.Edit(kLaser, [&](SimQueue& q) { q.Complete(cutId = q.Submit(Job("cut", "bob", 2))); });
  ASSERT_TRUE(WaitUntil([&] { return testing_support::LoggedDocuments(app)["cut"] == 1; }));
  watcher->Stop();

  // What the kill left: the mark as it was when the record was noted, and
  // the record in only some of its files. Bob's files came with it.
  std::vector<std::string> files;
  for (const std::string& file : platform::ListFilesBelow((app / "Logs").string(), ".xml")) {
    if (file.find("/Users/ann/") == std::string::npos) files.push_back(file);
  }
  ASSERT_EQ(files.size(), 18u);
  engine::JobMark::Pending pending;
  pending.jobId = cutId;
  std::map<std::string, std::string> originals;  // each file as the whole record left it
  int n = 0;
  for (const std::string& file : files) {
    const std::string bytes = *platform::ReadFileBytes(file);
    const std::size_t at = bytes.rfind("\r\n<event>");
    ASSERT_NE(at, std::string::npos);
    ASSERT_NE(bytes.find("<doc>cut</doc>", at), std::string::npos) << file;
    pending.record = bytes.substr(at);
    const std::string relative = "\\" + std::filesystem::relative(file, app).string();
    const bool created = file.find("/Users/bob/") != std::string::npos;
    pending.targets.push_back({relative, created ? std::nullopt : std::optional<std::uint64_t>(at)});
    originals[file] = bytes;
    if (created && n % 2 == 0) {
      std::filesystem::remove(file);
    } else if (!created && n % 3 == 1) {
      std::filesystem::resize_file(file, at);
    } else if (n % 3 == 2) {
      // A write the kill ended between two pages of the file.
      std::filesystem::resize_file(file, at + pending.record.size() / 2);
    }
    ++n;
  }
  for (auto& target : pending.targets) {
    for (char& c : target.path) {
      if (c == '/') c = '\\';
    }
  }
  engine::JobMark crashed = before;
  crashed.pending = pending;
  ASSERT_TRUE(marks->Save(kLaser, before));
  ASSERT_TRUE(marks->NotePending(kLaser, crashed));
  ASSERT_EQ(marks->Load(kLaser), crashed);

  watcher = std::make_unique<engine::PrinterWatcher>(&sim, std::make_unique<engine::JobLogStore>(),
                                                     WatchedPrinter::Fast(), marks);
  watcher->Configure(kLaser, "1");
  watcher->Start();
  sim.Edit(kLaser, [&](SimQueue& q) { q.Complete(q.Submit(Job("marker", "m", 1))); });
  ASSERT_TRUE(WaitUntil([&] { return testing_support::LoggedDocuments(app)["marker"] == 1; }));
  watcher->Stop();
  for (const std::string& file : files) {
    const std::string bytes = *platform::ReadFileBytes(file);
    EXPECT_EQ(bytes.find("<doc>cut</doc>"), bytes.rfind("<doc>cut</doc>")) << file << " has it twice";
    EXPECT_NE(bytes.find(pending.record), std::string::npos) << file << " lacks it";
    EXPECT_EQ(bytes.find("\r\n<event>"), engine::JobLogStore::kReservation) << file;
    EXPECT_EQ(bytes.substr(0, originals[file].size()), originals[file]) << file << " is not as it was";
  }
  EXPECT_EQ(testing_support::LoggedDocuments(app),
            (std::map<std::string, int>{{"first", 1}, {"cut", 1}, {"marker", 1}}));
  auto mark = marks->Load(kLaser);
  ASSERT_TRUE(mark);
  EXPECT_FALSE(mark->pending);
  engine::SetAppFolder("");
}
