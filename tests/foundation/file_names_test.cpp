// Latin-1 path text and the system's UTF-8 file names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file_system.h"
#include "tests/foundation/test_support.h"
#include "tests/support/read_file.h"

namespace {

namespace fs = std::filesystem;

using testing_support::ReadWholeFile;

// The names in `folder` as the system stores them.
std::vector<std::string> SystemNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FileNames, NewNamesAreMadeInUtf8AndFoundAgain) {
  ScratchRegistry scratch;
  const std::string base = scratch.Folder().string();
  const std::string folder = base + "/J\xFCrgen";  // Latin-1 text
  ASSERT_TRUE(platform::CreateFolder(folder));
  ASSERT_TRUE(platform::WriteFileBytes(folder + "/d_\xE9t\xE9.xml", "one"));
  ASSERT_TRUE(platform::AppendFileBytes(folder + "/d_\xE9t\xE9.xml", "+two"));
  EXPECT_EQ(SystemNames(scratch.Folder()).back(), "J\xC3\xBCrgen");
  EXPECT_EQ(ReadWholeFile(scratch.Folder() / "J\xC3\xBCrgen" / "d_\xC3\xA9t\xC3\xA9.xml"), "one+two");
  EXPECT_EQ(platform::ReadFileBytes(folder + "/d_\xE9t\xE9.xml").ValueOr(""), "one+two");
  EXPECT_TRUE(platform::FileExists(folder));

  // The listing gives the same Latin-1 text back, fit to be used again.
  const auto listed = platform::ListFilesBelow(base, ".xml");
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0], folder + "/d_\xE9t\xE9.xml");
  EXPECT_TRUE(platform::ForceRemoveFile(listed[0]));
  EXPECT_FALSE(platform::FileExists(listed[0]));
}

TEST(FileNames, FoldersWrittenWithRawLatin1BytesStayInUse) {
  // A log folder made before names were converted: raw Latin-1 bytes.
  ScratchRegistry scratch;
  const std::string base = scratch.Folder().string();
  fs::create_directory(scratch.Folder() / "J\xFCrgen");
  std::ofstream(scratch.Folder() / "J\xFCrgen" / "y_2006.xml", std::ios::binary) << "old";

  const std::string folder = base + "/J\xFCrgen";
  EXPECT_FALSE(platform::CreateFolder(folder)) << "it exists already";
  EXPECT_EQ(platform::ReadFileBytes(folder + "/y_2006.xml").ValueOr(""), "old");
  ASSERT_TRUE(platform::AppendFileBytes(folder + "/y_2006.xml", "+new", "head"));
  ASSERT_TRUE(platform::AppendFileBytes(folder + "/d_20061205.xml", "rec", "head"));
  EXPECT_EQ(SystemNames(scratch.Folder()), std::vector<std::string>{"J\xFCrgen"}) << "no second folder";
  EXPECT_EQ(ReadWholeFile(scratch.Folder() / "J\xFCrgen" / "y_2006.xml"), "old+new");
  EXPECT_EQ(ReadWholeFile(scratch.Folder() / "J\xFCrgen" / "d_20061205.xml"), "headrec");

  const auto listed = platform::ListFilesBelow(base, ".xml");
  EXPECT_EQ(listed.size(), 2u);
  for (const auto& path : listed) {
    EXPECT_EQ(path.rfind(folder + "/", 0), 0u) << path;
    EXPECT_TRUE(platform::ForceRemoveFile(path)) << path;
  }
  EXPECT_TRUE(fs::is_empty(scratch.Folder() / "J\xFCrgen"));
}

TEST(FileNames, AsciiPathsAndOtherNames) {
  EXPECT_EQ(platform::NativePath("/srv/quillmark/Logs/d_20061205.xml"), "/srv/quillmark/Logs/d_20061205.xml");
  EXPECT_EQ(platform::NativePath("/nowhere/Z\xFCrich/\xE9.xml"), "/nowhere/Z\xC3\xBCrich/\xC3\xA9.xml");
  EXPECT_EQ(platform::NameFromNative("Z\xC3\xBCrich"), "Z\xFCrich");
  EXPECT_EQ(platform::NameFromNative("Z\xFCrich"), "Z\xFCrich");
  EXPECT_EQ(platform::NameFromNative("\xE2\x82\xAC"), std::nullopt) << "the euro sign is no Latin-1";
}

TEST(FileNames, InputFileReadsInPieces) {
  ScratchRegistry scratch;
  const std::string path = (scratch.Folder() / "Z").string() + "\xFCrich.xml";
  ASSERT_TRUE(platform::WriteFileBytes(path, "0123456789"));
  platform::InputFile file(path);
  EXPECT_EQ(file.Size(), 10u);
  char buffer[4];
  EXPECT_EQ(file.Read(buffer, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_EQ(file.Read(buffer, 4), 4u);
  EXPECT_EQ(file.Read(buffer, 4), 2u);
  EXPECT_EQ(std::string(buffer, 2), "89");
  EXPECT_EQ(file.Read(buffer, 4), 0u);

  EXPECT_THROW(platform::InputFile(scratch.Folder().string()), std::system_error) << "a folder";
  const std::string fifo = (scratch.Folder() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(platform::InputFile{fifo}, std::system_error) << "a FIFO nobody writes to";
  EXPECT_FALSE(platform::ReadFileBytes(fifo));
  EXPECT_THROW(platform::InputFile((scratch.Folder() / "none").string()), std::system_error);
}

}  // namespace
