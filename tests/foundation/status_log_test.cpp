#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/log.h"
#include "platform/spooler.h"
#include "platform/status.h"
#include "platform/tls.h"

namespace {

// The platform's own error numbers: Win32 codes on Windows, errno elsewhere.
#if defined(_WIN32)
constexpr int kNoSuchFile = 2;     // ERROR_FILE_NOT_FOUND
constexpr int kNoAccess = 5;       // ERROR_ACCESS_DENIED
constexpr int kReadOnlyDisk = 19;  // ERROR_WRITE_PROTECT
#else
constexpr int kNoSuchFile = ENOENT;
constexpr int kNoAccess = EACCES;
constexpr int kReadOnlyDisk = EROFS;
#endif

using platform::Status;
using platform::StatusCode;

TEST(StatusTest, SystemErrorsKeepTheirNumberContextAndReason) {
  const Status missing = Status::FromSystem(kNoSuchFile, "open /x/Day.xml");
  EXPECT_FALSE(missing.IsOk());
  EXPECT_FALSE(missing);
  EXPECT_TRUE(missing.IsNotFound());
  EXPECT_EQ(missing.SystemError(), kNoSuchFile);
  EXPECT_EQ(missing.ToString(), "open /x/Day.xml: " + platform::SystemErrorText(kNoSuchFile));
  EXPECT_EQ(Status::FromSystem(kNoAccess, "x").Code(), StatusCode::kAccessDenied);
  // A failure whose number was lost is still a failure.
  EXPECT_FALSE(Status::FromSystem(0, "x").IsOk());
  EXPECT_EQ(Status().ToString(), "OK");
  EXPECT_EQ(Status(StatusCode::kUnavailable, "Get-Jobs on Office").ToString(),
            "Get-Jobs on Office: unavailable");
}

TEST(StatusTest, ResultCarriesTheValueOrTheReason) {
  platform::Result<std::string> good(std::string("text"));
  ASSERT_TRUE(good);
  EXPECT_EQ(*good, "text");
  EXPECT_EQ(good->size(), 4u);
  platform::Result<std::string> bad(Status::FromSystem(kNoAccess, "read f"));
  EXPECT_FALSE(bad);
  EXPECT_EQ(bad.Status().Code(), StatusCode::kAccessDenied);
  EXPECT_EQ(bad.ValueOr("none"), "none");
  // An OK status cannot stand for a missing value.
  platform::Result<int> odd{Status()};
  EXPECT_FALSE(odd);
  EXPECT_FALSE(odd.Status().IsOk());
}

TEST(LogTest, OneEventIsOneLineAndDebugLinesAreOffByDefault) {
  std::vector<std::pair<platform::LogLevel, std::string>> lines;
  platform::SetLogSink(
      [&](platform::LogLevel level, std::string_view line) { lines.emplace_back(level, std::string(line)); });
  platform::LogWarning("reply was\r\n554 no\n");
  platform::LogWarning("cannot save mark", Status::FromSystem(kReadOnlyDisk, "write /m"));
  platform::LogDebug("not shown");
  platform::SetLogSink({});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].first, platform::LogLevel::kWarning);
  EXPECT_EQ(lines[0].second, "reply was  554 no");
  EXPECT_EQ(lines[1].second, "cannot save mark: write /m: " + platform::SystemErrorText(kReadOnlyDisk));
}

}  // namespace

namespace {

TEST(StatusTest, StatusErrorIsASystemErrorWithTheWholeStatus) {
  try {
    throw platform::StatusError(Status::FromSystem(kNoSuchFile, "open /x"));
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), kNoSuchFile);
    const auto* full = dynamic_cast<const platform::StatusError*>(&error);
    ASSERT_NE(full, nullptr);
    EXPECT_TRUE(full->Status().IsNotFound());
    EXPECT_EQ(full->Status().Context(), "open /x");
  }
}

}  // namespace

namespace {

// Collects the lines logged while it lives.
class CapturedLog {
 public:
  CapturedLog() {
    platform::SetLogSink([this](platform::LogLevel, std::string_view line) { lines.emplace_back(line); });
  }
  ~CapturedLog() { platform::SetLogSink({}); }
  std::vector<std::string> lines;
};

TEST(LogTest, ARecurringFailureIsToldWhenItStartsChangesAndEnds) {
  CapturedLog log;
  const Status refused = Status::FromSystem(EACCES, "open /x/Logs/d.xml");
  for (int pass = 0; pass < 3; ++pass) platform::LogFailureOnce("logs", "record lost", refused);
  platform::LogFailureOnce("logs", "record lost", Status::FromSystem(ENOSPC, "write /x/Logs/d.xml"));
  platform::LogRecovered("logs", "logging");
  platform::LogRecovered("logs", "logging");
  platform::LogRecovered("never failed", "something else");
  // Failing again after it worked is a new start.
  platform::LogFailureOnce("logs", "record lost", refused);
  platform::LogRecovered("logs", "logging");
  ASSERT_EQ(log.lines.size(), 5u);
  EXPECT_EQ(log.lines[0], "record lost: open /x/Logs/d.xml: " + platform::SystemErrorText(EACCES));
  EXPECT_EQ(log.lines[1], "record lost: write /x/Logs/d.xml: " + platform::SystemErrorText(ENOSPC));
  EXPECT_EQ(log.lines[2], "logging again works");
  EXPECT_EQ(log.lines[3], log.lines[0]);
  EXPECT_EQ(log.lines[4], "logging again works");
}

TEST(StatusTest, PlatformExceptionsKeepTheirTextAndCarryAStatus) {
  const platform::SpoolerError gone(platform::kErrorServerUnavailable, "cannot reach the CUPS server /s",
                                    ENOENT);
  EXPECT_EQ(gone.code(), platform::kErrorServerUnavailable);
  EXPECT_EQ(std::string(gone.what()),
            "cannot reach the CUPS server /s: " + platform::SystemErrorText(ENOENT));
  EXPECT_EQ(gone.Status().Code(), StatusCode::kUnavailable);
  const platform::SpoolerError name(platform::kErrorInvalidPrinterName, "no printer name");
  EXPECT_EQ(std::string(name.what()), "no printer name");
  EXPECT_TRUE(name.Status().IsNotFound());
  // Worded by the library that failed: logged as it is, the reason once.
  const platform::SpoolerError busy(platform::kErrorServerUnavailable,
                                    "CUPS Get-Jobs at /s: Service Unavailable");
  EXPECT_EQ(busy.Status().ToString(), "CUPS Get-Jobs at /s: Service Unavailable");
  EXPECT_EQ(busy.Status().Code(), StatusCode::kUnavailable);
  EXPECT_EQ(gone.Status().ToString(),
            "cannot reach the CUPS server /s: " + platform::SystemErrorText(ENOENT));
  // A TLS failure is a system error too; its text is the TLS library's.
  const platform::TlsError tls("certificate verify failed: self-signed certificate");
  EXPECT_EQ(std::string(tls.what()), "certificate verify failed: self-signed certificate");
  EXPECT_NE(dynamic_cast<const std::system_error*>(&tls), nullptr);
}

}  // namespace
