// A registry of the test's own (the file-backed store on POSIX, the
// system's registry through its API on Windows): values round trip with
// their types, Latin-1 text stays Latin-1, sizes are asked as the
// registry's callers ask them, and a watch wakes on a write and ends at
// a stop request.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <stop_token>
#include <thread>

#include "platform/registry.h"
#include "tests/foundation/test_support.h"

namespace {

using namespace std::chrono_literals;
using platform::Hive;
using platform::RegType;
using platform::StatusCode;

constexpr const char* kKey = "Software\\Quillmark";

TEST(RegistryRoundTrip, ValuesKeepTypeAndBytes) {
  ScratchRegistry scratch;
  auto& registry = platform::Registry::Default();
  auto key = registry.CreateKey(Hive::kLocalMachine, kKey, platform::kKeyWrite);
  ASSERT_TRUE(key);

  const std::string text = "Z\xFCrich \xE9t\xE9";  // Latin-1
  const std::string withNul = text + '\0';
  ASSERT_EQ(
      ((*key)->SetValue("SMTPSRV", RegType::kSz, withNul.data(), static_cast<std::uint32_t>(withNul.size())))
          .Code(),
      StatusCode::kOk);
  const std::uint32_t dword = 0xA1B2C3D4;
  ASSERT_EQ(((*key)->SetValue("Monitoring", RegType::kDword, &dword, 4)).Code(), StatusCode::kOk);
  const char binary[] = {'\0', '\xFF', '\x10'};
  ASSERT_EQ(((*key)->SetValue("Blob", RegType::kBinary, binary, 3)).Code(), StatusCode::kOk);

  auto reader = registry.OpenKey(Hive::kLocalMachine, "software\\QUILLMARK", platform::kKeyRead);
  ASSERT_TRUE(reader) << "key paths are case-insensitive";
  std::uint32_t size = 0;
  RegType type = RegType::kNone;
  ASSERT_EQ(((*reader)->QueryValue("smtpsrv", &type, nullptr, &size)).Code(), StatusCode::kOk);
  EXPECT_EQ(type, RegType::kSz);
  EXPECT_EQ(size, withNul.size()) << "one byte per Latin-1 character, the NUL included";
  std::string small(3, '\0');
  std::uint32_t smallSize = 3;
  EXPECT_EQ(((*reader)->QueryValue("SMTPSRV", nullptr, small.data(), &smallSize)).Code(),
            StatusCode::kMoreData);
  EXPECT_EQ(smallSize, withNul.size());
  std::string data(size, '\0');
  ASSERT_EQ(((*reader)->QueryValue("SMTPSRV", nullptr, data.data(), &size)).Code(), StatusCode::kOk);
  EXPECT_EQ(data, withNul);

  std::uint32_t readDword = 0;
  size = 4;
  ASSERT_EQ(((*reader)->QueryValue("MONITORING", &type, &readDword, &size)).Code(), StatusCode::kOk);
  EXPECT_EQ(type, RegType::kDword);
  EXPECT_EQ(readDword, dword);

  char readBinary[3] = {};
  size = 3;
  ASSERT_EQ(((*reader)->QueryValue("Blob", &type, readBinary, &size)).Code(), StatusCode::kOk);
  EXPECT_EQ(type, RegType::kBinary);
  EXPECT_EQ(std::memcmp(readBinary, binary, 3), 0);

  auto values = (*reader)->Values();
  std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].name, "Blob");
  EXPECT_EQ(values[1].name, "Monitoring");
  EXPECT_EQ(values[2].name, "SMTPSRV");
  EXPECT_EQ(values[2].data, withNul);
  EXPECT_TRUE((*reader)->ValueWriteTime("Monitoring"));
  EXPECT_FALSE((*reader)->ValueWriteTime("Missing"));

  EXPECT_EQ(((*key)->DeleteValue("Blob")).Code(), StatusCode::kOk);
  EXPECT_EQ(((*key)->DeleteValue("Blob")).Code(), StatusCode::kNotFound);
  EXPECT_EQ(((*reader)->QueryValue("Blob", nullptr, nullptr, &size)).Code(), StatusCode::kNotFound);
}

TEST(RegistryRoundTrip, KeysAreCreatedListedAndDeletedWithEverythingBelow) {
  ScratchRegistry scratch;
  auto& registry = platform::Registry::Default();
  EXPECT_FALSE(registry.OpenKey(Hive::kLocalMachine, "Software\\Quillmark\\Printers", platform::kKeyRead));
  auto deep = registry.CreateKey(Hive::kLocalMachine, "Software\\Quillmark\\Printers\\Laser \xC9tage",
                                 platform::kKeyWrite);
  ASSERT_TRUE(deep);
  const std::uint32_t one = 1;
  ASSERT_EQ(((*deep)->SetValue("Cost", RegType::kDword, &one, 4)).Code(), StatusCode::kOk);
  ASSERT_TRUE(registry.CreateKey(Hive::kLocalMachine, "Software\\Quillmark\\Users", platform::kKeyWrite));

  auto top = registry.OpenKey(Hive::kLocalMachine, kKey, platform::kKeyRead);
  ASSERT_TRUE(top);
  // Key names are case-insensitive; the file-backed store keeps them folded.
  auto subKeys = (*top)->SubKeys();
  for (auto& name : subKeys)
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::sort(subKeys.begin(), subKeys.end());
  EXPECT_EQ(subKeys, (std::vector<std::string>{"printers", "users"}));

  EXPECT_EQ((registry.DeleteKey(Hive::kLocalMachine, "Software\\Quillmark\\Printers")).Code(),
            StatusCode::kOk);
  EXPECT_FALSE(registry.OpenKey(Hive::kLocalMachine, "Software\\Quillmark\\Printers\\Laser \xC9tage",
                                platform::kKeyRead));
  EXPECT_EQ((registry.DeleteKey(Hive::kLocalMachine, "Software\\Quillmark\\Printers")).Code(),
            StatusCode::kNotFound);
  EXPECT_TRUE(registry.OpenKey(Hive::kLocalMachine, "Software\\Quillmark\\Users", platform::kKeyRead));
  // The hives are kept apart.
  EXPECT_FALSE(registry.OpenKey(Hive::kCurrentUser, "Software\\Quillmark\\Users", platform::kKeyRead));
}

TEST(RegistryWatchValues, AWriteWakesTheWaiterAndAStopEndsTheWait) {
  ScratchRegistry scratch;
  auto& registry = platform::Registry::Default();
  auto key = registry.CreateKey(Hive::kLocalMachine, kKey, platform::kKeyWrite);
  ASSERT_TRUE(key);
  auto watch = registry.WatchValues(Hive::kLocalMachine, kKey, {"Reset"});
  ASSERT_TRUE(watch);

  // Nothing written: the wait times out.
  EXPECT_FALSE(watch->Wait(200ms, {}));

  // A write made before the wait is not lost.
  const std::uint32_t one = 1;
  ASSERT_EQ(((*key)->SetValue("Reset", RegType::kDword, &one, 4)).Code(), StatusCode::kOk);
  EXPECT_TRUE(watch->Wait(5s, {}));

  // A write while waiting wakes the waiter.
  std::jthread writer([&] {
    std::this_thread::sleep_for(100ms);
    const std::uint32_t two = 2;
    (*key)->SetValue("Reset", RegType::kDword, &two, 4);
  });
  EXPECT_TRUE(watch->Wait(10s, {}));
  writer.join();

  // A stop request ends a long wait at once.
  std::stop_source stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(100ms);
    stop.request_stop();
  });
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(watch->Wait(60s, stop.get_token()));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
}

}  // namespace
