#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/desktop.h"
#include "tests/foundation/test_support.h"
#include "tests/support/read_file.h"

namespace {

namespace fs = std::filesystem;

using testing_support::ReadWholeFile;

bool WaitFor(const fs::path& p) {
  for (int i = 0; i < 200 && !fs::exists(p); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return fs::exists(p);
}

// An opener stand-in that writes down its arguments, then waits at a gate
// (a named pipe) until the test lets it end.
fs::path WriteOpener(const fs::path& dir) {
  fs::path script = dir / "opener";
  std::ofstream out(script);
  out << "#!/bin/sh\n"
      << "printf '%s\\n' \"$#\" \"$@\" > '" << (dir / "args.tmp").string() << "'\n"
      << "mv '" << (dir / "args.tmp").string() << "' '" << (dir / "args").string() << "'\n"
      << "read line < '" << (dir / "gate").string() << "'\n"
      << "echo done > '" << (dir / "done").string() << "'\n";
  out.close();
  fs::permissions(script, fs::perms::owner_all);
  return script;
}

}  // namespace

TEST(DesktopOpener, StartsTheProgramWithTheTargetAsOneArgumentAndDoesNotWait) {
  ScratchRegistry scratch;  // for its temporary folder
  const fs::path dir = scratch.Folder();
  ASSERT_EQ(::mkfifo((dir / "gate").c_str(), 0600), 0);
  auto opener = platform::MakeProgramOpener(WriteOpener(dir).string());

  // Nothing in the target reaches a shell.
  const std::string target = "file:///tmp/a b/c;touch " + (dir / "pwned").string() + "&x='y' $(touch " +
                             (dir / "pwned2").string() + ")";
  ASSERT_TRUE(opener->Open(target));
  ASSERT_TRUE(WaitFor(dir / "args"));
  EXPECT_EQ(ReadWholeFile(dir / "args"), "1\n" + target + "\n");
  EXPECT_FALSE(fs::exists(dir / "pwned"));
  EXPECT_FALSE(fs::exists(dir / "pwned2"));

  // Open came back while the program still waits at its gate.
  EXPECT_FALSE(fs::exists(dir / "done"));
  {
    std::ofstream gate(dir / "gate");
    gate << "go\n";
  }
  EXPECT_TRUE(WaitFor(dir / "done"));
}

TEST(DesktopOpener, AProgramThatCannotStartIsReported) {
  auto opener = platform::MakeProgramOpener("/nonexistent/quillmark-opener");
  const platform::Status opened = opener->Open("https://www.quillmark.example/");
  EXPECT_FALSE(opened);
  // Why, for the log: the program and the system's reason.
  EXPECT_TRUE(opened.IsNotFound()) << opened.ToString();
  EXPECT_NE(opened.ToString().find("/nonexistent/quillmark-opener: No such file or directory"),
            std::string::npos)
      << opened.ToString();
}

TEST(DesktopOpener, TheProcessWideOpenerCanBeReplaced) {
  struct Fake : platform::DesktopOpener {
    platform::Status Open(const std::string&) override { return platform::Status::Ok(); }
  } fake;
  platform::DesktopOpener* previous = platform::DesktopOpener::SetDefault(&fake);
  EXPECT_EQ(&platform::DesktopOpener::Default(), &fake);
  platform::DesktopOpener::SetDefault(previous);
  EXPECT_NE(&platform::DesktopOpener::Default(), &fake);
}
