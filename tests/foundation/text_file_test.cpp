#include "common/text_file.h"

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/foundation/test_support.h"
#include "tests/support/read_file.h"

namespace {
using testing_support::ReadWholeFile;
}  // namespace

TEST(TextFiles, WrittenWithCrLfAndReadBackWithLf) {
  ScratchRegistry scratch;
  std::string file = (scratch.Folder() / "a.xml").string();
  ASSERT_TRUE(common::WriteTextFile(file, "one\ntwo\n"));
  EXPECT_EQ(ReadWholeFile(file), "one\r\ntwo\r\n");
  EXPECT_EQ(ReadTextFile(file), "one\ntwo\n");
  ASSERT_TRUE(common::AppendTextFile(file, "\nthree"));
  EXPECT_EQ(ReadWholeFile(file), "one\r\ntwo\r\n\r\nthree");
  ASSERT_TRUE(common::ReplaceTextFile(file, "x\ny"));
  EXPECT_EQ(ReadWholeFile(file), "x\r\ny");
  EXPECT_EQ(ReadTextFile((scratch.Folder() / "missing.xml").string()), "");
  EXPECT_EQ(ReadTextFile(scratch.Folder().string()), "");  // a folder is not a file
}

TEST(TextFiles, OnlyCarriageReturnsBeforeALineFeedAreDropped) {
  EXPECT_EQ(common::FromTextMode("a\r\nb\r\n"), "a\nb\n");
  EXPECT_EQ(common::FromTextMode("\r\r\n\r"), "\r\n\r");
  EXPECT_EQ(common::FromTextMode("\rx\n\r"), "\rx\n\r");
  EXPECT_EQ(common::FromTextMode(""), "");
  EXPECT_EQ(common::FromTextMode(std::string("a\0\r\nb", 5)), std::string("a\0\nb", 4));
}

TEST(TextFiles, ConcurrentAppendsNeverInterleave) {
  ScratchRegistry scratch;
  std::string file = (scratch.Folder() / "log.xml").string();
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&, t] {
      std::string record = "\n<event>" + std::string(2000, static_cast<char>('a' + t)) + "</event>";
      for (int i = 0; i < 200; ++i) common::AppendTextFile(file, record);
    });
  }
  for (auto& w : writers) w.join();
  std::string text = ReadTextFile(file);
  std::size_t records = 0, pos = 0;
  while ((pos = text.find("<event>", pos)) != std::string::npos) {
    std::size_t end = text.find("</event>", pos);
    ASSERT_NE(end, std::string::npos);
    std::string body = text.substr(pos + 7, end - pos - 7);
    ASSERT_EQ(body.size(), 2000u);
    ASSERT_EQ(body.find_first_not_of(body[0]), std::string::npos);
    ++records;
    pos = end;
  }
  EXPECT_EQ(records, 800u);
}

TEST(TextFiles, NativePathTurnsBackslashes) {
#if defined(_WIN32)
  // Backslashes are already the separator of Windows paths.
  EXPECT_EQ(common::NativePath("C:\\qm\\Logs\\Users"), "C:\\qm\\Logs\\Users");
#else
  EXPECT_EQ(common::NativePath("/opt/qm\\Logs\\Users"), "/opt/qm/Logs/Users");
#endif
}
