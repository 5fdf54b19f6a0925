#include "platform/replacement_file.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/anchored_folder.h"
#include "platform/file_system.h"
#include "tests/foundation/test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::ReplacementFile;

std::string RawBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Put(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Bytes that differ at every offset a copy could get wrong: no two 4 KiB
// pages alike.
std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t x = 2463534242u;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return bytes;
}

// A folder on the memory file system, where the kernel cannot copy to the
// disk's file system and the copy falls back to reads and writes.
class ScratchShm {
 public:
  ScratchShm() {
#if !defined(_WIN32)
    char tmpl[] = "/dev/shm/quillmark-test-XXXXXX";
    if (::mkdtemp(tmpl)) folder_ = tmpl;
#endif  // Windows has no memory file system: the copy's fallback goes untested there
  }
  ~ScratchShm() {
    std::error_code ec;
    if (!folder_.empty()) fs::remove_all(folder_, ec);
  }
  ScratchShm(const ScratchShm&) = delete;
  ScratchShm& operator=(const ScratchShm&) = delete;
  bool Ok() const { return !folder_.empty(); }
  const fs::path& Folder() const { return folder_; }

 private:
  fs::path folder_;
};

std::vector<std::string> Leftovers(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string().find(".tmp.") != std::string::npos)
      names.push_back(e.path().filename().string());
  return names;
}

// A copy, an edit over its start and an appended end, put in place of the
// target: the result is those bytes exactly, whether the kernel copied
// them (same file system) or reads and writes did (the source on tmpfs),
// and for sizes around the pieces the copy goes in.
TEST(ReplacementFile, CopyEditAndAppendGiveExactlyTheseBytes) {
  ScratchRegistry scratch;
  std::vector<fs::path> sources = {scratch.Folder()};
  ScratchShm shm;
  if (shm.Ok()) sources.push_back(shm.Folder());
  const fs::path target = scratch.Folder() / "document.xml";
  for (const fs::path& where : sources) {
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{525}, std::size_t{526}, std::size_t{(1u << 20) - 1},
          std::size_t{(1u << 20) + 1}, std::size_t{3u << 20}}) {
      SCOPED_TRACE(where.string() + " " + std::to_string(size));
      const std::string source = Pattern(size);
      Put(where / "source.xml", source);
      Put(target, "old");
      auto file = ReplacementFile::Create(target.string());
      ASSERT_TRUE(file) << file.Status().ToString();
      auto copied = file->CopyFrom((where / "source.xml").string());
      ASSERT_TRUE(copied) << copied.Status().ToString();
      EXPECT_EQ(*copied, size);
      auto head = file->ReadAt(0, 4);
      ASSERT_TRUE(head);
      EXPECT_EQ(*head, source.substr(0, 4));
      ASSERT_TRUE(file->WriteAt(0, "HEAD"));
      ASSERT_TRUE(file->Append("</log>"));
      // Until it is committed the target is the old file.
      EXPECT_EQ(RawBytes(target), "old");
      ASSERT_TRUE(file->Commit(ReplacementFile::OldFile::kRemoveLater));
      std::string expected = source;
      expected.replace(0, std::min<std::size_t>(4, size), "HEAD");
      expected += "</log>";
      EXPECT_EQ(RawBytes(target), expected);
    }
  }
  // The replaced files are removed by the background thread, soon.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Leftovers(scratch.Folder()).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(Leftovers(scratch.Folder()), std::vector<std::string>{});
}

TEST(ReplacementFile, AReaderOfTheOldFileReadsItWholeAfterTheReplacement) {
  ScratchRegistry scratch;
  const fs::path target = scratch.Folder() / "document.xml";
  const std::string old = Pattern(2u << 20);
  Put(target, old);
  // Opened as the programs open files (shared for deletion on Windows,
  // which a standard stream there is not).
  platform::InputFile reader(target.string());
  auto file = ReplacementFile::Create(target.string());
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->Append("new"));
  const platform::Status committed = file->Commit(ReplacementFile::OldFile::kRemoveLater);
  ASSERT_TRUE(committed) << committed.ToString();
  std::string seen(old.size() + 1, '\0');
  seen.resize(reader.Read(seen.data(), seen.size()));
  EXPECT_EQ(seen, old);
  EXPECT_EQ(RawBytes(target), "new");
}

TEST(ReplacementFile, DroppedUncommittedLeavesTheTargetAndNothingElse) {
  ScratchRegistry scratch;
  const fs::path target = scratch.Folder() / "settings.xml";
  Put(target, "before");
#if !defined(_WIN32)
  ::chmod(target.c_str(), 0640);
#endif
  {
    auto file = ReplacementFile::Create(target.string());
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Append("after"));
    EXPECT_EQ(Leftovers(scratch.Folder()).size(), 1u);
  }
  EXPECT_EQ(RawBytes(target), "before");
  EXPECT_EQ(Leftovers(scratch.Folder()), std::vector<std::string>{});

  // Committed: the old file's permissions are kept, the content flushed.
  auto file = ReplacementFile::Create(target.string());
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->Append("after"));
  ASSERT_TRUE(file->Flush());
  ASSERT_TRUE(file->Commit());
  EXPECT_EQ(RawBytes(target), "after");
#if !defined(_WIN32)
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
  EXPECT_EQ(Leftovers(scratch.Folder()), std::vector<std::string>{});

  // A source that is missing or not a file is an error, not an empty copy.
  auto again = ReplacementFile::Create(target.string());
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->CopyFrom((scratch.Folder() / "missing.xml").string()).Status().IsNotFound());
  EXPECT_FALSE(again->CopyFrom(scratch.Folder().string()));
  EXPECT_FALSE(ReplacementFile::Create((scratch.Folder() / "no" / "such.xml").string()));
}

// POSIX: links below the data folder need no privilege to make there.
#if !defined(_WIN32)
TEST(ReplacementFile, BelowTheDataFolderNoLinkIsFollowed) {
  ScratchRegistry scratch;
  const fs::path data = scratch.Folder() / "data";
  fs::create_directories(data / "Logs");
  ::chmod(data.c_str(), 0750);
  ::chmod((data / "Logs").c_str(), 0750);
  Put(scratch.Folder() / "secret", "secret");
  fs::create_symlink(scratch.Folder() / "secret", data / "Logs" / "linked.xml");
  fs::create_symlink(scratch.Folder() / "secret", data / "Logs" / "DisplayReport.xml");
  const std::string previous = platform::DataFolder();
  platform::SetDataFolder(data.string());

  auto file = ReplacementFile::Create((data / "Logs" / "DisplayReport.xml").string());
  ASSERT_TRUE(file) << file.Status().ToString();
  EXPECT_FALSE(file->CopyFrom((data / "Logs" / "linked.xml").string()));
  ASSERT_TRUE(file->Append("mine"));
  ASSERT_TRUE(file->Commit(ReplacementFile::OldFile::kRemoveLater));
  platform::SetDataFolder(previous);

  // The link was replaced, not written through.
  EXPECT_FALSE(fs::is_symlink(data / "Logs" / "DisplayReport.xml"));
  EXPECT_EQ(RawBytes(data / "Logs" / "DisplayReport.xml"), "mine");
  EXPECT_EQ(RawBytes(scratch.Folder() / "secret"), "secret");
}
#endif

}  // namespace
