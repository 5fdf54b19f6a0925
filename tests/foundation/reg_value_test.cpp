#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "tests/foundation/test_support.h"

using common::QuillmarkValue;
using platform::Hive;
using platform::RegType;

namespace {

// Counts how often the value file was replaced, by its inode changing.
std::uint32_t StoredDword(platform::Registry& reg, const char* name, bool* exists = nullptr) {
  auto key = reg.OpenKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyRead);
  std::uint32_t v = 0, size = 4;
  bool ok = key && (*key)->QueryValue(name, nullptr, &v, &size).IsOk();
  if (exists) *exists = ok;
  return v;
}

ino_t Inode(const ScratchRegistry& s, const char* file) {
  struct stat st {};
  auto path = s.RegistryRoot() / "HKLM" / "software" / "quillmark" / file;
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

TEST(RegValuePaths, SplitIntoKeyPathAndValueName) {
  ScratchRegistry scratch;
  struct Case {
    const char* full;
    const char* key;
    const char* name;
  } cases[] = {
      {"Software\\Quillmark\\Monitoring", "Software\\Quillmark", "Monitoring"},
      {"Software\\Quillmark\\\\Monitoring", "Software\\Quillmark", "Monitoring"},
      {"\\\\Software\\Quillmark\\Monitoring", "Software\\Quillmark", "Monitoring"},
      {"Software\\Quillmark\\", "Software\\Quillmark", ""},
      {"Monitoring", "", "Monitoring"},
  };
  for (const auto& c : cases) {
    CRegDword value(c.full);
    EXPECT_EQ(value.KeyPath(), c.key) << c.full;
    EXPECT_EQ(value.ValueName(), c.name) << c.full;
  }
}

TEST(RegValueNumbers, CachingAndWritingRules) {
  ScratchRegistry scratch;
  auto& reg = scratch.Registry();

  // Missing: the default every time, and nothing is created by Set(0).
  CRegDword missing(QuillmarkValue("Monitoring"), 7);
  EXPECT_EQ(missing.Get(), 7u);
  EXPECT_FALSE(missing.ReadOnce());
  CRegDword zero(QuillmarkValue("Monitoring"));
  zero.Set(0);
  EXPECT_TRUE(
      reg.OpenKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyRead).Status().IsNotFound());

  // Set(1) creates the key path and the value.
  zero.Set(1);
  bool exists = false;
  EXPECT_EQ(StoredDword(reg, "Monitoring", &exists), 1u);
  EXPECT_TRUE(exists);

  // Unchanged Set writes nothing; Set then Write always writes.
  ino_t before = Inode(scratch, "=monitoring");
  zero.Set(1);
  EXPECT_EQ(Inode(scratch, "=monitoring"), before);
  zero.Set(1).Write();
  EXPECT_NE(Inode(scratch, "=monitoring"), before);

  // A read-once object keeps its cache; another process' change shows in a
  // fresh object or one that always re-reads.
  CRegDword cached(QuillmarkValue("Monitoring"));
  CRegDword live(QuillmarkValue("Monitoring"), 0, true);
  CRegDword(QuillmarkValue("Monitoring")).Set(5);
  EXPECT_EQ(cached.Get(), 1u);
  EXPECT_EQ(live.Get(), 5u);
  EXPECT_EQ(CRegDword(QuillmarkValue("Monitoring")).Get(), 5u);
}

TEST(RegValueNumbers, TextLongerThanFourBytesReadsAsDefault) {
  ScratchRegistry scratch;
  CRegString(QuillmarkValue("Monitoring")).Set("12345678");
  EXPECT_EQ(CRegDword(QuillmarkValue("Monitoring"), 3).Get(), 3u);
}

TEST(RegValueTexts, CachingAndWritingRules) {
  ScratchRegistry scratch;
  CRegString empty(QuillmarkValue("ToSendDay"));
  empty.Set("");
  EXPECT_TRUE(scratch.Registry()
                  .OpenKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyRead)
                  .Status()
                  .IsNotFound());
  EXPECT_EQ(CRegString(QuillmarkValue("ToSendDay"), "dflt").Get(), "dflt");

  CRegString day(QuillmarkValue("ToSendDay"));
  day.Set("20061205");
  ino_t first = Inode(scratch, "=tosendday");
  day.Set("20061205");
  EXPECT_EQ(Inode(scratch, "=tosendday"), first);
  EXPECT_EQ(CRegString(QuillmarkValue("tosendday")).Get(), "20061205");

  // Stored as the text plus its terminating zero; case-sensitive compare.
  day.Set("20061205X");
  auto key =
      scratch.Registry().OpenKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyRead).Value();
  std::uint32_t size = 0;
  key->QueryValue("ToSendDay", nullptr, nullptr, &size);
  EXPECT_EQ(size, 10u);

  // A text with an embedded zero reads up to the zero.
  auto wkey =
      scratch.Registry().CreateKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyWrite).Value();
  wkey->SetValue("SMTPName", RegType::kSz, "ab\0cd", 6);
  EXPECT_EQ(CRegString(QuillmarkValue("SMTPName")).Get(), "ab");
}

TEST(RegValueTexts, AValueWithNoBytesReadsAsEmptyText) {
  ScratchRegistry scratch;
  auto key =
      scratch.Registry().CreateKey(Hive::kLocalMachine, "Software\\Quillmark", platform::kKeyWrite).Value();
  ASSERT_NE(key, nullptr);
  ASSERT_EQ((key->SetValue("SMTPName", RegType::kSz, nullptr, 0)).Code(), platform::StatusCode::kOk);
  EXPECT_EQ(CRegString(QuillmarkValue("SMTPName"), "dflt").Get(), "");
}
