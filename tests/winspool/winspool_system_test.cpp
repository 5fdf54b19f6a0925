// The Windows spooler backend on the system's own winspool (Windows builds
// only). Under wine the spooler mirrors the print server CUPS_SERVER names;
// QUILLMARK_TEST_PRINTER names a queue there that the test run set up
// (tests/win_e2e/winspool_wine.sh), holding no job of this process.
//
// Wine serves OpenPrinterW, GetPrinterW, EnumPrintersW and
// GetDefaultPrinterW; its EnumJobsW and FindFirstPrinterChangeNotification
// fail without an error number (not implemented), which the backend must
// report as a SpoolerError rather than as an empty queue.

#if defined(_WIN32)

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/spooler.h"
#include "platform/windows/win32.h"
#include "platform/winspool_seam.h"

namespace {

using namespace platform;

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::unique_ptr<Spooler> SystemSpooler() {
  return winspool::MakeWinspoolSpooler(winspool::MakeWinspoolApi());
}

TEST(WinspoolSystem, AnUnknownPrinterIsAnInvalidPrinterName) {
  auto spooler = SystemSpooler();
  try {
    spooler->OpenPrinter("Quillmark test: no such printer");
    FAIL() << "opened a printer that does not exist";
  } catch (const SpoolerError& e) {
    EXPECT_EQ(e.code(), kErrorInvalidPrinterName) << e.what();
  }
  // Enumerating and asking for the default work with or without printers.
  EXPECT_NO_THROW(spooler->EnumPrinters());
  EXPECT_NO_THROW(spooler->DefaultPrinterName());
}

TEST(WinspoolSystem, ATestPrinterIsListedOpenedAndItsQueueAskedFor) {
  const char* name = std::getenv("QUILLMARK_TEST_PRINTER");
  if (!name || !*name) GTEST_SKIP() << "QUILLMARK_TEST_PRINTER names no printer";
  auto spooler = SystemSpooler();

  bool listed = false;
  for (const InstalledPrinter& printer : spooler->EnumPrinters()) listed = listed || printer.name == name;
  EXPECT_TRUE(listed);
  EXPECT_EQ(spooler->DefaultPrinterName(), std::optional<std::string>(name));

  auto printer = spooler->OpenPrinter(name);
  EXPECT_EQ(printer->Name(), name);
  EXPECT_EQ(printer->JobCount(), 0u);
  EXPECT_TRUE(printer->EndedJobs().empty());

  NotifyOptions options;
  options.types.push_back({kJobNotifyType, {kJobNotifyStatus, kJobNotifyTotalPages}});
  if (UnderWine()) {
    EXPECT_THROW(printer->EnumJobs(0, 10), SpoolerError);
    EXPECT_THROW(printer->FindFirstChangeNotification(kPrinterChangeJob, options), SpoolerError);
    return;
  }
  EXPECT_TRUE(printer->EnumJobs(0, 10).empty());
  auto notification = printer->FindFirstChangeNotification(kPrinterChangeJob, options);
  EXPECT_EQ(notification->Wait(std::chrono::milliseconds(50), {}), WaitResult::kTimedOut);
  std::stop_source stop;
  stop.request_stop();
  EXPECT_EQ(notification->Wait(kInfinite, stop.get_token()), WaitResult::kStopped);
}

}  // namespace

#endif  // _WIN32
